// The batch run with a scripted launcher and a sleep that returns at once:
// every branch of the driver, checked through the queue file's text, the
// report's lines and the job logs, as other programs would see them.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/batch_report_file.h"
#include "app/batch_run_test_support.h"
#include "app/batch_test_fixture.h"

namespace {

namespace fs = std::filesystem;
using apptest::Ended;
using apptest::Entry;
using apptest::kStamp;
using apptest::QueueText;
using apptest::RanBlock;
using apptest::SkippedBlock;
using apptest::Started;

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
    void SetMachineValue(const char* name, const std::string& value) {
        ASSERT_TRUE(platform::SetSettingsString(platform::SettingsRoot::LocalMachine,
                                                GetRegistryKeyPath().str(), name, value));
    }

    apptest::FakeJobHost fake{users};
    std::vector<std::string>& launched = fake.launched;
    std::vector<std::string>& commandLines = fake.commandLines;
    std::vector<std::uint32_t>& pauses = fake.pauses;
    std::map<std::string, Outcome>& outcomes = fake.outcomes;
    std::function<void(const std::string&)>& duringJob = fake.duringJob;
    std::function<void(std::uint32_t)>& onPause = fake.onPause;
};

TEST_F(QueueRun, AJobWaitingForASuccessfulPredecessorRunsAfterIt) {
    WriteProject("anne", {{"a", 0}, {"b", 1}});
    WriteProject("bob", {{"c", 0}});
    WriteBatchFile("batchreport.txt", "report of an older batch\r\n");
    ASSERT_TRUE(Run());

    EXPECT_EQ(launched, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(commandLines[0], "\"" + install.str() + "TorvaneBatch.bat\" -b -u \"anne\" -j \"a\"");
    // The queue had to be rebuilt: a new report.
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("anne", "a", true, {"ran a"}) +
                                                    RanBlock("anne", "b", true, {"ran b"}) +
                                                    RanBlock("bob", "c", true, {"ran c"}));
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{2000, 2000, 2000}));
    // Every job finished: the project files are retired and the queue is gone.
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
    EXPECT_FALSE(fs::exists(BatchFile("anne-BATCH.tvs")));
    EXPECT_NE(ReadBatchFile("anne-BATCH.tmp").find("nom = b"), std::string::npos);
    EXPECT_NE(ReadBatchFile("bob-BATCH.tmp").find("nom = c"), std::string::npos);
}

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

TEST_F(QueueRun, AnExistingQueueKeepsItsReportAndTheFirstEntryNeverWaits) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "first", 0, 0, 1}}));
    WriteBatchFile("batchreport.txt", "older lines\r\n");
    std::string queueDuringJob;
    duringJob = [&](const std::string&) { queueDuringJob = ReadBatchFile("batchexec.txt"); };
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"first"}));
    // While the job runs the queue is closed and shows it running.
    EXPECT_EQ(queueDuringJob, QueueText({{"anne", "first", 1, 0, 0}}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              "older lines\r\n" + RanBlock("anne", "first", true, {"ran first"}));
}

TEST_F(QueueRun, AnEntryLeftRunningByAnInterruptedRunRunsAgainAndTheRunEnds) {
    // The night of a launcher that died: no record of the interrupted job's
    // process, its waiter behind it, a free job after them.
    WriteProject("anne", {{"interrupted", 0}, {"next", 1}, {"free", 0}});
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"anne", "interrupted", 1, 0, 0}, {"anne", "next", 0, 0, 1}, {"anne", "free"}}));
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"interrupted", "next", "free"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              std::string(kStamp) +
                  " -> User \"anne\": job interrupted, run again from the start: "
                  "\"interrupted\"\r\n" +
                  RanBlock("anne", "interrupted", true, {"ran interrupted"}) +
                  RanBlock("anne", "next", true, {"ran next"}) +
                  RanBlock("anne", "free", true, {"ran free"}));
    // Every job finished: the batch is retired as after any night.
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
    EXPECT_FALSE(fs::exists(BatchFile("batchjournal.txt")));
    EXPECT_TRUE(fs::exists(BatchFile("anne-BATCH.tmp")));
}

TEST_F(QueueRun, TheMachineSettingsSetTheTimeLimitAndThePauseAfterEachJob) {
    SetMachineValue("BATCHJOBTIMEOUT", "3");
    SetMachineValue("BATCHJOBPAUSE", " 250 ");
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"anne", "hangs"}, {"anne", "after hangs", 0, 0, 1}, {"bob", "quick"}}));
    fake.durations["hangs"] = 30000;
    fake.durations["quick"] = 2900;
    ASSERT_TRUE(Run());

    EXPECT_EQ(launched, (std::vector<std::string>{"hangs", "quick"}));
    EXPECT_EQ(fake.endedGroups, (std::vector<std::string>{"hangs"}));
    EXPECT_EQ(fake.waitLimits, (std::vector<std::uint32_t>{3000, 3000}));
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{250, 250}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              RanBlock("anne", "hangs", false, {"Ended at its time limit (seconds): 3"}) +
                  SkippedBlock("anne", "after hangs") +
                  RanBlock("bob", "quick", true, {"ran quick"}));
}

TEST_F(QueueRun, SettingsThatAreNotNumbersLeaveNoLimitAndTheUsualPause) {
    SetMachineValue("BATCHJOBTIMEOUT", "ten minutes");
    SetMachineValue("BATCHJOBPAUSE", "-5");
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "long"}}));
    fake.durations["long"] = 10 * 3600 * 1000;
    ASSERT_TRUE(Run());
    EXPECT_EQ(fake.waitLimits, (std::vector<std::uint32_t>{platform::kNoTimeLimit}));
    EXPECT_TRUE(fake.endedGroups.empty());
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{2000}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("anne", "long", true, {"ran long"}));
}

