#include "platform/current_process.h"

#include <windows.h>

namespace platform {

ProcessId CurrentProcessId() {
    return static_cast<ProcessId>(::GetCurrentProcessId());
}

}  // namespace platform
