// The finish command run for real: the test binary itself is the command,
// re-run as a child that records its environment, fails, or hangs.
#include "app/end_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "app/batch_exec_file.h"
#include "app/batch_fixture_test_support.h"
#include "platform/command_line.h"
#include "platform/environment.h"
#include "platform/host_path.h"
#include "platform/settings_store_testing.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"

namespace {

using testsupport::ReadBytes;
using testsupport::WriteBytes;

// Writes the three variables, one a line, to the file argv[1]; then ends
// with the status argv[2], or sleeps for ever when it is "hang".
TV_TEST_CHILD(end_command) {
    if (argc < 3)
        return 4;
    std::string text;
    for (const char* name : {"TORVANE_REPORT", "TORVANE_JOBS_SUCCEEDED", "TORVANE_JOBS_FAILED"}) {
        const char* value = std::getenv(name);
        text += std::string(value != nullptr ? value : "<unset>") + "\n";
    }
    WriteBytes(argv[1], text);
    if (std::string(argv[2]) == "hang")
        std::this_thread::sleep_for(std::chrono::hours(1));
    return std::atoi(argv[2]);
}

class EndCommand : public ::testing::Test {
  protected:
    CString Command(const std::string& ending) const {
        return CString(
            platform::JoinCommandLine(testsupport::TestExecutablePath(),
                                      {testsupport::ChildArgument("end_command"), record, ending}));
    }
    EndCommandOutcome Run(const CString& command, std::uint32_t limitSeconds, std::string& errors) {
        testing::internal::CaptureStderr();
        EndCommandOutcome outcome = RunEndCommand(command, report, BatchTotals{7, 2}, limitSeconds);
        errors = testing::internal::GetCapturedStderr();
        return outcome;
    }

    testsupport::TempDir dir;
    std::string record = dir.File("variables.txt");
    // A report whose folder has blanks and a letter outside ASCII.
    CString report = CString(dir.File("night caf\xE9 batch")) + "\\batchreport.txt";
};

TEST_F(EndCommand, GetsTheReportAndTheTotalsInItsEnvironmentAndIsWaitedFor) {
    std::string errors;
    ASSERT_EQ(Run(Command("0"), 0, errors), EndCommandOutcome::kSucceeded);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(ReadBytes(record), platform::ToHostPath(report.str()) + "\n7\n2\n");
    // The launcher's own environment is as it was.
    EXPECT_EQ(std::getenv("TORVANE_REPORT"), nullptr);
}

TEST_F(EndCommand, EachFailureIsOneLineOnStandardError) {
    std::string errors;
    EXPECT_EQ(Run(Command("3"), 0, errors), EndCommandOutcome::kFailed);
    EXPECT_EQ(errors, "torvane-batch: the end command \"" + Command("3").str() +
                          "\" ended with status 3\n");

    const CString missing(platform::JoinCommandLine(dir.File("no such program.exe"), {"x"}));
    EXPECT_EQ(Run(missing, 0, errors), EndCommandOutcome::kCannotStart);
    EXPECT_EQ(
        errors.rfind(
            "torvane-batch: the end command \"" + missing.str() + "\" could not be started", 0),
        0u)
        << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;

    // A command that hangs is ended at the job time limit.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(Command("hang"), 1, errors), EndCommandOutcome::kTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(errors, "torvane-batch: the end command \"" + Command("hang").str() +
                          "\" was ended at the time limit of 1 seconds\n");
    EXPECT_EQ(ReadBytes(record), platform::ToHostPath(report.str()) + "\n7\n2\n");

    EXPECT_EQ(Run(CString(), 0, errors), EndCommandOutcome::kNotRun);
    EXPECT_EQ(errors, "");
}

class EndOfABatch : public apptest::BatchFixture {};

TEST_F(EndOfABatch, RunsOnlyOnceEveryEntryHasFinishedWithTheQueuesTotals) {
    LoadUsers({"anne"});
    const std::string record = dir.File("variables.txt");
    ASSERT_TRUE(platform::SetSettingsString(
        platform::SettingsRoot::LocalMachine, GetRegistryKeyPath().str(), "BATCHENDCOMMAND",
        platform::JoinCommandLine(testsupport::TestExecutablePath(),
                                  {testsupport::ChildArgument("end_command"), record, "0"})));
    auto runAfter = [&](const std::string& queueText) {
        WriteBatchFile("batchexec.txt", queueText);
        KvBatchExecFile queue(batch, &users);
        EXPECT_TRUE(queue.Open("r"));
        queue.Read();
        queue.Close();
        return RunBatchEndCommand(queue);
    };
    EXPECT_EQ(runAfter(apptest::QueueText({{"anne", "a", 2, 1, 0}, {"anne", "b", 0, 0, 0}})),
              EndCommandOutcome::kNotRun);
    EXPECT_FALSE(std::filesystem::exists(record));

    EXPECT_EQ(runAfter(apptest::QueueText(
                  {{"anne", "a", 2, 1, 0}, {"anne", "b", 2, 0, 1}, {"anne", "c", 2, 1, 0}})),
              EndCommandOutcome::kSucceeded);
    EXPECT_EQ(ReadBytes(record),
              platform::ToHostPath((batch + "batchreport.txt").str()) + "\n2\n1\n");
}

}  // namespace