TEST_F(QueueRun, AnEntryInAStateOfNoMeaningIsLeftAloneAndKeepsTheQueueAndTheProjectFiles) {
    // Its waiter can never start: the run ends all the same.
    WriteProject("anne", {{"x", 0}});
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"anne", "x", 3, 0, 0}, {"anne", "after x", 0, 0, 1}, {"anne", "y"}}));
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"y"}));
    EXPECT_EQ(
        ReadBatchFile("batchexec.txt"),
        QueueText({{"anne", "x", 3, 0, 0}, {"anne", "after x", 0, 0, 1}, {"anne", "y", 2, 1, 0}}));
    EXPECT_TRUE(fs::exists(BatchFile("anne-BATCH.tvs")));
    EXPECT_FALSE(fs::exists(BatchFile("anne-BATCH.tmp")));
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

TEST_F(QueueRun, EditsMadeWhileAJobRunsAreTakenOver) {
    WriteBatchFile("batchexec.txt",
                   QueueText({{"anne", "a"}, {"anne", "cancelled"}, {"bob", "b"}}));
    duringJob = [&](const std::string& job) {
        if (job != "a")
            return;
        // Another program cancels a waiting job and queues one more.
        WriteBatchFile("batchexec.txt", QueueText({{"anne", "a", 1, 0, 0},
                                                   {"anne", "cancelled", 2, 0, 0},
                                                   {"bob", "b"},
                                                   {"bob", "late"}}));
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"a", "b", "late"}));
}

TEST_F(QueueRun, ALaunchFailureBecomesAnEventInTheJobsLogAndTheJobFails) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "unstartable.gam"}, {"bob", "broken"}}));
    outcomes["unstartable.gam"] = Outcome::kCannotStart;
    outcomes["broken"] = Outcome::kThrows;
    ASSERT_TRUE(Run());

    std::string commandLine = commandLines[0];
    FichierLogBatch log;
    ASSERT_EQ(log.Load(batch + "unstartable.log"), 0);
    ASSERT_EQ(log.m_eventList.GetCount(), 1u);
    EXPECT_EQ(std::string(log.m_eventList[0]), "Cannot start the job: " + commandLine);
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

TEST_F(QueueRun, NamesTheCommandLineCannotCarryAreNeverLaunched) {
    // A line feed cannot stand inside a queue line at all; a tab or another
    // control character can, and is refused like it.
    const std::vector<std::string> hostile = {"a\" & echo x > f & \"", "%PATH%", "!x!",
                                              "tab\tinside"};
    const std::vector<std::string> fine = {"piece 1 & 2 (copy) ^3",
                                           "pi\xE8"
                                           "ce \xC9t\xE9"};
    std::vector<Entry> entries;
    for (const std::string& name : hostile) entries.push_back({"anne", name});
    for (const std::string& name : fine) entries.push_back({"bob", name});
    WriteBatchFile("batchexec.txt", QueueText(entries));
    ASSERT_TRUE(Run());

    EXPECT_EQ(launched, fine);
    std::string report = ReadBatchFile("batchreport.txt");
    FichierLogBatch log;
    ASSERT_EQ(log.Load(batch + "%PATH%.log"), 0);
    ASSERT_EQ(log.m_eventList.GetCount(), 1u);
    EXPECT_EQ(std::string(log.m_eventList[0]),
              "Cannot start the job: job \"%PATH%\" of user \"anne\" not started: the job name "
              "holds the character '%', which the command line cannot pass intact");
    EXPECT_FALSE(log.m_simuOK);
    EXPECT_NE(report.find(RanBlock(
                  "anne", "!x!", false,
                  {"Cannot start the job: job \"!x!\" of user \"anne\" not started: the job name "
                   "holds the character '!', which the command line cannot pass intact"})),
              std::string::npos);
    EXPECT_NE(report.find("User \"anne\": starts job \"tab?inside\""), std::string::npos);
    EXPECT_NE(report.find("holds the character 0x09"), std::string::npos);
    EXPECT_NE(report.find(RanBlock("bob", fine[0], true, {"ran " + fine[0]})), std::string::npos);
}

TEST_F(QueueRun, AnInstallationFolderTheCommandLineCannotCarryFailsEveryLaunch) {
    ASSERT_TRUE(platform::SetSettingsString(platform::SettingsRoot::LocalMachine,
                                            GetRegistryKeyPath().str(), "REPSOFTWARE",
                                            "C:\\Torvane 100%\\"));
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "a"}, {"bob", "b"}}));
    ASSERT_TRUE(Run());
    EXPECT_TRUE(launched.empty());
    std::string report = ReadBatchFile("batchreport.txt");
    EXPECT_NE(report.find("job \"b\" of user \"bob\" not started: the installation folder holds "
                          "the character '%'"),
              std::string::npos);
    EXPECT_EQ(report.find("Simulation succeeded: 1"), std::string::npos);
}

TEST_F(QueueRun, AMissingBatchFolderStopsTheRunNamingTheFile) {
    KvBatchExecFile queue(batch + "gone\\", &users);
    EXPECT_FALSE(queue.RunBatch(fake.Host()));
    EXPECT_NE(queue.GetRunFailure().context().find("gone"), std::string::npos);
    EXPECT_FALSE(queue.GetRunFailure().message().empty());
    EXPECT_TRUE(launched.empty());
}

}  // namespace
