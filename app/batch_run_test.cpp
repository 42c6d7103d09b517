// The batch run's driver on a scripted host, through the queue, the report,
// the job logs and the journal as other programs see them: the chains a
// failure skips, an empty queue, unknown users, launches that fail, what the
// next launcher does with each entry an interrupted run left in state 1 (told
// by the journal), an entry another program sets running, and a job past its
// time limit. The nights the real launcher is killed in are in tools/.
#include "app/batch_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/batch_fixture_test_support.h"
#include "app/batch_run_test_support.h"
#include "app/job_run.h"
#include "platform/current_process.h"

namespace {

namespace fs = std::filesystem;
using apptest::EndedBlock;
using apptest::kStamp;
using apptest::Outcome;
using apptest::QueueText;
using apptest::RanBlock;
using apptest::SkippedBlock;

const char* const kStillRunning =
    ": job interrupted with its launcher and still running, now waited for: ";
const char* const kEndedMeanwhile =
    ": job interrupted with its launcher, ended meanwhile, outcome taken from its log: ";
const char* const kRunAgain = ": job interrupted, run again from the start: ";

std::string Note(const std::string& user, const std::string& job, const char* text) {
    return std::string(kStamp) + " -> User \"" + user + "\"" + text + "\"" + job + "\"\r\n";
}

class Driver : public apptest::RunFixture {
  protected:
    bool Run(BatchRunSettings settings = BatchRunSettings()) {
        BatchRunHost host = fake.Host();
        KvBatchExecFile queue(batch, &users);
        BatchRun run(queue, host, settings);
        return run.Run();
    }
    // The program's entry into the run, with the machine's settings.
    bool RunBatch() {
        KvBatchExecFile queue(batch, &users);
        return queue.RunBatch(fake.Host());
    }

    // The journal an interrupted launcher left: `job` of anne at `position`,
    // launched 5 s ago (on the fake clock) as `process`.
    void LeaveRecord(const std::string& job, unsigned position, int attempt,
                     platform::ProcessIdentity process) {
        JournalRecord record = Record(job, position);
        record.attempt = attempt;
        record.firstLaunchMs = launchedAt - 3600 * 1000 * (attempt - 1);
        record.launchMs = launchedAt;
        record.process = process;
        LeaveJournal({record});
    }

    std::int64_t launchedAt = fake.now - 5000;
    // A process that has ended since: not in the fake's table.
    const platform::ProcessIdentity gone{4242, 99};
};

TEST_F(Driver, ATakenOverJobKeepsTheTimeLimitCountedFromItsLaunch) {
    // Launched 5 s ago with a limit of 8 s: 3 s are left, and it needs 60.
    WriteBatchFile("batchexec.txt",
                   QueueText({{"anne", "x", 1, 0, 0}, {"anne", "after x", 0, 0, 1}}));
    LeaveRecord("x", 0, 1, fake.LeaveRunning("anne", "x", 60000));
    BatchRunSettings settings;
    settings.timeLimitSeconds = 8;
    ASSERT_TRUE(Run(settings));

    EXPECT_TRUE(fake.launched.empty());
    EXPECT_EQ(fake.waitLimits, (std::vector<std::uint32_t>{3000}));
    EXPECT_EQ(fake.endedGroups, (std::vector<std::string>{"x"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              Note("anne", "x", kStillRunning) +
                  EndedBlock("anne", "x", false, {"Ended at its time limit (seconds): 8"}) +
                  SkippedBlock("anne", "after x"));

    // Past its limit already when taken up: ended at once.
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "y", 1, 0, 0}}));
    launchedAt = fake.now - 9000;
    LeaveRecord("y", 0, 1, fake.LeaveRunning("anne", "y", 60000));
    ASSERT_TRUE(Run(settings));
    EXPECT_EQ(fake.waitLimits.back(), 0u);
    EXPECT_EQ(fake.endedGroups.back(), "y");
}

