#include "platform/timestamp.h"

#include <time.h>

namespace platform {

std::string LocalStamp(std::time_t when) {
    std::tm fields{};
    if (::localtime_r(&when, &fields) == nullptr)
        return "00/00/00 00:00:00";
    return FormatStamp(fields);
}

std::int64_t NowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace platform
