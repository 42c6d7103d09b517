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
#include <vector>

#include "app/batch_exec_file.h"
#include "app/batch_fixture_test_support.h"
#include "platform/command_line.h"
#include "platform/host_path.h"
#include "platform/settings_store_testing.h"
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

class EndCommand : public apptest::BatchFixture {
  protected:
    CString Command(const std::string& ending) const {
        return CString(
            platform::JoinCommandLine(testsupport::TestExecutablePath(),
                                      {testsupport::ChildArgument("end_command"), record, ending}));
    }
    EndCommandOutcome Run(const CString& command, std::uint32_t limitSeconds = 0) {
        testing::internal::CaptureStderr();
        EndCommandOutcome outcome = RunEndCommand(command, report, BatchTotals{7, 2}, limitSeconds);
        errors = testing::internal::GetCapturedStderr();
        return outcome;
    }
    std::string Line(const CString& command, const std::string& what) const {
        return "torvane-batch: the end command \"" + command.str() + "\" " + what;
    }

    std::string record = dir.File("variables.txt");
    // A report whose folder has blanks and a letter outside ASCII.
    CString report = CString(dir.File("night caf\xE9 batch")) + "\\batchreport.txt";
    std::string errors;
};

TEST_F(EndCommand, GetsTheReportAndTotalsInItsEnvironmentAndEachFailureIsOneLine) {
    ASSERT_EQ(Run(Command("0")), EndCommandOutcome::kSucceeded);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(ReadBytes(record), platform::ToHostPath(report.str()) + "\n7\n2\n");
    EXPECT_EQ(std::getenv("TORVANE_REPORT"), nullptr) << "the launcher's own is as it was";
    EXPECT_EQ(Run(CString()), EndCommandOutcome::kNotRun);
    EXPECT_EQ(errors, "");

    EXPECT_EQ(Run(Command("3")), EndCommandOutcome::kFailed);
    EXPECT_EQ(errors, Line(Command("3"), "ended with status 3\n"));
    const CString missing(platform::JoinCommandLine(dir.File("no such program.exe"), {"x"}));
    EXPECT_EQ(Run(missing), EndCommandOutcome::kCannotStart);
    EXPECT_EQ(errors.rfind(Line(missing, "could not be started"), 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    // A command that hangs is ended at the job time limit.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(Command("hang"), 1), EndCommandOutcome::kTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(errors, Line(Command("hang"), "was ended at the time limit of 1 seconds\n"));
}

TEST_F(EndCommand, RunsAtTheEndOfABatchOnlyOnceEveryEntryHasFinishedWithTheQueuesTotals) {
    LoadUsers({"anne"});
    ASSERT_TRUE(platform::SetSettingsString(platform::SettingsRoot::LocalMachine,
                                            GetRegistryKeyPath().str(), "BATCHENDCOMMAND",
                                            Command("0").str()));
    auto runAfter = [&](const std::vector<apptest::Entry>& entries) {
        WriteBatchFile("batchexec.txt", apptest::QueueText(entries));
        KvBatchExecFile queue(batch, &users);
        EXPECT_TRUE(queue.Open("r"));
        queue.Read();
        queue.Close();
        return RunBatchEndCommand(queue);
    };
    EXPECT_EQ(runAfter({{"anne", "a", 2, 1}, {"anne", "b"}}), EndCommandOutcome::kNotRun);
    EXPECT_FALSE(std::filesystem::exists(record));
    EXPECT_EQ(runAfter({{"anne", "a", 2, 1}, {"anne", "b", 2, 0, 1}, {"anne", "c", 2, 1}}),
              EndCommandOutcome::kSucceeded);
    EXPECT_EQ(ReadBytes(record),
              platform::ToHostPath((batch + "batchreport.txt").str()) + "\n2\n1\n");
}

}  // namespace