TEST_F(Driver, AJobThatEndedAfterItsLaunchHasItsOutcomeTakenFromItsLog) {
    WriteBatchFile("batchexec.txt",
                   QueueText({{"anne", "x", 1, 0, 0}, {"anne", "after x", 0, 0, 1}}));
    LeaveRecord("x", 0, 1, gone);
    fake.now -= 1000;  // its log was written 4 s after its launch, and says it failed
    fake.WriteLog(batch + "x.log", false, "tool broke");
    fake.now += 1000;
    ASSERT_TRUE(Run());

    EXPECT_TRUE(fake.launched.empty());
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), Note("anne", "x", kEndedMeanwhile) +
                                                    EndedBlock("anne", "x", false, {"tool broke"}) +
                                                    SkippedBlock("anne", "after x"));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(Driver, AJobGoneWithoutANewerLogRunsAgainInItsPlace) {
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"bob", "first"}, {"anne", "x", 1, 0, 0}, {"anne", "after x", 0, 0, 1}}));
    LeaveRecord("x", 1, 1, gone);
    // A log from an earlier night, older than the launch.
    fake.now = launchedAt - 1;
    fake.WriteLog(batch + "x.log", true, "last week");
    fake.now = launchedAt + 5000;

    std::vector<JournalRecord> atLaunch;
    fake.duringJob = [&](const std::string& job) {
        BatchJournal journal(batch);
        ASSERT_TRUE(journal.Load());
        EXPECT_EQ(journal.Launcher(), platform::CurrentProcessId());
        if (job == "x")
            atLaunch = journal.Records();
    };
    ASSERT_TRUE(Run());

    // In its place: after the job before it, before its waiter.
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"first", "x", "after x"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              Note("anne", "x", kRunAgain) + RanBlock("bob", "first", true, {"ran first"}) +
                  RanBlock("anne", "x", true, {"ran x"}) +
                  RanBlock("anne", "after x", true, {"ran after x"}));
    // The second attempt, recorded before its launch: the first launch time
    // is kept, the process is not known yet.
    ASSERT_EQ(atLaunch.size(), 1u);
    EXPECT_EQ(atLaunch[0].attempt, 2);
    EXPECT_EQ(atLaunch[0].position, 1u);
    EXPECT_EQ(atLaunch[0].firstLaunchMs, launchedAt);
    EXPECT_GT(atLaunch[0].launchMs, launchedAt);
    EXPECT_EQ(atLaunch[0].process.id, 0u);
}

TEST_F(Driver, AnEntrySetRunningByAnotherProgramIsTakenUpOnceOnlyItsWaitersAreLeft) {
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"anne", "a"}, {"anne", "p"}, {"anne", "waits for p", 0, 0, 1}, {"bob", "z"}}));
    fake.duringJob = [&](const std::string& job) {
        if (job == "a")
            WriteBatchFile("batchexec.txt", QueueText({{"anne", "a", 1, 0, 0},
                                                       {"anne", "p", 1, 0, 0},
                                                       {"anne", "waits for p", 0, 0, 1},
                                                       {"bob", "z"}}));
    };
    ASSERT_TRUE(Run());

    // z runs first; only then is p, which no launcher watches, taken up.
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"a", "z", "p", "waits for p"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              RanBlock("anne", "a", true, {"ran a"}) + RanBlock("bob", "z", true, {"ran z"}) +
                  Note("anne", "p", kRunAgain) + RanBlock("anne", "p", true, {"ran p"}) +
                  RanBlock("anne", "waits for p", true, {"ran waits for p"}));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(Driver, TheJournalHoldsOnlyTheJobThatRunsWhateverTheLengthOfTheQueue) {
    std::vector<apptest::Entry> entries;
    for (int i = 0; i < 60; ++i) entries.push_back({"bob", "job" + std::to_string(i)});
    WriteBatchFile("batchexec.txt", QueueText(entries));
    std::uintmax_t largestBytes = 0;
    fake.duringJob = [&](const std::string& job) {
        BatchJournal journal(batch);
        ASSERT_TRUE(journal.Load());
        largestBytes = std::max(largestBytes, fs::file_size(BatchFile("batchjournal.txt")));
        ASSERT_EQ(journal.Records().size(), 1u);
        EXPECT_EQ(journal.Records()[0].name, CString(job));
        EXPECT_EQ(journal.Records()[0].process.id, 0u) << "recorded before the launch";
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(fake.launched.size(), 60u);
    EXPECT_LT(largestBytes, 512u);
    EXPECT_FALSE(fs::exists(BatchFile("batchjournal.txt")));
    EXPECT_FALSE(fs::exists(BatchFile("batchjournal.new")));
}

TEST_F(Driver, RecordsOfFinishedOrVanishedEntriesAreDroppedAtTheStart) {
    // x finished after its record was written; y's record names an entry the
    // queue no longer holds; z waits to run again after an interruption.
    WriteBatchFile("batchexec.txt",
                   QueueText({{"anne", "x", 2, 1, 0}, {"anne", "z"}, {"anne", "w", 1, 0, 0}}));
    LeaveRecord("x", 0, 1, gone);
    LeaveRecord("y", 7, 1, gone);
    LeaveRecord("z", 1, 1, gone);
    fake.outcomes["w"] = Outcome::kWritesNoLog;
    std::map<std::string, int> attempts;
    fake.duringJob = [&](const std::string& job) {
        BatchJournal journal(batch);
        ASSERT_TRUE(journal.Load());
        for (const JournalRecord& record : journal.Records())
            if (record.name == CString(job))
                attempts[job] = record.attempt;
        for (const JournalRecord& record : journal.Records())
            EXPECT_TRUE(record.name == "z" || record.name == "w") << record.name.str();
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"z", "w"}));
    EXPECT_EQ(attempts["z"], 2);
    EXPECT_EQ(attempts["w"], 2);
}

