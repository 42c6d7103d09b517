#include "platform/current_process.h"

#include <unistd.h>

namespace platform {

ProcessId CurrentProcessId() {
    return static_cast<ProcessId>(::getpid());
}

}  // namespace platform
