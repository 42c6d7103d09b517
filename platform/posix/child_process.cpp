#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

extern char** environ;

namespace platform {
namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe() {
        for (int end : fd)
            if (end >= 0)
                ::close(end);
    }
    void CloseEnd(int which) {
        if (fd[which] >= 0)
            ::close(fd[which]);
        fd[which] = -1;
    }
};

}  // namespace

CapturedRun RunAndCapture(const std::string& program, const std::vector<std::string>& arguments,
                          const EnvironmentEntries& extraEnvironment, std::uint32_t timeLimitMs) {
    using Clock = std::chrono::steady_clock;
    const bool limited = timeLimitMs != kNoTimeLimit;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
    CapturedRun run;
    Pipe out, err;
    if (::pipe2(out.fd, O_CLOEXEC) != 0 || ::pipe2(err.fd, O_CLOEXEC) != 0) {
        run.reason = std::strerror(errno);
        return run;
    }

    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : argStore) argv.push_back(arg.data());
    argv.push_back(nullptr);

    // Our environment, with the extra entries replacing variables of the same name.
    std::map<std::string, std::string> replaced;
    for (const auto& [name, value] : extraEnvironment) replaced[name] = value;
    std::vector<std::string> envStore;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        std::string name(text.substr(0, text.find('=')));
        if (replaced.count(name) == 0)
            envStore.emplace_back(text);
    }
    for (const auto& [name, value] : replaced) envStore.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envStore) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    ::posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    // A limited program leads a group of its own, so that what it started
    // can be ended with it.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    if (limited) {
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        ::posix_spawnattr_setpgroup(&attributes, 0);
    }
    pid_t pid = 0;
    int error =
        program.find('/') != std::string::npos
            ? ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data())
            : ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(),
                             envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        run.reason = std::strerror(error);
        return run;
    }
    run.started = true;
    out.CloseEnd(1);
    err.CloseEnd(1);

    // Both pipes are drained together, so a child that fills one while we
    // wait on the other cannot stall.
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        int waitMs = -1;
        if (limited) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                // The group is signalled before the program is reaped, so
                // that its id cannot have been given to another group.
                run.timedOut = true;
                ::kill(-pid, SIGKILL);
                ::kill(pid, SIGKILL);
                break;
            }
            waitMs = static_cast<int>(left.count());
        }
        int ready = ::poll(fds, 2, waitMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.exitCode = 128 + WTERMSIG(status);
    return run;
}

}  // namespace platform
