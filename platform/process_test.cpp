#include "platform/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/child_process.h"
#include "platform/command_line.h"
#include "platform/sleep.h"
#include "testsupport/host_faults.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"
#include "testsupport/wait_for_file.h"

namespace {

using platform::WaitOutcome;
using testsupport::EndsWithin;
using testsupport::ReadIdentityFile;
using testsupport::TempDir;

constexpr platform::ProcessId kNoSuchProcess = 0x7FFFFFF0;  // on neither host

// Runs until the file named by its argument exists.
TV_TEST_CHILD(wait_for_go) {
    return argc < 2 || !testsupport::WaitForFile(argv[1]) ? 3 : 0;
}

// Arguments to standard output, a variable to standard error.
TV_TEST_CHILD(print_args) {
    for (int i = 1; i < argc; ++i) std::printf("%s|", argv[i]);
    const char* value = std::getenv("TV_CAPTURE_VAR");
    std::fprintf(stderr, "var=%s", value != nullptr ? value : "(unset)");
    return 4;
}

std::string ChildLine(const std::string& child, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), testsupport::ChildArgument(child));
    return platform::JoinCommandLine(testsupport::TestExecutablePath(), arguments);
}

// Writes the file named by its argument.
TV_TEST_CHILD(touch) {
    if (argc < 2)
        return 3;
    testsupport::WriteBytes(argv[1], "ran");
    return 0;
}

// Starts the child body <child> of this program without waiting for it.
platform::LaunchResult Start(const std::string& child, const std::vector<std::string>& arguments,
                             bool ownGroup = false, bool held = false) {
    return platform::LaunchCommandLine(
        ChildLine(child, arguments),
        {.wait = false, .show = false, .ownGroup = ownGroup, .held = held});
}

// "start_and_report own|plain|held <out> <stay>|exit <child> <arguments>...":
// starts <child> (in a group of its own with "own", held there with "held" and
// never released), writes its identity to <out> and "started" to standard
// output, then waits for the file <stay> or ends at once.
TV_TEST_CHILD(start_and_report) {
    if (argc < 5)
        return 99;
    const std::string group = argv[1];
    platform::LaunchResult started =
        Start(argv[4], {argv + 5, argv + argc}, group != "plain", group == "held");
    if (!started.created)
        return 98;
    testsupport::WriteIdentityFile(argv[2], {started.id, started.startTime});
    std::printf("started\n");
    std::fflush(stdout);
    return std::string(argv[3]) == "exit" || testsupport::WaitForFile(argv[3]) ? 0 : 3;
}

TEST(LaunchCommandLine, AProgramThatCannotBeStartedIsACreationFailure) {
    TempDir dir;
    for (std::string line :
         {"\"" + dir.File("TorvaneBatch-missing.exe") + "\" -b -u \"a\"",
          std::string("no-such-program-tv -b"), "\"" + dir.path().string() + "\" -b",
          std::string("   "), std::string("")}) {
        platform::LaunchResult result = platform::LaunchCommandLine(line);
        EXPECT_FALSE(result.created) << line;
        EXPECT_FALSE(result.reason.empty()) << line;
    }
}

// A copy of this program under a name of its own, not a test running beside it.
TEST(ProcessSnapshot, FindsAChildByItsNamePrefixInAnyCase) {
    TempDir dir;
    const std::string exe = testsupport::TestExecutablePath();
    const std::string unique = std::to_string(std::random_device()() % 900000 + 100000);
    const std::filesystem::path copy =
        dir.path() / ("tvq" + unique + "probe" + (exe.ends_with(".exe") ? ".exe" : ""));
    std::filesystem::copy_file(exe, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
    const std::string go = dir.File("go");
    platform::LaunchResult child = platform::LaunchCommandLine(
        platform::JoinCommandLine(copy.string(), {testsupport::ChildArgument("wait_for_go"), go}),
        {.wait = false, .show = false});
    ASSERT_TRUE(child.created) << child.reason;
    std::optional<platform::ProcessEntry> found;
    for (int i = 0; i < 3000 && !found; ++i) {
        found = platform::FindProcessByNamePrefix("TVQ" + unique + "Pro");
        if (!found)
            platform::SleepMs(20);
    }
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->id, child.id);
    EXPECT_FALSE(platform::FindProcessByNamePrefix("tvq" + unique + "prox").has_value());
    testsupport::WriteBytes(go, "go");
    EXPECT_EQ(platform::WaitForLaunched(child.id), std::optional<int>(0));
    EXPECT_FALSE(platform::WaitForLaunched(child.id).has_value()) << "waited for twice";
    EXPECT_EQ(platform::WaitForProcessEnd(kNoSuchProcess), WaitOutcome::kCannotOpen);
}

