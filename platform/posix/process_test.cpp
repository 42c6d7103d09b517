// What only the Linux launcher does: the shell for scripts without an
// interpreter line or without execute permission, what a held launch's child
// leaves behind of its launcher, the end of a zombie, and the polite end of a
// group (SIGTERM first, SIGKILL after the grace).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <memory>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "platform/child_process.h"
#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "testsupport/host_faults.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"

namespace {

namespace fs = std::filesystem;

// Sleeps a minute, ignoring SIGTERM or leaving at once with status 42 on it.
TV_TEST_CHILD(on_term) {
    if (argc > 1 && std::string(argv[1]) == "ignore")
        ::signal(SIGTERM, SIG_IGN);
    else
        ::signal(SIGTERM, [](int) { ::_exit(42); });
    for (int i = 0; i < 600; ++i) platform::SleepMs(100);
    return 0;
}

TEST(LaunchScript, WithoutAnInterpreterLineOrWithoutExecutePermissionTheShellRunsIt) {
    testsupport::TempDir dir;
    // Exit 7 shows that the shell ran a script whose "#!/bin/false" is not
    // executable rather than its interpreter.
    const std::string body = "printf '%s|' \"$@\" > \"$0.out\"\nexit 7\n";
    const std::tuple<const char*, std::string, fs::perms> cases[] = {
        {"no-interpreter.bat", body, fs::perms(0755)},
        {"not-executable.bat", "#!/bin/false\n" + body, fs::perms(0644)},
        {"neither.bat", body, fs::perms(0644)},
    };
    for (const auto& [name, text, permissions] : cases) {
        SCOPED_TRACE(name);
        const fs::path script = dir.path() / name;
        testsupport::WriteBytes(script, text);
        fs::permissions(script, permissions);
        // Named in the Windows form, as the installation's settings give it.
        std::string named = script.string();
        std::replace(named.begin(), named.end(), '/', '\\');
        const std::string line = "\"" + named + "\" -u \"a b\" -j \"$(x) 'q'\"";
        platform::LaunchResult result = platform::LaunchCommandLine(line);
        ASSERT_TRUE(result.created) << result.reason;
        EXPECT_EQ(result.exitCode, 7);
        EXPECT_EQ(testsupport::ReadBytes(script.string() + ".out"), "-u|a b|-j|$(x) 'q'|");
        // A held launch executes it only at the release, in a clone or a gate.
        for (bool gate : {false, true}) {
            const auto fault = gate
                                   ? std::make_unique<testsupport::ScopedFaultRule>(
                                         testsupport::FailCalls(platform::HostCall::kHeldChild, -1))
                                   : nullptr;
            fs::remove(script.string() + ".out");
            result =
                platform::LaunchCommandLine(line, {.wait = false, .ownGroup = true, .held = true});
            ASSERT_TRUE(result.created) << result.reason;
            EXPECT_TRUE(platform::ReleaseLaunched(result.id).ok());
            EXPECT_EQ(platform::WaitForLaunched(result.id), std::optional<int>(7)) << gate;
            EXPECT_EQ(testsupport::ReadBytes(script.string() + ".out"), "-u|a b|-j|$(x) 'q'|");
        }
    }
}

// Writes the descriptors it has beyond the standard three to the file its
// argument names.
TV_TEST_CHILD(list_descriptors) {
    DIR* fds = ::opendir("/proc/self/fd");
    if (argc < 2 || fds == nullptr)
        return 3;
    std::string open;
    while (const dirent* entry = ::readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != ::dirfd(fds))
            open += std::string(entry->d_name) + " ";
    }
    ::closedir(fds);
    testsupport::WriteBytes(argv[1], open);
    return 0;
}

std::atomic<bool> g_handled{false};

