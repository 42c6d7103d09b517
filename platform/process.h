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
//          program that cannot be started at all is a creation failure. No
//          descriptor beyond the standard three reaches the program. The
//          window options have no effect. A process ended by a signal gives
//          128 + the signal number as its exit code, as a shell reports it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

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
    kTimedOut,  // only from WaitForProcess with a time limit
};
WaitOutcome WaitForProcessEnd(ProcessId id);

// A process as a journal records it: its id together with its start time, so
// that an id the host has since given to another process is never taken for
// it (nor is a process of an earlier boot). The start time is the host's own
// value, only ever compared for equality; 0 means unknown, and an identity
// with an unknown start time matches no process (it is never waited for nor
// ended: the number alone may name anyone by now).
//   Win32: the creation time of GetProcessTimes (a FILETIME).
//   Linux: the start of /proc/<pid>/stat (clock ticks since boot) in the low
//          44 bits, a hash of the boot's id (/proc/sys/kernel/random/boot_id)
//          in the high 20.
struct ProcessIdentity {
    ProcessId id = 0;
    std::uint64_t startTime = 0;
};

// The identity of a process that runs now; nullopt when there is none with
// that id (an ended process that still exists as a zombie counts as none).
std::optional<ProcessIdentity> IdentifyProcess(ProcessId id);

// Whether the process still runs: its id names a process that has not ended
// and that has the same start time. Never blocks.
bool IsStillRunning(const ProcessIdentity& process);

// No time limit for WaitForProcess.
constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFFu;

// Blocks until the process has ended, or at most `timeLimitMs`. Works for a
// process we started (it is not reaped: WaitForLaunched still gives its exit
// code) and for one we did not (a job left by a launcher that died). A
// process that is gone, or that runs with another start time, "cannot be
// opened".
WaitOutcome WaitForProcess(const ProcessIdentity& process, std::uint32_t timeLimitMs);

struct LaunchOptions {
    bool wait = true;
    bool show = true;
    bool minimizeWhileWaiting = false;
    void* window = nullptr;  // a window handle (HWND) on Win32
    // Starts the process at the head of a group of its own that also holds
    // every process it starts, so that EndProcessGroup can end them all. The
    // group does not end with this process: a job outlives a launcher that
    // dies (no kill-on-close, no parent-death signal).
    //   Win32: the process is created suspended, put in a job object of its
    //          own (named after its identity, without
    //          JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) and then resumed.
    //   Linux: a new session (POSIX_SPAWN_SETSID), whose id, and its process
    //          group's, is the process's id.
    //   Win32, a launcher that runs in a job object itself (a scheduled task):
    //          the process breaks away from that job where it allows, so that
    //          ending the task does not end the job; otherwise the job's own
    //          job object is nested in it (Windows 8 and later).
    bool ownGroup = false;
    // With ownGroup and without wait: the process exists, its identity
    // known, but its program does not run until ReleaseLaunched. A caller
    // that records the identity first (a launcher's journal) thus never
    // leaves a job running that its record does not name: should the caller
    // end before the release, the program never runs.
    //   Win32: held suspended in its job object, which kills it when closed
    //          (JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) until the release clears
    //          that; the caller's handle is then the job's only one.
    //   Linux: posix_spawn has no held start. The process is a clone of the
    //          caller that shares its memory until it executes the program
    //          (platform/posix/held_child.h), in the new session, waiting
    //          on a socket for the release; when the socket ends without a
    //          release (the caller ended) it ends without running anything.
    //          Under valgrind, which refuses such a clone, the calling
    //          program's own file (as /proc/self/exe names it) is started
    //          instead as a gate (RunHeldStartGate) that does the same. A
    //          program that launches held must call RunHeldStartGate first
    //          thing in its main.
    bool held = false;
};

struct LaunchResult {
    bool created = false;
    ProcessId id = 0;
    std::uint64_t startTime = 0;  // as in ProcessIdentity, when created
    int exitCode = -1;            // only when waited for
    std::string reason;           // why it could not be created
};

LaunchResult LaunchCommandLine(std::string_view commandLine, const LaunchOptions& options = {});

// Lets the program of a process launched `held` run; nothing to do (ok) for
// one launched otherwise. An error leaves it held: the caller then ends its
// group. Linux: blocks until the held process has executed the program, and
// gives the host's reason when that failed (the program file gone since the
// launch); the held process has then ended.
Status ReleaseLaunched(ProcessId id);

// When this process was started as the gate of a held launch (Linux, see
// LaunchOptions::held; also by a launcher of an older version still running
// while this one is installed): waits for the release and becomes the program, or
// gives the exit status for main to return when the launcher ended first or
// the program could not be executed. nullopt for any other start, and
// always on Win32: main goes on.
std::optional<int> RunHeldStartGate(int argc, char** argv);

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

// Ends a process started with `ownGroup` together with every process of
// its group, including those whose parent has ended. Linux: SIGTERM to the
// group, then SIGKILL to what is left of it after `graceMs`; blocks for at
// most about `graceMs`. Win32: TerminateJobObject on the group's job object,
// found by its name, so that a later launcher can also end the group of a
// job that an earlier one started (Windows has no polite ending for such
// processes; it does not block). False when nothing of the group runs any
// more, or it cannot be found (nothing is ended then; a reused id is never
// signalled).
//   Linux: the group is every live process whose session or process group
//          has the leader's id and that started no earlier than the leader:
//          the kernel does not give the number to a new process while any of
//          them lives, so a leader that has ended leaves its group findable.
//          A process started without `ownGroup` is ended alone.
//   Win32: a job object's name lasts only while some process holds a handle
//          to it: the launcher that started the group, the leader (given an
//          inheritable handle) and what it started with handles inherited (the
//          command interpreter does). A later launcher that finds the name
//          gone ends the leader alone, when it still runs.
bool EndProcessGroup(const ProcessIdentity& process, std::uint32_t graceMs);

}  // namespace platform
