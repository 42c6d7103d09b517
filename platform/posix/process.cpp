// Linux processes: /proc for the snapshot, identities and the fallback wait,
// pidfd for the wait and for signals, posix_spawn for launching (no shell, so
// that names holding shell characters reach the program intact) and a clone
// that waits in our memory for a held launch (held_child.h). A group is a
// session: the launched process calls setsid, so the session's id (and its
// process group's) is the leader's pid, and every process the job starts stays
// in it unless it makes a session of its own.
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/command_line.h"
#include "platform/host_faults.h"
#include "platform/host_path.h"
#include "platform/posix/held_child.h"
#include "platform/sleep.h"

extern char** environ;

namespace platform {
namespace {

bool ParsePid(const char* text, ProcessId& pid) {
    if (*text == '\0')
        return false;
    unsigned long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > 0xFFFFFFFFul / 10)
            return false;
        value = value * 10 + static_cast<unsigned long>(*p - '0');
    }
    pid = static_cast<ProcessId>(value);
    return value != 0;
}

// What /proc/<pid>/stat says of a process.
struct StatFields {
    char state = 0;  // 0: no such process
    pid_t group = 0;
    pid_t session = 0;
    std::uint64_t startTicks = 0;  // clock ticks since boot
};

// The start of a small /proc file (at most 4 KiB, which holds any stat or
// comm line), `path` taken from `dir` (AT_FDCWD for an absolute one); nullopt
// when it cannot be opened, as for a process that has ended. Not inherited by
// the processes we start, and without a stream's buffers: the snapshot reads
// one per process.
std::optional<std::string> ReadProcFile(int dir, const char* path) {
    const int fd = ::openat(dir, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[4096];
    std::size_t length = 0;
    while (length < sizeof buffer) {
        const ssize_t got = ::read(fd, buffer + length, sizeof buffer - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        length += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return std::string(buffer, length);
}

StatFields ReadStat(ProcessId pid) {
    StatFields fields;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const std::string text = ReadProcFile(AT_FDCWD, path.c_str()).value_or(std::string());
    // "pid (comm) S ppid pgrp session ...": comm may hold blanks and
    // parentheses, so count the fields after the last ")".
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return fields;
    // Fields 3 (state) to 22 (the start time), by number.
    std::string_view rest[20];
    std::size_t count = 0;
    for (std::size_t at = close + 2; at < text.size() && count < std::size(rest);) {
        std::size_t blank = text.find(' ', at);
        if (blank == std::string::npos)
            blank = text.size();
        rest[count++] = std::string_view(text).substr(at, blank - at);
        at = blank + 1;
    }
    if (count < std::size(rest) || rest[0].size() != 1)
        return fields;
    const auto number = [](std::string_view field) {
        return std::strtoull(std::string(field).c_str(), nullptr, 10);
    };
    fields.state = rest[0][0];
    fields.group = static_cast<pid_t>(number(rest[2]));
    fields.session = static_cast<pid_t>(number(rest[3]));
    fields.startTicks = number(rest[19]);
    return fields;
}

bool IsGone(char state) {
    return state == 0 || state == 'Z' || state == 'X';
}

bool Ended(ProcessId pid) {
    return IsGone(ReadStat(pid).state);
}

// The start time of an identity: the boot's id hashed into the top 20 bits,
// the start in clock ticks in the low 44 (five thousand years at 100 Hz), so
// that a process of another boot never matches and the ticks can still be
// compared between the processes of one boot.
constexpr int kTickBits = 44;
constexpr std::uint64_t kTickMask = (std::uint64_t{1} << kTickBits) - 1;

std::uint64_t BootTag() {
    static const std::uint64_t tag = [] {
        std::string id = ReadProcFile(AT_FDCWD, "/proc/sys/kernel/random/boot_id").value_or("");
        id = id.substr(0, id.find('\n'));
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : id) hash = (hash ^ c) * 1099511628211ull;
        // Never 0, so that no identity of this boot has start time 0.
        std::uint64_t top = (hash >> kTickBits) ^ (hash & 0xFFFFF);
        return (top & 0xFFFFF) == 0 ? std::uint64_t{1} : top & 0xFFFFF;
    }();
    return tag;
}

std::uint64_t StartTimeOf(std::uint64_t ticks) {
    return (BootTag() << kTickBits) | (ticks & kTickMask);
}

bool IsValidPid(ProcessId id) {
    return id != 0 && id <= 0x7FFFFFFF;
}

// How a process with this identity stands now.
enum class Standing { kGone, kOther, kEnded, kRunning };
Standing StandingOf(const ProcessIdentity& process) {
    if (!IsValidPid(process.id) || process.startTime == 0)
        return Standing::kGone;
    StatFields fields = ReadStat(process.id);
    if (fields.state == 0)
        return Standing::kGone;
    if (StartTimeOf(fields.startTicks) != process.startTime)
        return Standing::kOther;
    return IsGone(fields.state) ? Standing::kEnded : Standing::kRunning;
}

long OpenPidFd(ProcessId pid) {
#ifdef SYS_pidfd_open
    if (!InjectedFaultFor(HostCall::kProcessDescriptor, {}))
        return ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
#endif
    errno = ENOSYS;
    return -1;
}

// Milliseconds left before `deadline`, as poll takes them.
int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    return static_cast<int>(std::clamp<long long>(left, 0, 0x7FFFFFFF));
}

WaitOutcome WaitByPolling(ProcessId pid) {
    if (ReadStat(pid).state == 0)
        return WaitOutcome::kCannotOpen;
    while (!Ended(pid)) SleepMs(100);
    return WaitOutcome::kEnded;
}

// Exit code as a shell reports it.
int DecodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The host path of the program named by a command line's first argument.
// Empty when it names nothing that could be run; `error` says why.
std::string ResolveProgram(const std::string& name, int& error) {
    std::string host = ToHostPath(name);
    if (host.empty()) {
        error = ENOENT;
        return "";
    }
    if (host.find('/') == std::string::npos) {
        const char* path = std::getenv("PATH");
        std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
        while (true) {
            std::size_t colon = dirs.find(':');
            std::string dir(dirs.substr(0, colon));
            std::string candidate = (dir.empty() ? "." : dir) + "/" + host;
            if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
            if (colon == std::string_view::npos)
                break;
            dirs.remove_prefix(colon + 1);
        }
        error = ENOENT;
        return "";
    }
    struct stat info {};
    if (::stat(host.c_str(), &info) != 0) {
        error = errno;
        return "";
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EACCES;
        return "";
    }
    return host;
}

// The gate of a held launch: this program's binary, started with this flag,
// the program and its arguments. It finds the socket of its release on
// kGateFd and the pipe to report a failed execution on kGateReportFd.
constexpr const char* kHeldStartFlag = "--torvane-held-start";
constexpr int kGateFd = 3;
constexpr int kGateReportFd = 4;

// posix_spawn with what every launch shares: no descriptor of ours beyond the
// standard three reaches the program (ours are close-on-exec already; this
// also covers any that a library opened without it), and `ownGroup` makes it
// the leader of a new session. `gateFds`, for a held start's gate, are
// placed at kGateFd and kGateReportFd and kept as well.
int Spawn(pid_t& pid, const std::string& program, std::vector<std::string> const& args,
          bool ownGroup, const int (*gateFds)[2] = nullptr) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawn_file_actions_init(&actions);
    if (gateFds != nullptr) {
        ::posix_spawn_file_actions_adddup2(&actions, (*gateFds)[0], kGateFd);
        ::posix_spawn_file_actions_adddup2(&actions, (*gateFds)[1], kGateReportFd);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    ::posix_spawn_file_actions_addclosefrom_np(&actions,
                                               gateFds != nullptr ? kGateReportFd + 1 : 3);
#endif
    if (ownGroup)
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    int error = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    return error;
}

// The caller's ends of each held launch's socket and report pipe, and the
// child that waits in our memory (when it is not a gate), by process.
struct HeldLaunch {
    int go = -1;
    int report = -1;
    std::unique_ptr<posix::HeldChild> child;
};
std::mutex g_heldLock;
// Never destroyed: a held child may still wait on its stack while this
// process ends (it then ends too, without running anything).
std::map<pid_t, HeldLaunch>& g_held = *new std::map<pid_t, HeldLaunch>;

// The file of this program for the gate. The path /proc/self/exe names
// while it still names the running program's file: under valgrind that is
// the program itself, where /proc/self/exe is valgrind's. /proc/self/exe
// once the file is gone (the program removed since it started). A newer
// version installed at the same path meanwhile is then the gate: the gate's
// arguments and descriptors stay as they are across versions.
std::string GateProgram() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path - 1)
        return "/proc/self/exe";
    const std::string named(path, static_cast<std::size_t>(length));
    if (named.ends_with(" (deleted)") || ::access(named.c_str(), X_OK) != 0)
        return "/proc/self/exe";
    return named;
}

