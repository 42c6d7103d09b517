// Linux processes: /proc for the snapshot and the fallback wait, pidfd for
// the wait, posix_spawn for launching (no shell, so that names holding shell
// characters reach the program intact).
#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/command_line.h"
#include "platform/host_path.h"
#include "platform/sleep.h"

extern char** environ;

namespace platform {
namespace {

std::atomic<bool> g_forcePolling{false};

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

// The state letter of /proc/<pid>/stat, or 0 when the process is gone.
char ProcessState(ProcessId pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // "pid (comm) S ...": comm may hold blanks and parentheses, so look
    // after the last ")".
    std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return 0;
    return text[close + 2];
}

bool Ended(ProcessId pid) {
    char state = ProcessState(pid);
    return state == 0 || state == 'Z' || state == 'X';
}

WaitOutcome WaitByPolling(ProcessId pid) {
    if (ProcessState(pid) == 0)
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

int Spawn(pid_t& pid, const std::string& program, std::vector<std::string> const& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
}

}  // namespace

namespace testing {
void ForceProcessPolling(bool force) {
    g_forcePolling = force;
}
}  // namespace testing

std::vector<ProcessEntry> SnapshotProcesses() {
    std::vector<ProcessEntry> entries;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return entries;
    while (dirent* item = ::readdir(proc)) {
        ProcessId pid = 0;
        if (!ParsePid(item->d_name, pid))
            continue;
        std::ifstream comm(std::string("/proc/") + item->d_name + "/comm");
        std::string name;
        if (!comm || !std::getline(comm, name))
            continue;  // ended during the walk
        entries.push_back({pid, name});
    }
    ::closedir(proc);
    return entries;
}

WaitOutcome WaitForProcessEnd(ProcessId id) {
    if (id == 0 || id > 0x7FFFFFFF)
        return WaitOutcome::kCannotOpen;
#ifdef SYS_pidfd_open
    if (!g_forcePolling) {
        long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0);
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
    }
#endif
    return WaitByPolling(id);
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
    error = ::access(program.c_str(), X_OK) == 0 ? Spawn(pid, program, args) : EACCES;
    if (error == ENOEXEC || error == EACCES) {
        // Not executable, or a script without an interpreter line: the shell
        // runs it, as the Windows command interpreter runs a batch file.
        std::vector<std::string> shellArgs{"/bin/sh"};
        shellArgs.insert(shellArgs.end(), args.begin(), args.end());
        error = Spawn(pid, "/bin/sh", shellArgs);
    }
    if (error != 0) {
        result.reason = std::strerror(error);
        return result;
    }
    result.created = true;
    result.id = static_cast<ProcessId>(pid);
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
    return DecodeStatus(status);
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

}  // namespace platform