TEST_F(Driver, OneJobRunsOnItsOwnWithTheSameRecordsAsInAWholeRun) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "a"}, {"bob", "b"}, {"carol", "c"}}));
    BatchRunHost host = fake.Host();
    KvBatchExecFile queue(batch, &users);
    platform::Status failure;
    auto runJob = [&](KvBatchExecFile& file, unsigned position) {
        return RunQueuedJob(file, position, host, BatchRunSettings(), failure);
    };
    std::string queueDuringJob;
    fake.duringJob = [&](const std::string&) { queueDuringJob = ReadBatchFile("batchexec.txt"); };
    fake.outcomes["b"] = Outcome::kFails;
    EXPECT_EQ(runJob(queue, 1), QueuedJobResult::kRecorded);

    EXPECT_EQ(fake.launched, (std::vector<std::string>{"b"}));
    EXPECT_EQ(queueDuringJob, QueueText({{"anne", "a"}, {"bob", "b", 1, 0, 0}, {"carol", "c"}}));
    EXPECT_EQ(ReadBatchFile("batchexec.txt"),
              QueueText({{"anne", "a"}, {"bob", "b", 2, 0, 0}, {"carol", "c"}}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("bob", "b", false, {"ran b"}));
    BatchJournal journal(batch);
    ASSERT_TRUE(journal.Load());
    EXPECT_TRUE(journal.Records().empty());

    // Finished already, out of range, or of an unknown user.
    EXPECT_EQ(runJob(queue, 1), QueuedJobResult::kNotWaiting);
    EXPECT_EQ(runJob(queue, 3), QueuedJobResult::kNotWaiting);
    EXPECT_EQ(runJob(queue, 2), QueuedJobResult::kUnknownUser);
    EXPECT_EQ(fake.launched.size(), 1u);
    EXPECT_EQ(ReadBatchFile("batchexec.txt"),
              QueueText({{"anne", "a"}, {"bob", "b", 2, 0, 0}, {"carol", "c", 2, 0, 0}}));

    KvBatchExecFile missing(batch + "gone\\", &users);
    EXPECT_EQ(runJob(missing, 0), QueuedJobResult::kFileFailure);
    EXPECT_NE(failure.context().find("gone"), std::string::npos);
}