// `fd` moved to a number above the gate's own (close-on-exec), so that
// placing it there never finds it in the way.
int AboveGateFds(int fd) {
    if (fd < 0 || fd > kGateReportFd)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kGateReportFd + 1);
    ::close(fd);
    return moved;
}

// Spawn, held: the child gets its end of a socket (which it reads for the
// release; a socket, so that the caller's write to a child that has gone is an
// error, not a SIGPIPE) and the write end of a report pipe. The child is a
// clone waiting in our memory, or where that cannot be (valgrind) a gate.
int SpawnHeld(pid_t& pid, const std::string& program, const std::vector<std::string>& args,
              HeldLaunch& held) {
    int go[2] = {-1, -1};
    int report[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, go) != 0)
        return errno;
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(go[0]);
        ::close(go[1]);
        return error;
    }
    int error = 0;
    if (posix::HeldCloneAllowed()) {
        pid = posix::HeldChild::Start(program, args, go[1], report[1], held.child);
        error = pid < 0 ? errno : 0;
    } else {
        for (int* fd : {&go[0], &go[1], &report[0], &report[1]}) *fd = AboveGateFds(*fd);
        const std::string gate = GateProgram();
        std::vector<std::string> gateArgs{gate, kHeldStartFlag, program};
        gateArgs.insert(gateArgs.end(), args.begin(), args.end());
        const int gateFds[2] = {go[1], report[1]};
        error = Spawn(pid, gate, gateArgs, true, &gateFds);
    }
    ::close(go[1]);
    ::close(report[1]);
    if (error != 0) {
        ::close(go[0]);
        ::close(report[0]);
        return error;
    }
    held.go = go[0];
    held.report = report[0];
    return 0;
}