// Known by number and start time; a stranger (child of an ended child) is waited for too.
TEST(WaitForProcess, TimesOutOnARunningProcessSeesItsEndAndIgnoresAStaleIdentity) {
    TempDir dir;
    for (bool polling : {false, true}) {
        SCOPED_TRACE(polling ? "polling /proc" : "pidfd");
        const auto noPidfd = testsupport::PollProcessesIf(polling);
        const std::string go = dir.File(polling ? "go-polling" : "go-pidfd");
        platform::LaunchResult child = Start("wait_for_go", {go});
        ASSERT_TRUE(child.created) << child.reason;
        ASSERT_NE(child.startTime, 0u);
        const platform::ProcessIdentity ours{child.id, child.startTime};

        // The same number with another start time (Linux keeps the boot in
        // the top bits) is neither waited for nor ended.
        for (std::uint64_t other : {child.startTime + 1, child.startTime - 1, std::uint64_t{0},
                                    child.startTime ^ (std::uint64_t{1} << 60)}) {
            const platform::ProcessIdentity stale{child.id, other};
            EXPECT_FALSE(platform::IsStillRunning(stale));
            EXPECT_EQ(platform::WaitForProcess(stale, 0), WaitOutcome::kCannotOpen);
            EXPECT_EQ(platform::WaitForProcess(stale, platform::kNoTimeLimit),
                      WaitOutcome::kCannotOpen);
            EXPECT_FALSE(platform::EndProcessGroup(stale, 0));
        }
        EXPECT_EQ(platform::WaitForProcess(ours, 150), WaitOutcome::kTimedOut);
        EXPECT_TRUE(platform::IsStillRunning(ours)) << "a stale identity ended the process";

        const std::string report = dir.File(polling ? "id-polling" : "id-pidfd");
        platform::LaunchResult parent = platform::LaunchCommandLine(
            ChildLine("start_and_report", {"plain", report, "exit", "wait_for_go", go}),
            {.show = false});
        ASSERT_TRUE(parent.created) << parent.reason;
        ASSERT_EQ(parent.exitCode, 0);
        const platform::ProcessIdentity stranger = ReadIdentityFile(report);
        ASSERT_TRUE(platform::IsStillRunning(stranger));
        EXPECT_EQ(platform::WaitForProcess(stranger, 150), WaitOutcome::kTimedOut);

        {
            std::atomic<bool> released{false};
            std::jthread release([&] {
                platform::SleepMs(300);
                released = true;
                testsupport::WriteBytes(go, "go");
            });
            EXPECT_EQ(platform::WaitForProcess(ours, platform::kNoTimeLimit), WaitOutcome::kEnded);
            EXPECT_TRUE(released) << "the wait returned before the process ended";
            // Ended but not yet waited for by us: no longer running, still ours.
            EXPECT_FALSE(platform::IsStillRunning(ours));
            EXPECT_EQ(platform::WaitForProcess(ours, 0), WaitOutcome::kEnded);
            // Once ended, a stranger may already be gone altogether.
            EXPECT_NE(platform::WaitForProcess(stranger, 60000), WaitOutcome::kTimedOut);
        }
        EXPECT_FALSE(platform::IsStillRunning(stranger));
        EXPECT_EQ(platform::WaitForLaunched(child.id), std::optional<int>(0));
        // Gone, or ended and still held by the host: never a process to wait for.
        EXPECT_NE(platform::WaitForProcess(ours, 100), WaitOutcome::kTimedOut);
    }
}

TEST(EndProcessGroup, EndsTheLeaderAndWhatItStartedEvenAfterTheLeaderHasEnded) {
    TempDir dir;
    const std::string never = dir.File("never-written");
    for (bool leaderExits : {false, true}) {
        SCOPED_TRACE(leaderExits ? "leader ended first" : "leader running");
        const std::string report = dir.File(leaderExits ? "gc-exit" : "gc-stay");
        platform::LaunchResult leader =
            Start("start_and_report",
                  {"plain", report, leaderExits ? "exit" : never, "wait_for_go", never}, true);
        ASSERT_TRUE(leader.created) << leader.reason;
        const platform::ProcessIdentity group{leader.id, leader.startTime};
        const platform::ProcessIdentity grandchild = ReadIdentityFile(report);
        ASSERT_TRUE(platform::IsStillRunning(grandchild));
        if (leaderExits) {
            EXPECT_EQ(platform::WaitForLaunched(leader.id), std::optional<int>(0));
            EXPECT_FALSE(platform::IsStillRunning(group));
            platform::SleepMs(200);
            ASSERT_TRUE(platform::IsStillRunning(grandchild)) << "ended with its parent";
        }
        EXPECT_TRUE(platform::EndProcessGroup(group, 2000));
        EXPECT_TRUE(EndsWithin(grandchild));
        if (!leaderExits) {
            EXPECT_NE(platform::WaitForLaunched(leader.id).value_or(0), 0) << "ended by itself";
        }
        EXPECT_FALSE(platform::EndProcessGroup(group, 0)) << "nothing is left to end";
    }
}

// Linux holds a launch in a clone of the launcher or, where that cannot be
// (valgrind), in a gate: both are tried, the gate as a test makes it.
#ifdef _WIN32
constexpr bool kHeldInAGate[] = {false};
#else
constexpr bool kHeldInAGate[] = {false, true};
#endif

std::unique_ptr<testsupport::ScopedFaultRule> HoldInAGateIf(bool gate) {
    return gate ? std::make_unique<testsupport::ScopedFaultRule>(
                      testsupport::FailCalls(platform::HostCall::kHeldChild, -1))
                : nullptr;
}

