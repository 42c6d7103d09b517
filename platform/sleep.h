// Host sleep.
//
// SleepMs blocks the calling thread for about `milliseconds` (Win32: Sleep;
// Linux: nanosleep, resumed after signals). The batch driver and the retried
// opens do not call it directly: they take a Sleeper, so that tests can pass
// one that returns at once and records the pauses asked for.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

void SleepMs(std::uint32_t milliseconds);

// The pause used by code that waits; the default is the real SleepMs.
using Sleeper = std::function<void(std::uint32_t milliseconds)>;
inline Sleeper RealSleeper() {
    return [](std::uint32_t ms) { SleepMs(ms); };
}

}  // namespace platform
