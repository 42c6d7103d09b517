#include "platform/current_process.h"

#include <unistd.h>

namespace platform {

ProcessId CurrentProcessId() {
    return static_cast<ProcessId>(::getpid());
}

std::string CurrentExecutablePath() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace platform
