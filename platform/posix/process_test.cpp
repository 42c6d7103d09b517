// What only the Linux launcher does: the shell for scripts without an
// interpreter line or without execute permission (a script with one is what
// the end-to-end tests of tools/ start), the end of a zombie, and the polite end of
// a group (SIGTERM first, SIGKILL for what is left after the grace).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "testsupport/host_faults.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"
#include "testsupport/wait_for_file.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

// Ignores SIGTERM, then waits a minute for a file that never comes.
TV_TEST_CHILD(ignore_term) {
    ::signal(SIGTERM, SIG_IGN);
    for (int i = 0; i < 600; ++i) platform::SleepMs(100);
    return 0;
}

// Leaves at once on SIGTERM with a status of its own.
TV_TEST_CHILD(polite) {
    ::signal(SIGTERM, [](int) { ::_exit(42); });
    for (int i = 0; i < 600; ++i) platform::SleepMs(100);
    return 0;
}

void MakeScript(const fs::path& path, const std::string& text, bool executable) {
    WriteBytes(path, text);
    fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
}

TEST(LaunchScript, WithoutAnInterpreterLineOrWithoutExecutePermissionTheShellRunsIt) {
    TempDir dir;
    // The shell ignores "#!/bin/false" as a comment: exit 7 shows that the
    // shell ran the non-executable script rather than its interpreter line.
    const std::string body = "printf '%s|' \"$@\" > \"$0.out\"\nexit 7\n";
    struct Case {
        const char* name;
        std::string text;
        bool executable;
    } cases[] = {
        {"no-interpreter.bat", body, true},
        {"not-executable.bat", "#!/bin/false\n" + body, false},
        {"neither.bat", body, false},
    };
    for (const Case& c : cases) {
        fs::path script = dir.path() / c.name;
        MakeScript(script, c.text, c.executable);
        // Named in the Windows form, as the installation's settings give it.
        std::string named = script.string();
        std::replace(named.begin(), named.end(), '/', '\\');
        platform::LaunchResult result =
            platform::LaunchCommandLine("\"" + named + "\" -u \"a b\" -j \"$(x) 'q'\"");
        ASSERT_TRUE(result.created) << c.name << ": " << result.reason;
        EXPECT_EQ(result.exitCode, 7) << c.name;
        EXPECT_EQ(ReadBytes(script.string() + ".out"), "-u|a b|-j|$(x) 'q'|") << c.name;
    }
}

TEST(WaitForProcessEnd, AReapedProcessIsGoneAndAZombieHasEnded) {
    for (bool polling : {false, true}) {
        const auto noPidfd = testsupport::PollProcessesIf(polling);
        platform::LaunchResult reaped = platform::LaunchCommandLine("sh -c \"exit 0\"");
        ASSERT_TRUE(reaped.created) << reaped.reason;
        EXPECT_EQ(platform::WaitForProcessEnd(reaped.id), platform::WaitOutcome::kCannotOpen);

        platform::LaunchResult zombie =
            platform::LaunchCommandLine("sh -c \"exit 2\"", {.wait = false});
        ASSERT_TRUE(zombie.created) << zombie.reason;
        platform::SleepMs(200);  // long enough for sh to end; it stays a zombie until reaped
        EXPECT_EQ(platform::WaitForProcessEnd(zombie.id), platform::WaitOutcome::kEnded) << polling;
        EXPECT_EQ(platform::WaitForLaunched(zombie.id), std::optional<int>(2));
    }
}

TEST(EndProcessGroup, AsksPolitelyFirstAndKillsWhatIsLeftAfterTheGrace) {
    struct Case {
        const char* child;
        int exitCode;
    };
    for (const Case& c : {Case{"polite", 42}, Case{"ignore_term", 128 + SIGKILL}}) {
        for (bool polling : {false, true}) {
            SCOPED_TRACE(std::string(c.child) + (polling ? ", kill" : ", pidfd"));
            const auto noPidfd = testsupport::PollProcessesIf(polling);
            platform::LaunchResult leader =
                platform::LaunchCommandLine("\"" + testsupport::TestExecutablePath() + "\" " +
                                                testsupport::ChildArgument(c.child),
                                            {.wait = false, .ownGroup = true});
            ASSERT_TRUE(leader.created) << leader.reason;
            platform::SleepMs(200);  // time to set its handler up
            EXPECT_TRUE(platform::EndProcessGroup({leader.id, leader.startTime}, 300));
            EXPECT_EQ(platform::WaitForLaunched(leader.id), std::optional<int>(c.exitCode));
        }
    }
}

}  // namespace
