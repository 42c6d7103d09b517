// The batch run's driver on a scripted host: what the next launcher does with
// each entry an interrupted run left in state 1 (told by the journal), with
// an entry another program sets running during the run, and with a job past
// its time limit. Checked through the queue, the report, the job logs and
// the journal, as other programs see them.
#include "app/batch_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/batch_run_test_support.h"
#include "app/batch_test_fixture.h"
#include "app/job_run.h"
#include "platform/current_process.h"

namespace {

namespace fs = std::filesystem;
using apptest::Ended;
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
const char* const kTwice = ": job interrupted twice, not run again: ";

std::string Note(const std::string& user, const std::string& job, const char* text) {
    return std::string(kStamp) + " -> User \"" + user + "\"" + text + "\"" + job + "\"\r\n";
}
// The rest of a block whose started line an earlier launcher wrote.
std::string EndedBlock(const std::string& user, const std::string& job, bool succeeded,
                       const std::vector<std::string>& events) {
    std::string text =
        Ended(user, job) + "Simulation succeeded: " + (succeeded ? "1" : "0") + "\r\n";
    for (const std::string& event : events) text += "Event: " + event + "\r\n";
    return text + "Alerts: 0\r\nErrors: 0\r\n\r\n";
}

class Driver : public apptest::BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        LoadUsers({"anne", "bob"});
        launchedAt = fake.now - 5000;
    }

    bool Run(BatchRunSettings settings = BatchRunSettings()) {
        BatchRunHost host = fake.Host();
        KvBatchExecFile queue(batch, &users);
        BatchRun run(queue, host, settings);
        return run.Run();
    }

    // The journal an interrupted launcher left: `job` of anne at `position`,
    // launched 5 s ago (on the fake clock) as `process`.
    void LeaveRecord(const std::string& job, unsigned position, int attempt,
                     platform::ProcessIdentity process) {
        BatchJournal journal(batch);
        JournalRecord record;
        record.user = "anne";
        record.name = CString(job);
        record.position = position;
        record.attempt = attempt;
        record.firstLaunchMs = launchedAt - 3600 * 1000 * (attempt - 1);
        record.launchMs = launchedAt;
        record.process = process;
        journal.Put(record);
        ASSERT_TRUE(journal.Save()) << journal.LastError().ToString();
    }
    std::vector<std::string> EventsOf(const std::string& job) {
        FichierLogBatch log;
        EXPECT_EQ(log.Load(batch + CString(job + ".log")), 0) << job;
        std::vector<std::string> events;
        for (std::string_view event : log.m_eventList) events.emplace_back(event);
        return events;
    }

    apptest::FakeJobHost fake{users};
    std::int64_t launchedAt = 0;
    // A process that has ended since: not in the fake's table.
    const platform::ProcessIdentity gone{4242, 99};
};

TEST_F(Driver, AJobWhoseProcessStillRunsIsWaitedForAndNeverStartedTwice) {
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"anne", "x", 1, 0, 0}, {"anne", "after x", 0, 0, 1}, {"bob", "free"}}));
    LeaveRecord("x", 0, 1, fake.LeaveRunning("anne", "x", 60000));
    ASSERT_TRUE(Run());

    EXPECT_EQ(fake.launched, (std::vector<std::string>{"after x", "free"}));
    // Waited for to its end, not collected: it is another launcher's child.
    EXPECT_EQ(fake.waitLimits.front(), platform::kNoTimeLimit);
    EXPECT_EQ(fake.collected.size(), 2u);
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              Note("anne", "x", kStillRunning) + EndedBlock("anne", "x", true, {"ran x"}) +
                  RanBlock("anne", "after x", true, {"ran after x"}) +
                  RanBlock("bob", "free", true, {"ran free"}));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
    EXPECT_FALSE(fs::exists(BatchFile("batchjournal.txt")));
}

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

TEST_F(Driver, AJobInterruptedTwiceFailsWithOneEventAndItsWaiterIsSkipped) {
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"anne", "x", 1, 0, 0}, {"anne", "after x", 0, 0, 1}, {"bob", "free"}}));
    LeaveRecord("x", 0, 2, gone);
    ASSERT_TRUE(Run());

    EXPECT_EQ(fake.launched, (std::vector<std::string>{"free"}));
    const char* event = "Interrupted twice: the job is not run a third time";
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              Note("anne", "x", kTwice) + EndedBlock("anne", "x", false, {event}) +
                  SkippedBlock("anne", "after x") + RanBlock("bob", "free", true, {"ran free"}));
    EXPECT_EQ(EventsOf("x"), (std::vector<std::string>{event}));
}

TEST_F(Driver, AJobRunAgainThatIsInterruptedOnceMoreFailsTheNextNight) {
    // The machine goes down while the job runs, two nights in a row: what a
    // crash leaves is the batch files as they were during the job's wait,
    // and no log of the job.
    std::map<std::string, std::string> atCrash;
    const std::vector<std::string> files = {"batchexec.txt", "batchreport.txt", "batchjournal.txt"};
    fake.duringWait = [&](const std::string&) {
        for (const std::string& name : files) atCrash[name] = ReadBatchFile(name);
    };
    auto crash = [&] {
        for (const std::string& name : files) WriteBatchFile(name, atCrash[name]);
        fs::remove(BatchFile("x.log"));
        fake.fileTimes.clear();
        fake.now += 3600 * 1000;
    };
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "x"}}));
    ASSERT_TRUE(Run());
    crash();
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), QueueText({{"anne", "x", 1, 0, 0}}));
    ASSERT_TRUE(Run());
    crash();
    fake.duringWait = nullptr;
    ASSERT_TRUE(Run());

    EXPECT_EQ(fake.launched, (std::vector<std::string>{"x", "x"}));
    EXPECT_EQ(
        ReadBatchFile("batchreport.txt"),
        apptest::Started("anne", "x") + Note("anne", "x", kRunAgain) +
            apptest::Started("anne", "x") + Note("anne", "x", kTwice) +
            EndedBlock("anne", "x", false, {"Interrupted twice: the job is not run a third time"}));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
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

