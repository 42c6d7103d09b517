// The batch run with a scripted launcher and a sleep that returns at once:
// the branches of the driver the end-to-end tests (tools/) do not reach,
// checked through the queue file's text, the report's lines and the job
// logs, as other programs would see them.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/batch_fixture_test_support.h"
#include "app/batch_report_file.h"
#include "app/batch_run_test_support.h"

namespace {

namespace fs = std::filesystem;
using apptest::QueueText;
using apptest::RanBlock;
using apptest::SkippedBlock;

using apptest::Outcome;

// The program's entry into the run, with the machine's settings, on the
// scripted host.
class QueueRun : public apptest::BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        LoadUsers({"anne", "bob"});
    }

    bool Run() {
        KvBatchExecFile queue(batch, &users);
        return queue.RunBatch(fake.Host());
    }

    apptest::FakeJobHost fake{users};
    std::vector<std::string>& launched = fake.launched;
    std::vector<std::string>& commandLines = fake.commandLines;
    std::map<std::string, Outcome>& outcomes = fake.outcomes;
    std::function<void(std::uint32_t)>& onPause = fake.onPause;
};

TEST_F(QueueRun, AFailedPredecessorSkipsTheChainBehindIt) {
    // b waits for a, which fails; c waits for b, which is then skipped; d
    // does not wait and runs anyway.
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "a.gam"},
                                               {"anne", "b.gam", 0, 0, 1},
                                               {"bob", "c.gam", 0, 0, 1},
                                               {"bob", "d.gam"}}));
    outcomes["a.gam"] = Outcome::kFails;
    std::vector<std::string> queueAtEachPause;
    onPause = [&](std::uint32_t) { queueAtEachPause.push_back(ReadBatchFile("batchexec.txt")); };
    ASSERT_TRUE(Run());

    EXPECT_EQ(launched, (std::vector<std::string>{"a.gam", "d.gam"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              RanBlock("anne", "a.gam", false, {"ran a.gam"}) + SkippedBlock("anne", "b.gam") +
                  SkippedBlock("bob", "c.gam") + RanBlock("bob", "d.gam", true, {"ran d.gam"}));
    // After the first job, the queue shows it failed and the others waiting.
    ASSERT_EQ(queueAtEachPause.size(), 2u);
    EXPECT_EQ(queueAtEachPause[0], QueueText({{"anne", "a.gam", 2, 0, 0},
                                              {"anne", "b.gam", 0, 0, 1},
                                              {"bob", "c.gam", 0, 0, 1},
                                              {"bob", "d.gam"}}));
    EXPECT_EQ(queueAtEachPause[1], QueueText({{"anne", "a.gam", 2, 0, 0},
                                              {"anne", "b.gam", 2, 0, 1},
                                              {"bob", "c.gam", 2, 0, 1},
                                              {"bob", "d.gam", 2, 1, 0}}));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(QueueRun, AnEmptyQueueRetiresTheProjectFilesWithoutOverwritingAnOldCopy) {
    WriteBatchFile("batchexec.txt", "nb = 0\r\n");
    WriteBatchFile("anne-BATCH.tvs", "no job records\n");
    WriteBatchFile("bob-BATCH.tvs", "bob's records\n");
    WriteBatchFile("bob-BATCH.tmp", "older copy\n");
    ASSERT_TRUE(Run());
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
    EXPECT_FALSE(fs::exists(BatchFile("anne-BATCH.tvs")));
    EXPECT_FALSE(fs::exists(BatchFile("bob-BATCH.tvs")));
    EXPECT_EQ(ReadBatchFile("anne-BATCH.tmp"), "no job records\n");
    // The old retired copy is removed before the new one is made.
    EXPECT_EQ(ReadBatchFile("bob-BATCH.tmp"), "bob's records\n");
    EXPECT_FALSE(fs::exists(BatchFile("batchreport.txt")));
}

TEST_F(QueueRun, AJobOfAnUnknownUserFinishesFailedWithoutReportLines) {
    WriteBatchFile("batchexec.txt", QueueText({{"carol", "c"}, {"ANNE", "case"}, {"anne", "a"}}));
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"a"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("anne", "a", true, {"ran a"}));
}

TEST_F(QueueRun, ALaunchFailureBecomesAnEventInTheJobsLogAndTheJobFails) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "unstartable.gam"}, {"bob", "broken"}}));
    outcomes["unstartable.gam"] = Outcome::kCannotStart;
    outcomes["broken"] = Outcome::kThrows;
    // Nobody watches: no message box (the host's stand-in for one is a line
    // on standard error).
    testing::internal::CaptureStderr();
    const bool ran = Run();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(ran);

    std::string commandLine = commandLines[0];
    FichierLogBatch log;
    ASSERT_EQ(log.Load(batch + "unstartable.log"), 0);
    ASSERT_EQ(log.m_eventList.GetCount(), 1u);
    EXPECT_EQ(log.m_eventList.GetAt(0)->str(), "Cannot start the job: " + commandLine);
    EXPECT_FALSE(log.m_simuOK);

    // The launcher that throws: counted as failed; its log does not exist,
    // so the summary repeats what the log object last held.
    std::string report = ReadBatchFile("batchreport.txt");
    EXPECT_EQ(report,
              RanBlock("anne", "unstartable.gam", false, {"Cannot start the job: " + commandLine}) +
                  RanBlock("bob", "broken", false, {"Cannot start the job: " + commandLine}));
}

TEST_F(QueueRun, AJobWithoutALogReportsWhatTheLogObjectHeld) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "ok"}, {"anne", "crashed"}}));
    outcomes["crashed"] = Outcome::kWritesNoLog;
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("anne", "ok", true, {"ran ok"}) +
                                                    RanBlock("anne", "crashed", true, {"ran ok"}));
}

TEST_F(QueueRun, AMissingBatchFolderStopsTheRunNamingTheFile) {
    KvBatchExecFile queue(batch + "gone\\", &users);
    EXPECT_FALSE(queue.RunBatch(fake.Host()));
    EXPECT_NE(queue.GetRunFailure().context().find("gone"), std::string::npos);
    EXPECT_FALSE(queue.GetRunFailure().message().empty());
    EXPECT_TRUE(launched.empty());
}

}  // namespace
