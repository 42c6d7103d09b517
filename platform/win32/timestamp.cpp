#include "platform/timestamp.h"

#include <time.h>

namespace platform {

std::string LocalStamp(std::time_t when) {
    std::tm fields{};
    if (::localtime_s(&fields, &when) != 0)
        return "00/00/00 00:00:00";
    return FormatStamp(fields);
}

}  // namespace platform
