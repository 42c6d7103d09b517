#include "platform/file_stream.h"

namespace platform {

StreamMode ParseStreamMode(const char* mode) {
    StreamMode result;
    if (mode == nullptr)
        return result;
    switch (mode[0]) {
        case 'r':
            result.read = true;
            break;
        case 'w':
            result.write = result.create = result.truncate = true;
            break;
        case 'a':
            result.write = result.create = result.append = true;
            break;
        default:
            return result;
    }
    for (const char* p = mode + 1; *p; ++p) {
        switch (*p) {
            case '+':
                result.read = result.write = true;
                break;
            case 'b':
                result.binary = true;
                break;
            case 't':
                result.binary = false;
                break;
            case 'N':  // "not inherited" of the Windows runtime: always true here
            case 'e':
                break;
            default:
                return result;
        }
    }
    result.valid = true;
    return result;
}

}  // namespace platform
