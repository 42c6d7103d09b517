// Running a program and capturing what it writes, for tests that drive the
// real executables end to end.
//
// RunAndCapture starts `program` (a host path, or a name looked up in PATH)
// with `arguments`, each reaching the program as one argument, and with our
// environment plus `extraEnvironment` (NAME=VALUE entries that replace or add
// variables). Its standard input is empty; its standard output and error are
// captured separately, in full. Blocks until the program has ended.
//   Win32: CreateProcessA with a command line made by JoinCommandLine; only
//          the two pipe ends are inherited.
//   Linux: posix_spawn, no shell.
// When the program cannot be started, `started` is false and `reason` says why.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

struct CapturedRun {
    bool started = false;
    int exitCode = -1;  // Linux: 128 + signal for a process killed by a signal
    std::string out;
    std::string err;
    std::string reason;
};

using EnvironmentEntries = std::vector<std::pair<std::string, std::string>>;

CapturedRun RunAndCapture(const std::string& program, const std::vector<std::string>& arguments,
                          const EnvironmentEntries& extraEnvironment = {});

}  // namespace platform
