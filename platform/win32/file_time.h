// Win32 only: FILETIME (100 ns units since 1601-01-01 UTC) as the portable
// clock of the host layer, milliseconds since 1970-01-01 UTC.
#pragma once

#include <windows.h>

#include <cstdint>

namespace platform {

// 100 ns units from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kFileTimeOfUnixEpoch = 116444736000000000LL;

inline std::uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline std::int64_t UnixMsFromFileTime(const FILETIME& time) {
    return (static_cast<std::int64_t>(FileTimeValue(time)) - kFileTimeOfUnixEpoch) / 10000;
}

}  // namespace platform