// Sends `signal` to one process, through a pidfd where the kernel has them,
// and only while it is still the process the scan found (same start, same
// session), so that a number freed and given again in between is spared.
void SignalMember(pid_t pid, std::uint64_t startTicks, pid_t session, int signal) {
    long fd = OpenPidFd(static_cast<ProcessId>(pid));
    StatFields now = ReadStat(static_cast<ProcessId>(pid));
    if (!IsGone(now.state) && now.startTicks == startTicks && now.session == session) {
#ifdef SYS_pidfd_send_signal
        if (fd >= 0 &&
            ::syscall(SYS_pidfd_send_signal, static_cast<int>(fd), signal, nullptr, 0) == 0) {
            ::close(static_cast<int>(fd));
            return;
        }
#endif
        ::kill(pid, signal);
    }
    if (fd >= 0)
        ::close(static_cast<int>(fd));
}

struct Member {
    pid_t pid;
    std::uint64_t startTicks;
    pid_t session;
};

// The live processes of the group led by `leader`: the leader itself, and
// those whose session or process group has its number and that started no
// earlier than it did (a later process that was given the same number,
// after the whole group had gone, cannot have started before the leader).
std::vector<Member> GroupMembers(pid_t leader, std::uint64_t leaderTicks) {
    std::vector<Member> members;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return members;
    while (dirent* item = ::readdir(proc)) {
        ProcessId pid = 0;
        if (!ParsePid(item->d_name, pid))
            continue;
        StatFields fields = ReadStat(pid);
        if (IsGone(fields.state) || fields.startTicks < leaderTicks)
            continue;
        // The leader itself also when it leads no group (started without
        // ownGroup): it is then ended alone, as on Windows.
        bool isLeader = static_cast<pid_t>(pid) == leader && fields.startTicks == leaderTicks;
        if (fields.session == leader || fields.group == leader || isLeader)
            members.push_back({static_cast<pid_t>(pid), fields.startTicks, fields.session});
    }
    ::closedir(proc);
    return members;
}