TEST(LaunchHeld, RunsOnlyOnceReleasedAndNeverWhenItsLauncherEndsFirst) {
    TempDir dir;
    for (bool gate : kHeldInAGate) {
        SCOPED_TRACE(gate ? "held in a gate" : "held in a clone");
        const auto fault = HoldInAGateIf(gate);
        const std::string released = dir.File(gate ? "released by the gate" : "released");
        platform::LaunchResult held = Start("touch", {released}, true, true);
        ASSERT_TRUE(held.created) << held.reason;
        platform::SleepMs(300);
        EXPECT_FALSE(std::filesystem::exists(released)) << "ran before its release";
        EXPECT_TRUE(platform::ReleaseLaunched(held.id).ok());
        EXPECT_EQ(platform::WaitForLaunched(held.id), std::optional<int>(0));
        EXPECT_TRUE(std::filesystem::exists(released));
    }

    const std::string report = dir.File("identity");
    const std::string orphaned = dir.File("orphaned");
    platform::LaunchResult launcher =
        Start("start_and_report", {"held", report, "exit", "touch", orphaned});
    ASSERT_TRUE(launcher.created) << launcher.reason;
    EXPECT_EQ(platform::WaitForLaunched(launcher.id), std::optional<int>(0));
    EXPECT_TRUE(EndsWithin(ReadIdentityFile(report))) << "outlived its launcher, held";
    EXPECT_FALSE(std::filesystem::exists(orphaned)) << "ran without its release";
}

#ifndef _WIN32
// Linux executes the program only at the release: a program file removed
// meanwhile is the release's error, with the host's reason.
TEST(LaunchHeld, AProgramGoneBeforeTheReleaseIsItsError) {
    TempDir dir;
    const std::string program = dir.File("gone.sh");
    for (bool gate : kHeldInAGate) {
        SCOPED_TRACE(gate ? "held in a gate" : "held in a clone");
        const auto fault = HoldInAGateIf(gate);
        testsupport::WriteBytes(program, "#!/bin/sh\nexit 0\n");
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        platform::LaunchResult held =
            platform::LaunchCommandLine(platform::JoinCommandLine(program, {}),
                                        {.wait = false, .ownGroup = true, .held = true});
        ASSERT_TRUE(held.created) << held.reason;
        std::filesystem::remove(program);
        const platform::Status released = platform::ReleaseLaunched(held.id);
        EXPECT_FALSE(released.ok());
        EXPECT_NE(released.message().find("No such file"), std::string::npos) << released.message();
        EXPECT_EQ(platform::WaitForLaunched(held.id), std::optional<int>(127));
    }
}
#endif

TEST(RunAndCapture, CapturesBothOutputsTheExitCodeAndTakesExtraEnvironment) {
    TempDir dir;
    for (std::uint32_t limit : {platform::kNoTimeLimit, std::uint32_t{60000}}) {
        platform::CapturedRun run = platform::RunAndCapture(
            testsupport::TestExecutablePath(),
            {testsupport::ChildArgument("print_args"), "a b", "", "q\"uote\\", "%x%"},
            {{"TV_CAPTURE_VAR", "value with blanks"}}, limit);
        ASSERT_TRUE(run.started) << run.reason;
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 4);
        EXPECT_EQ(run.out, "a b||q\"uote\\|%x%|");
        EXPECT_EQ(run.err, "var=value with blanks");

        platform::CapturedRun missing =
            platform::RunAndCapture(dir.File("nothing-here"), {}, {}, limit);
        EXPECT_FALSE(missing.started);
        EXPECT_FALSE(missing.timedOut);
        EXPECT_FALSE(missing.reason.empty());
    }
}

// "exit": on Linux a grandchild left behind keeps the capture's pipe open.
TEST(RunAndCaptureTimeLimit, EndsTheProgramAndWhatItStartedAndKeepsTheOutput) {
    TempDir dir;
    std::vector<std::string> modes{"hang"};
#ifndef _WIN32
    modes.push_back("exit");
#endif
    for (const std::string& mode : modes) {
        SCOPED_TRACE(mode);
        const std::string report = dir.File("grandchild-" + mode);
        const std::string stay = mode == "exit" ? "exit" : dir.File("never-written");
        platform::CapturedRun run =
            platform::RunAndCapture(testsupport::TestExecutablePath(),
                                    {testsupport::ChildArgument("start_and_report"), "plain",
                                     report, stay, "wait_for_go", dir.File("never-written")},
                                    {}, 1500);
        ASSERT_TRUE(run.started) << run.reason;
        EXPECT_TRUE(run.timedOut);
        EXPECT_EQ(run.exitCode != 0, mode == "hang") << run.exitCode;
        EXPECT_NE(run.out.find("started"), std::string::npos) << run.out;
        const platform::ProcessIdentity grandchild = ReadIdentityFile(report);
        ASSERT_NE(grandchild.id, 0u);
        EXPECT_TRUE(EndsWithin(grandchild)) << "grandchild " << grandchild.id << " still runs";
    }
}

}  // namespace
