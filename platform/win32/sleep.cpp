#include "platform/sleep.h"

#include <windows.h>

namespace platform {

void SleepMs(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace platform
