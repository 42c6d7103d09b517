#include "platform/timestamp.h"

namespace platform {

std::string LocalStamp(std::time_t when) {
    std::tm fields{};
    if (::localtime_r(&when, &fields) == nullptr)
        return "00/00/00 00:00:00";
    return FormatStamp(fields);
}

}  // namespace platform
