// Processes: the snapshot of running programs, waiting for a program that we
// did not start, and starting a Windows command line.
//
// SnapshotProcesses lists every process visible to us with its executable's
// file name. Never blocks.
//   Win32: CreateToolhelp32Snapshot; the name is szExeFile ("Torvane8.exe").
//   Linux: every /proc/<pid>/comm, i.e. the kernel's process name, cut to 15
//          characters (a Windows program under Wine shows its .exe name
//          there). Processes that end during the walk are left out.
// FindProcessByNamePrefix gives the first entry of a snapshot whose name
// begins with `prefix`, ASCII letters compared without regard to case.
//
// WaitForProcessEnd blocks without time-out until the process has ended. A
// process that is gone already (no such process), or that we may not watch,
// "cannot be opened"; one that has ended but still exists (a zombie, or on
// Windows an ended process that someone still holds a handle to) has ended.
//   Win32: OpenProcess(SYNCHRONIZE) + WaitForSingleObject. Only the right to
//          wait is asked for, so that a simulator run by another account can
//          still be waited for.
//   Linux: pidfd_open + poll; where pidfd_open is missing, /proc/<pid> is
//          polled every 100 ms. A zombie counts as ended.
//
// LaunchCommandLine starts a command line, by default waits for it and gives
// its exit code. It fails only when the process cannot be created (creation
// failure: `created` false and the host's reason).
//   Win32: CreateProcessA with the command line as given (the program is found
//          from its first, quoted, token), no inherited handles, our
//          environment and folder. `show` false hides the new window;
//          `minimizeWhileWaiting` minimises `window` during the wait when it
//          is a valid window (a console program has no main window to fall
//          back on, so otherwise nothing is minimised).
//   Linux: the line is split by SplitCommandLine (command_line.h); the first
//          argument is the program (a Windows-form path, through ToHostPath;
//          without a "/" it is looked up in PATH) and the others are passed as
//          they are, with posix_spawn and no shell. A file that is not
//          executable, or that the kernel refuses to run (a script with no
//          "#!" line), is run by /bin/sh. A missing program, a folder, or a
//          program that cannot be started at all is a creation failure. The
//          window options have no effect. A process ended by a signal gives
//          128 + the signal number as its exit code, as a shell reports it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using ProcessId = std::uint32_t;

struct ProcessEntry {
    ProcessId id = 0;
    std::string name;
};

std::vector<ProcessEntry> SnapshotProcesses();
std::optional<ProcessEntry> FindProcessByNamePrefix(std::string_view prefix);

enum class WaitOutcome {
    kEnded,
    kCannotOpen,
};
WaitOutcome WaitForProcessEnd(ProcessId id);

struct LaunchOptions {
    bool wait = true;
    bool show = true;
    bool minimizeWhileWaiting = false;
    void* window = nullptr;  // a window handle (HWND) on Win32
};

struct LaunchResult {
    bool created = false;
    ProcessId id = 0;
    int exitCode = -1;   // only when waited for
    std::string reason;  // why it could not be created
};

LaunchResult LaunchCommandLine(std::string_view commandLine, const LaunchOptions& options = {});

// Waits for a process that LaunchCommandLine started without waiting and
// gives its exit code; nullopt when `id` is not such a process (or was
// already waited for).
std::optional<int> WaitForLaunched(ProcessId id);

// The exit code a process ended by TerminateLaunched reports.
constexpr int kTerminatedExitCode = 128 + 9;

// Ends a process that LaunchCommandLine started without waiting, at once and
// without giving it a chance to clean up, as a crash or a power cut would.
// Does not block: WaitForLaunched must still be called, and then gives
// kTerminatedExitCode (or the process's own exit code when it had already
// ended), also to a thread that was already waiting in it. False when `id`
// is not such a process or has been waited for.
// Processes that the ended one started keep running.
//   Win32: TerminateProcess with kTerminatedExitCode.
//   Linux: SIGKILL (which a shell reports as 128 + 9).
bool TerminateLaunched(ProcessId id);

namespace testing {
// Linux: makes WaitForProcessEnd use its /proc polling as if pidfd_open were
// missing, so that both ways are tested. No effect on Win32.
void ForceProcessPolling(bool force);
}  // namespace testing

}  // namespace platform