// Signals the group until it is empty or `waitMs` has passed; true when empty.
bool SignalGroupAndWait(pid_t leader, std::uint64_t leaderTicks, int signal, std::uint32_t waitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    std::set<pid_t> signalled;
    for (bool first = true;; first = false) {
        std::vector<Member> members = GroupMembers(leader, leaderTicks);
        if (members.empty())
            return true;
        if (!first && RemainingMs(deadline) == 0)
            return false;
        // Processes started since the last round (a shell reacting to the
        // signal) get it too; SIGKILL goes to every one each round.
        for (const Member& member : members) {
            if (signal == SIGKILL || signalled.insert(member.pid).second)
                SignalMember(member.pid, member.startTicks, member.session, signal);
        }
        SleepMs(static_cast<std::uint32_t>(std::clamp(RemainingMs(deadline), 1, 20)));
    }
}

}  // namespace

std::vector<ProcessEntry> SnapshotProcesses() {
    std::vector<ProcessEntry> entries;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return entries;
    while (dirent* item = ::readdir(proc)) {
        ProcessId pid = 0;
        if (!ParsePid(item->d_name, pid))
            continue;
        const std::string path = std::string(item->d_name) + "/comm";
        std::optional<std::string> name = ReadProcFile(::dirfd(proc), path.c_str());
        if (!name || name->empty())
            continue;  // ended during the walk
        name->resize(std::min(name->size(), name->find('\n')));
        entries.push_back({pid, std::move(*name)});
    }
    ::closedir(proc);
    return entries;
}

WaitOutcome WaitForProcessEnd(ProcessId id) {
    if (!IsValidPid(id))
        return WaitOutcome::kCannotOpen;
    long fd = OpenPidFd(id);
    if (fd >= 0) {
        // A zombie is not gone for pidfd_open; it has ended for us.
        if (Ended(id)) {
            ::close(static_cast<int>(fd));
            return WaitOutcome::kEnded;
        }
        pollfd wait{static_cast<int>(fd), POLLIN, 0};
        while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
        }
        ::close(static_cast<int>(fd));
        return WaitOutcome::kEnded;
    }
    if (errno == ESRCH)
        return WaitOutcome::kCannotOpen;
    // ENOSYS (old kernel) or refused by a sandbox: poll /proc instead.
    return WaitByPolling(id);
}

std::optional<ProcessIdentity> IdentifyProcess(ProcessId id) {
    if (!IsValidPid(id))
        return std::nullopt;
    StatFields fields = ReadStat(id);
    if (IsGone(fields.state))
        return std::nullopt;
    return ProcessIdentity{id, StartTimeOf(fields.startTicks)};
}

bool IsStillRunning(const ProcessIdentity& process) {
    return StandingOf(process) == Standing::kRunning;
}

