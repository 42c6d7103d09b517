#include "platform/timestamp.h"

#include <time.h>

#include "platform/win32/file_time.h"

namespace platform {

std::string LocalStamp(std::time_t when) {
    std::tm fields{};
    if (::localtime_s(&fields, &when) != 0)
        return "00/00/00 00:00:00";
    return FormatStamp(fields);
}

std::int64_t NowMs() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return UnixMsFromFileTime(now);
}

}  // namespace platform