TEST_F(Driver, AJobPastItsTimeLimitIsEndedWithItsGroupAndTheRunGoesOnAtOnce) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "hangs"}, {"bob", "next"}}));
    fake.durations["hangs"] = 30000;
    fake.durations["next"] = 1000;
    std::int64_t startedNext = 0;
    fake.duringJob = [&](const std::string& job) {
        if (job == "next")
            startedNext = fake.now;
    };
    const std::int64_t start = fake.now;
    BatchRunSettings settings;
    settings.timeLimitSeconds = 3;
    settings.pauseAfterJobMs = 0;
    ASSERT_TRUE(Run(settings));

    EXPECT_EQ(fake.endedGroups, (std::vector<std::string>{"hangs"}));
    EXPECT_EQ(startedNext - start, 3000);
    // The ended process is still collected, so that none is left behind.
    EXPECT_EQ(fake.collected.size(), 2u);
    EXPECT_EQ(EventsOf("hangs"),
              (std::vector<std::string>{"Ended at its time limit (seconds): 3"}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"),
              RanBlock("anne", "hangs", false, {"Ended at its time limit (seconds): 3"}) +
                  RanBlock("bob", "next", true, {"ran next"}));
}

TEST_F(Driver, TheJournalHoldsOnlyTheJobThatRunsWhateverTheLengthOfTheQueue) {
    std::vector<apptest::Entry> entries;
    for (int i = 0; i < 60; ++i) entries.push_back({"bob", "job" + std::to_string(i)});
    WriteBatchFile("batchexec.txt", QueueText(entries));
    std::size_t largest = 0;
    std::uintmax_t largestBytes = 0;
    fake.duringJob = [&](const std::string& job) {
        BatchJournal journal(batch);
        ASSERT_TRUE(journal.Load());
        largest = std::max(largest, journal.Records().size());
        largestBytes = std::max(largestBytes, fs::file_size(BatchFile("batchjournal.txt")));
        ASSERT_EQ(journal.Records().size(), 1u);
        EXPECT_EQ(journal.Records()[0].name, CString(job));
        EXPECT_EQ(journal.Records()[0].process.id, 0u) << "recorded before the launch";
    };
    ASSERT_TRUE(Run());
    EXPECT_EQ(fake.launched.size(), 60u);
    EXPECT_EQ(largest, 1u);
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

TEST_F(Driver, TheUserCatalogueWordsTheNotesWhenItHasThem) {
    testsupport::WriteBytes(dir.path() / "en.txt", std::string(apptest::kCatalogue) +
                                                       "[20,0,0,12] : repris au d\xE9"
                                                       "but : \n");
    ASSERT_TRUE(g_userMessages.SelectLanguage("EN"));
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "x", 1, 0, 0}}));
    ASSERT_TRUE(Run());
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), Note("anne", "x",
                                                     ": repris au d\xE9"
                                                     "but : ") +
                                                    RanBlock("anne", "x", true, {"ran x"}));
}

TEST_F(Driver, OneJobRunsOnItsOwnWithTheSameRecordsAsInAWholeRun) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "a"}, {"bob", "b"}, {"carol", "c"}}));
    BatchRunHost host = fake.Host();
    KvBatchExecFile queue(batch, &users);
    platform::Status failure;
    std::string queueDuringJob;
    fake.duringJob = [&](const std::string&) { queueDuringJob = ReadBatchFile("batchexec.txt"); };
    fake.outcomes["b"] = Outcome::kFails;
    EXPECT_EQ(RunQueuedJob(queue, 1, host, BatchRunSettings(), failure),
              QueuedJobResult::kRecorded);

    EXPECT_EQ(fake.launched, (std::vector<std::string>{"b"}));
    EXPECT_EQ(queueDuringJob, QueueText({{"anne", "a"}, {"bob", "b", 1, 0, 0}, {"carol", "c"}}));
    EXPECT_EQ(ReadBatchFile("batchexec.txt"),
              QueueText({{"anne", "a"}, {"bob", "b", 2, 0, 0}, {"carol", "c"}}));
    EXPECT_EQ(ReadBatchFile("batchreport.txt"), RanBlock("bob", "b", false, {"ran b"}));
    BatchJournal journal(batch);
    ASSERT_TRUE(journal.Load());
    EXPECT_TRUE(journal.Records().empty());

    // Finished already, out of range, or of an unknown user.
    EXPECT_EQ(RunQueuedJob(queue, 1, host, BatchRunSettings(), failure),
              QueuedJobResult::kNotWaiting);
    EXPECT_EQ(RunQueuedJob(queue, 3, host, BatchRunSettings(), failure),
              QueuedJobResult::kNotWaiting);
    EXPECT_EQ(RunQueuedJob(queue, 2, host, BatchRunSettings(), failure),
              QueuedJobResult::kUnknownUser);
    EXPECT_EQ(fake.launched.size(), 1u);
    EXPECT_EQ(ReadBatchFile("batchexec.txt"),
              QueueText({{"anne", "a"}, {"bob", "b", 2, 0, 0}, {"carol", "c", 2, 0, 0}}));

    KvBatchExecFile missing(batch + "gone\\", &users);
    EXPECT_EQ(RunQueuedJob(missing, 0, host, BatchRunSettings(), failure),
              QueuedJobResult::kFileFailure);
    EXPECT_NE(failure.context().find("gone"), std::string::npos);
}

}  // namespace
