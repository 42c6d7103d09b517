// Time stamps of the report file: local time as "%m/%d/%y %H:%M:%S"
// (e.g. "12/05/26 18:27:30"), the "%c" of the Windows runtime's default
// locale, written out so that both hosts give the same bytes whatever the
// locale. Never blocks, never fails: a time the host cannot convert gives
// "00/00/00 00:00:00".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// The stamp of broken-down time fields as they stand (no time zone applied).
std::string FormatStamp(const std::tm& fields);
// The stamp of `when` in local time (Win32: localtime_s; Linux: localtime_r).
std::string LocalStamp(std::time_t when);
// The stamp of the current local time.
std::string NowStamp();

// The current time as milliseconds since 1970-01-01 00:00 UTC (a wall clock:
// comparable with file times and between processes, not monotonic).
std::int64_t NowMs();

}  // namespace platform
