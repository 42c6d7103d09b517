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

bool AlwaysBatch() {
    return true;
}

enum class Outcome { kSucceeds, kFails, kWritesNoLog, kCannotStart, kThrows };

class BatchRun : public apptest::BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        LoadUsers({"anne", "bob"});
        BatchModeHook = AlwaysBatch;
        ErrorMessageHook = AppendEventToJobLog;
    }

    // The job name of a command line: the last quoted argument.
    static std::string JobOf(std::string_view line) {
        std::size_t end = line.rfind('"');
        std::size_t begin = line.rfind('"', end - 1);
        return std::string(line.substr(begin + 1, end - begin - 1));
    }

    BatchRunHost Host() {
        BatchRunHost host;
        host.clock = [] { return std::string(kStamp); };
        host.sleep = [this](std::uint32_t ms) {
            pauses.push_back(ms);
            if (onPause)
                onPause(ms);
        };
        host.launcher = [this](std::string_view line, const platform::LaunchOptions& options) {
            EXPECT_TRUE(options.wait);
            std::string job = JobOf(line);
            commandLines.push_back(std::string(line));
            launched.push_back(job);
            if (duringJob)
                duringJob(job);
            platform::LaunchResult result;
            Outcome outcome = outcomes.count(job) ? outcomes[job] : Outcome::kSucceeds;
            if (outcome == Outcome::kCannotStart) {
                result.reason = "not found";
                return result;
            }
            if (outcome == Outcome::kThrows)
                throw std::runtime_error("launcher broke");
            result.created = true;
            result.exitCode = 0;
            if (outcome != Outcome::kWritesNoLog) {
                FichierLogBatch log;
                log.m_simuOK = outcome == Outcome::kSucceeds;
                *log.m_eventList.NewElement() = CString("ran " + job);
                log.m_nbAlerts = 0;
                log.Save(g_currentJobLogPath);
            }
            return result;
        };
        return host;
    }

    bool Run() {
        KvBatchExecFile queue(batch, &users);
        return queue.RunBatch(Host());
    }

    std::vector<std::string> launched;
    std::vector<std::string> commandLines;
    std::vector<std::uint32_t> pauses;
    std::map<std::string, Outcome> outcomes;
    std::function<void(const std::string&)> duringJob;
    std::function<void(std::uint32_t)> onPause;
};

TEST_F(BatchRun, AJobWaitingForASuccessfulPredecessorRunsAfterIt) {
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

TEST_F(BatchRun, AFailedPredecessorSkipsTheChainBehindIt) {
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

TEST_F(BatchRun, AnExistingQueueKeepsItsReportAndTheFirstEntryNeverWaits) {
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

TEST_F(BatchRun, APredecessorLeftRunningIsPolledUntilAnotherProgramFinishesIt) {
    WriteBatchFile("batchexec.txt",
                   QueueText({{"anne", "interrupted", 1, 0, 0}, {"anne", "next", 0, 0, 1}}));
    onPause = [&](std::uint32_t ms) {
        // The simulator's tools mark the interrupted job done after 3 polls.
        if (ms == 1000 && pauses.size() == 3)
            WriteBatchFile("batchexec.txt", QueueText({{"anne", "interrupted", 2, 1, 0},
                                                       {"anne", "next", 0, 0, 1}}));
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"next"}));
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{1000, 1000, 1000, 2000}));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(BatchRun, AJobLeftRunningKeepsTheQueueAndTheProjectFiles) {
    WriteProject("anne", {{"x", 0}});
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "x", 1, 0, 0}, {"anne", "y"}}));
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"y"}));
    EXPECT_EQ(ReadBatchFile("batchexec.txt"),
              QueueText({{"anne", "x", 1, 0, 0}, {"anne", "y", 2, 1, 0}}));
    EXPECT_TRUE(fs::exists(BatchFile("anne-BATCH.tvs")));
    EXPECT_FALSE(fs::exists(BatchFile("anne-BATCH.tmp")));
}

TEST_F(BatchRun, AnEmptyQueueRetiresTheProjectFilesWithoutOverwritingAnOldCopy) {
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

TEST_F(BatchRun, AJobOfAnUnknownUserFinishesFailedWithoutReportLines) {
    WriteBatchFile("batchexec.txt", QueueText({{"carol", "c"}, {"ANNE", "case"}, {"anne", "a"}}));
    ASSERT_TRUE(Run());
    EXPECT_EQ(launched, (std::vector<std::string>{"a"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("anne", "a", true, {"ran a"}));
}

TEST_F(BatchRun, EditsMadeWhileAJobRunsAreTakenOver) {
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

TEST_F(BatchRun, ALaunchFailureBecomesAnEventInTheJobsLogAndTheJobFails) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "unstartable.gam"}, {"bob", "broken"}}));
    outcomes["unstartable.gam"] = Outcome::kCannotStart;
    outcomes["broken"] = Outcome::kThrows;
    ASSERT_TRUE(Run());

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

TEST_F(BatchRun, AJobWithoutALogReportsWhatTheLogObjectHeld) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "ok"}, {"anne", "crashed"}}));
    outcomes["crashed"] = Outcome::kWritesNoLog;
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("anne", "ok", true, {"ran ok"}) +
                                                    RanBlock("anne", "crashed", true, {"ran ok"}));
}

TEST_F(BatchRun, NamesTheCommandLineCannotCarryAreNeverLaunched) {
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
    EXPECT_EQ(log.m_eventList.GetAt(0)->str(),
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

TEST_F(BatchRun, AnInstallationFolderTheCommandLineCannotCarryFailsEveryLaunch) {
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

TEST_F(BatchRun, AMissingBatchFolderStopsTheRunNamingTheFile) {
    KvBatchExecFile queue(batch + "gone\\", &users);
    EXPECT_FALSE(queue.RunBatch(Host()));
    EXPECT_NE(queue.GetRunFailure().path.Find("gone"), -1);
    EXPECT_FALSE(queue.GetRunFailure().reason.empty());
    EXPECT_TRUE(launched.empty());
}

}  // namespace
