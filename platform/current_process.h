// The launcher's own process, as a status view shows it.
//   Win32: GetCurrentProcessId. Linux: getpid. Never blocks, never fails.
#pragma once

#include "platform/process.h"

namespace platform {

ProcessId CurrentProcessId();

}  // namespace platform