WaitOutcome WaitForProcess(const ProcessIdentity& process, std::uint32_t timeLimitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    bool forever = timeLimitMs == kNoTimeLimit;
    // The pidfd is opened before the identity is checked, so that it surely
    // refers to the process checked: a number is not given again while the
    // process it named is still there, even as a zombie.
    long fd = IsValidPid(process.id) ? OpenPidFd(process.id) : -1;
    Standing standing = StandingOf(process);
    if (standing == Standing::kGone || standing == Standing::kOther) {
        if (fd >= 0)
            ::close(static_cast<int>(fd));
        return WaitOutcome::kCannotOpen;
    }
    if (standing == Standing::kEnded) {
        if (fd >= 0)
            ::close(static_cast<int>(fd));
        return WaitOutcome::kEnded;
    }
    if (fd >= 0) {
        // Readable once the process has ended; nothing is reaped.
        pollfd wait{static_cast<int>(fd), POLLIN, 0};
        int ready = 0;
        do {
            ready = ::poll(&wait, 1, forever ? -1 : RemainingMs(deadline));
        } while (ready < 0 && errno == EINTR);
        ::close(static_cast<int>(fd));
        return ready > 0 ? WaitOutcome::kEnded : WaitOutcome::kTimedOut;
    }
    // No pidfd (an old kernel, a sandbox, or the testing switch): poll /proc.
    while (StandingOf(process) == Standing::kRunning) {
        if (!forever && RemainingMs(deadline) == 0)
            return WaitOutcome::kTimedOut;
        SleepMs(forever ? 100
                        : static_cast<std::uint32_t>(std::clamp(RemainingMs(deadline), 1, 100)));
    }
    // Gone, a zombie, or its number given to another: it has ended.
    return WaitOutcome::kEnded;
}

LaunchResult LaunchCommandLine(std::string_view commandLine, const LaunchOptions& options) {
    LaunchResult result;
    std::vector<std::string> args = SplitCommandLine(commandLine);
    if (args.empty() || args[0].empty()) {
        result.reason = "no program in the command line";
        return result;
    }
    int error = 0;
    std::string program = ResolveProgram(args[0], error);
    if (program.empty()) {
        result.reason = std::strerror(error);
        return result;
    }
    args[0] = program;

    pid_t pid = 0;
    if (options.held && options.ownGroup && !options.wait) {
        // The held child tries the program, then the shell, as below.
        HeldLaunch held;
        error = SpawnHeld(pid, program, args, held);
        if (error != 0) {
            result.reason = std::strerror(error);
            return result;
        }
        std::lock_guard<std::mutex> lock(g_heldLock);
        g_held[pid] = std::move(held);
    } else {
        error = ::access(program.c_str(), X_OK) == 0 ? Spawn(pid, program, args, options.ownGroup)
                                                     : EACCES;
    }
    if (error == ENOEXEC || error == EACCES) {
        // Not executable, or a script without an interpreter line: the shell
        // runs it, as the Windows command interpreter runs a batch file.
        std::vector<std::string> shellArgs{"/bin/sh"};
        shellArgs.insert(shellArgs.end(), args.begin(), args.end());
        error = Spawn(pid, "/bin/sh", shellArgs, options.ownGroup);
    }
    if (error != 0) {
        result.reason = std::strerror(error);
        return result;
    }
    result.created = true;
    result.id = static_cast<ProcessId>(pid);
    // Not reaped yet, so /proc still shows it even when it has ended.
    result.startTime = StartTimeOf(ReadStat(result.id).startTicks);
    if (!options.wait)
        return result;
    result.exitCode = WaitForLaunched(result.id).value_or(-1);
    return result;
}

