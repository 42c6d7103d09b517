#include "platform/current_process.h"

#include <windows.h>

namespace platform {

ProcessId CurrentProcessId() {
    return static_cast<ProcessId>(::GetCurrentProcessId());
}

std::string CurrentExecutablePath() {
    char path[MAX_PATH + 1];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

}  // namespace platform