// The child of a held launch is a clone of the launcher (or a gate, as under
// valgrind): it must not pass on a descriptor the launcher opened without
// close-on-exec, nor run the launcher's signal handler for a signal that
// comes while it waits (the clone shares the launcher's memory).
TEST(LaunchHeld, TheProgramGetsNoneOfTheLaunchersDescriptorsOrSignalHandlers) {
    testsupport::TempDir dir;
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    struct sigaction handler {};
    handler.sa_handler = [](int) { g_handled = true; };
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &handler, &previous), 0);
    const std::string listed = dir.File("descriptors");
    const std::string line =
        platform::JoinCommandLine(testsupport::TestExecutablePath(),
                                  {testsupport::ChildArgument("list_descriptors"), listed});
    for (bool gate : {false, true}) {
        SCOPED_TRACE(gate ? "held in a gate" : "held in a clone");
        const auto fault = gate ? std::make_unique<testsupport::ScopedFaultRule>(
                                      testsupport::FailCalls(platform::HostCall::kHeldChild, -1))
                                : nullptr;
        const platform::LaunchOptions held{.wait = false, .ownGroup = true, .held = true};
        platform::LaunchResult clean = platform::LaunchCommandLine(line, held);
        ASSERT_TRUE(clean.created) << clean.reason;
        EXPECT_TRUE(platform::ReleaseLaunched(clean.id).ok());
        EXPECT_EQ(platform::WaitForLaunched(clean.id), std::optional<int>(0));
        EXPECT_EQ(testsupport::ReadBytes(listed), "");

        platform::LaunchResult signalled = platform::LaunchCommandLine(line, held);
        ASSERT_TRUE(signalled.created) << signalled.reason;
        ASSERT_EQ(::kill(static_cast<pid_t>(signalled.id), SIGUSR1), 0);
        platform::SleepMs(100);
        static_cast<void>(platform::ReleaseLaunched(signalled.id));  // it may have gone
        EXPECT_EQ(platform::WaitForLaunched(signalled.id), std::optional<int>(128 + SIGUSR1));
        EXPECT_FALSE(g_handled) << "the launcher's handler ran in the child";
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
    ::close(leaked);
}

TEST(WaitForProcessEnd, AReapedProcessIsGoneAndAZombieHasEnded) {
    for (bool polling : {false, true}) {
        SCOPED_TRACE(polling ? "polling" : "pidfd");
        const auto noPidfd = testsupport::PollProcessesIf(polling);
        platform::LaunchResult reaped = platform::LaunchCommandLine("sh -c \"exit 0\"");
        ASSERT_TRUE(reaped.created) << reaped.reason;
        EXPECT_EQ(platform::WaitForProcessEnd(reaped.id), platform::WaitOutcome::kCannotOpen);

        platform::LaunchResult zombie =
            platform::LaunchCommandLine("sh -c \"exit 2\"", {.wait = false});
        ASSERT_TRUE(zombie.created) << zombie.reason;
        platform::SleepMs(200);  // sh has ended; it stays a zombie until reaped
        EXPECT_EQ(platform::WaitForProcessEnd(zombie.id), platform::WaitOutcome::kEnded);
        EXPECT_EQ(platform::WaitForLaunched(zombie.id), std::optional<int>(2));
    }
}

TEST(EndProcessGroup, AsksPolitelyFirstAndKillsWhatIsLeftAfterTheGrace) {
    for (const auto& [mode, exitCode] :
         {std::pair{"polite", 42}, std::pair{"ignore", 128 + SIGKILL}}) {
        for (bool polling : {false, true}) {
            SCOPED_TRACE(std::string(mode) + (polling ? ", polling" : ", pidfd"));
            const auto noPidfd = testsupport::PollProcessesIf(polling);
            platform::LaunchResult leader =
                platform::LaunchCommandLine("\"" + testsupport::TestExecutablePath() + "\" " +
                                                testsupport::ChildArgument("on_term") + " " + mode,
                                            {.wait = false, .ownGroup = true});
            ASSERT_TRUE(leader.created) << leader.reason;
            platform::SleepMs(200);  // time to set its handler up
            EXPECT_TRUE(platform::EndProcessGroup({leader.id, leader.startTime}, 300));
            EXPECT_EQ(platform::WaitForLaunched(leader.id), std::optional<int>(exitCode));
        }
    }
}

}  // namespace