TEST_F(Driver, AFailedPredecessorSkipsTheChainBehindIt) {
    // b waits for a, which fails; c waits for b, which is then skipped; d
    // does not wait and runs anyway.
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "a.gam"},
                                               {"anne", "b.gam", 0, 0, 1},
                                               {"bob", "c.gam", 0, 0, 1},
                                               {"bob", "d.gam"}}));
    fake.outcomes["a.gam"] = Outcome::kFails;
    std::vector<std::string> queueAtEachPause;
    fake.onPause = [&](std::uint32_t) {
        queueAtEachPause.push_back(ReadBatchFile("batchexec.txt"));
    };
    ASSERT_TRUE(RunBatch());

    EXPECT_EQ(fake.launched, (std::vector<std::string>{"a.gam", "d.gam"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              RanBlock("anne", "a.gam", false, {"ran a.gam"}) + SkippedBlock("anne", "b.gam") +
                  SkippedBlock("bob", "c.gam") + RanBlock("bob", "d.gam", true, {"ran d.gam"}));
    // At each pause the queue holds every outcome so far.
    EXPECT_EQ(queueAtEachPause, (std::vector<std::string>{QueueText({{"anne", "a.gam", 2, 0, 0},
                                                                     {"anne", "b.gam", 0, 0, 1},
                                                                     {"bob", "c.gam", 0, 0, 1},
                                                                     {"bob", "d.gam"}}),
                                                          QueueText({{"anne", "a.gam", 2, 0, 0},
                                                                     {"anne", "b.gam", 2, 0, 1},
                                                                     {"bob", "c.gam", 2, 0, 1},
                                                                     {"bob", "d.gam", 2, 1, 0}})}));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(Driver, AnEmptyQueueRetiresTheProjectFilesWithoutOverwritingAnOldCopy) {
    WriteBatchFile("batchexec.txt", "nb = 0\r\n");
    WriteBatchFile("anne-BATCH.tvs", "no job records\n");
    WriteBatchFile("bob-BATCH.tvs", "bob's records\n");
    WriteBatchFile("bob-BATCH.tmp", "older copy\n");
    ASSERT_TRUE(RunBatch());
    EXPECT_TRUE(fake.launched.empty());
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
    EXPECT_FALSE(fs::exists(BatchFile("anne-BATCH.tvs")));
    EXPECT_FALSE(fs::exists(BatchFile("bob-BATCH.tvs")));
    EXPECT_EQ(ReadBatchFile("anne-BATCH.tmp"), "no job records\n");
    // The old retired copy is removed before the new one is made.
    EXPECT_EQ(ReadBatchFile("bob-BATCH.tmp"), "bob's records\n");
    EXPECT_FALSE(fs::exists(BatchFile("batchreport.txt")));
}

TEST_F(Driver, AJobOfAnUnknownUserFinishesFailedWithoutReportLines) {
    WriteBatchFile("batchexec.txt", QueueText({{"carol", "c"}, {"ANNE", "case"}, {"anne", "a"}}));
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"a"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("anne", "a", true, {"ran a"}));
}

TEST_F(Driver, ALaunchFailureIsAnEventInTheJobsLogAndAJobWithoutALogReportsTheLastLogRead) {
    WriteBatchFile(
        "batchexec.txt",
        QueueText(
            {{"anne", "ok"}, {"anne", "crashed"}, {"anne", "unstartable.gam"}, {"bob", "broken"}}));
    fake.outcomes["crashed"] = Outcome::kWritesNoLog;
    fake.outcomes["unstartable.gam"] = Outcome::kCannotStart;
    fake.outcomes["broken"] = Outcome::kThrows;
    // Nobody watches: no message box (the host's stand-in for one is a line
    // on standard error).
    testing::internal::CaptureStderr();
    const bool ran = RunBatch();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(ran);

    const std::string cannotStart = "Cannot start the job: " + fake.commandLines.at(2);
    FichierLogBatch log;
    ASSERT_EQ(log.Load(batch + "unstartable.log"), 0);
    ASSERT_EQ(log.m_eventList.GetCount(), 1u);
    EXPECT_EQ(log.m_eventList[0], cannotStart);
    EXPECT_FALSE(log.m_simuOK);
    // A launcher that throws counts as failed. Without a log, the summary
    // repeats what the log object last held.
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              RanBlock("anne", "ok", true, {"ran ok"}) +
                  RanBlock("anne", "crashed", true, {"ran ok"}) +
                  RanBlock("anne", "unstartable.gam", false, {cannotStart}) +
                  RanBlock("bob", "broken", false, {cannotStart}));
}

TEST_F(Driver, AMissingBatchFolderStopsTheRunNamingTheFile) {
    KvBatchExecFile queue(batch + "gone\\", &users);
    EXPECT_FALSE(queue.RunBatch(fake.Host()));
    EXPECT_NE(queue.GetRunFailure().context().find("gone"), std::string::npos);
    EXPECT_FALSE(queue.GetRunFailure().message().empty());
    EXPECT_TRUE(fake.launched.empty());
}

}  // namespace
