#include <cerrno>
#include <cwchar>
#include <string>

#include "platform/codepage.h"
#include "platform/file_stream.h"

namespace platform {

std::FILE* OpenStreamWide(std::u16string_view windowsPath, std::u16string_view mode) {
    if (!ParseStreamMode(WideToAnsi(mode).c_str()).valid) {
        errno = EINVAL;
        return nullptr;
    }
    // "N": the handle is not inherited by processes the program starts.
    std::wstring hostMode(mode.begin(), mode.end());
    hostMode += L'N';
    std::wstring hostPath(windowsPath.begin(), windowsPath.end());
    return _wfopen(hostPath.c_str(), hostMode.c_str());
}

}  // namespace platform
