// Running a program and capturing what it writes: for tests that drive the
// real executables end to end, and for the cluster client, which runs the
// workload manager's commands (sbatch, squeue, scancel) this way.
//
// RunAndCapture starts `program` (a host path, or a name looked up in PATH)
// with `arguments`, each reaching the program as one argument, and with our
// environment plus `extraEnvironment` (NAME=VALUE entries that replace or add
// variables). Its standard input is empty; its standard output and error are
// captured separately, in full. Blocks until the program has ended and both
// outputs are closed, or at most `timeLimitMs` (kNoTimeLimit: no limit).
// At the limit the program and every process it started that is still in its
// group are ended, what they wrote so far is kept and `timedOut` is set (a
// program that ended in time while a process it left behind still holds its
// outputs also counts as timed out); the call then returns at once. A
// program that does not answer can therefore never hang the caller.
//   Win32: CreateProcessA with a command line made by JoinCommandLine; only
//          the two pipe ends are inherited.
//          With a time limit the program runs in a job object of its own,
//          which TerminateJobObject ends at the limit.
//   Linux: posix_spawn, no shell. With a time limit the program leads a
//          process group of its own, which SIGKILL ends at the limit (a
//          process that left the group, by setsid, is not ended, but the
//          call returns all the same).
// When the program cannot be started, `started` is false and `reason` says why.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"

namespace platform {

struct CapturedRun {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;  // Linux: 128 + signal for a process killed by a signal
    std::string out;
    std::string err;
    std::string reason;
};

using EnvironmentEntries = std::vector<std::pair<std::string, std::string>>;

CapturedRun RunAndCapture(const std::string& program, const std::vector<std::string>& arguments,
                          const EnvironmentEntries& extraEnvironment = {},
                          std::uint32_t timeLimitMs = kNoTimeLimit);

}  // namespace platform