std::optional<int> WaitForLaunched(ProcessId id) {
    if (id == 0 || id > 0x7FFFFFFF)
        return std::nullopt;
    int status = 0;
    while (::waitpid(static_cast<pid_t>(id), &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    // Ended without its release (its group ended): its ends and its stack go.
    HeldLaunch unreleased;
    {
        std::lock_guard<std::mutex> lock(g_heldLock);
        if (const auto found = g_held.find(static_cast<pid_t>(id)); found != g_held.end()) {
            unreleased = std::move(found->second);
            g_held.erase(found);
        }
    }
    if (unreleased.go >= 0) {
        ::close(unreleased.go);
        ::close(unreleased.report);
    }
    return DecodeStatus(status);
}

Status ReleaseLaunched(ProcessId id) {
    HeldLaunch held;
    {
        std::lock_guard<std::mutex> lock(g_heldLock);
        const auto found = g_held.find(static_cast<pid_t>(id));
        if (found == g_held.end())
            return Status::Ok();  // not launched held
        held = std::move(found->second);
        g_held.erase(found);
    }
    const char go = 'g';
    ssize_t sent = 0;
    do {
        sent = ::send(held.go, &go, 1, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    const int sendError = errno;
    ::close(held.go);
    // The report pipe ends empty when the program was executed, or carries
    // the error of its execution. It is read to its end, which comes once the
    // child has executed the program or ended: it no longer uses our memory
    // then, and its stack goes with `held`.
    int failure = 0;
    std::size_t got = 0;
    for (;;) {
        char bytes[sizeof failure];
        const ssize_t n = ::read(held.report, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const std::size_t kept = std::min(static_cast<std::size_t>(n), sizeof failure - got);
        std::memcpy(reinterpret_cast<char*>(&failure) + got, bytes, kept);
        got += kept;
    }
    ::close(held.report);
    if (sent != 1)
        return ErrnoError(sendError);
    if (got == sizeof failure)
        return ErrnoError(failure);
    return Status::Ok();
}

std::optional<int> RunHeldStartGate(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[1], kHeldStartFlag) != 0)
        return std::nullopt;
    char go = 0;
    ssize_t got = 0;
    do {
        got = ::read(kGateFd, &go, 1);
    } while (got < 0 && errno == EINTR);
    ::close(kGateFd);
    if (got != 1)
        return 125;  // the launcher ended before it let the program run
    ::fcntl(kGateReportFd, F_SETFD, FD_CLOEXEC);
    // argv[2] is the program, argv[3] on its arguments from its own name on.
    ::execv(argv[2], argv + 3);
    int error = errno;
    if (error == ENOEXEC || error == EACCES) {
        // As LaunchCommandLine does: the shell runs what is not executable.
        std::vector<char*> shellArgs{const_cast<char*>("/bin/sh")};
        shellArgs.insert(shellArgs.end(), argv + 3, argv + argc);
        shellArgs.push_back(nullptr);
        ::execv("/bin/sh", shellArgs.data());
        error = errno;
    }
    [[maybe_unused]] const ssize_t reported = ::write(kGateReportFd, &error, sizeof error);
    return 127;
}

bool TerminateLaunched(ProcessId id) {
    if (id == 0 || id > 0x7FFFFFFF)
        return false;
    // Only a child of ours that has not been reaped: any other number may
    // name an unrelated process by now. WNOWAIT leaves it to WaitForLaunched.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(id), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return false;
    // A child that has ended already is a zombie until reaped: the signal
    // then does nothing and its own exit code stays.
    return ::kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

bool EndProcessGroup(const ProcessIdentity& process, std::uint32_t graceMs) {
    if (!IsValidPid(process.id) || process.startTime == 0 ||
        (process.startTime >> kTickBits) != BootTag())
        return false;
    Standing leader = StandingOf(process);
    if (leader == Standing::kOther)
        return false;  // its number belongs to another process now
    pid_t group = static_cast<pid_t>(process.id);
    std::uint64_t ticks = process.startTime & kTickMask;
    // A leader that has ended leaves its group behind: found by its number,
    // among processes that started after the leader did. A group with
    // nothing left that runs has nothing to end.
    if (GroupMembers(group, ticks).empty())
        return false;
    if (!SignalGroupAndWait(group, ticks, SIGTERM, graceMs))
        SignalGroupAndWait(group, ticks, SIGKILL, 1000);
    return true;
}

}  // namespace platform
