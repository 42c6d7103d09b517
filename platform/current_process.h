// The launcher's own process, as a status view shows it.
//   Win32: GetCurrentProcessId. Linux: getpid. Never blocks, never fails.
#pragma once

#include <string>

#include "platform/process.h"

namespace platform {

ProcessId CurrentProcessId();

// The full path of this program's executable, as a host path, for handing
// the program itself to another machine's job (a cluster node).
//   Win32: GetModuleFileNameA. Linux: the target of /proc/self/exe.
// Empty when the host cannot tell.
std::string CurrentExecutablePath();

}  // namespace platform
