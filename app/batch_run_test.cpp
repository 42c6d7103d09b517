// The batch run's driver on a scripted host, through the files other programs
// read. The nights the real launcher is killed in are in tools/.
#include "app/batch_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/batch_fixture_test_support.h"
#include "app/batch_run_test_support.h"
#include "platform/current_process.h"

namespace {

namespace fs = std::filesystem;
using apptest::EndedBlock;
using apptest::Outcome;
using apptest::QueueText;
using apptest::RanBlock;
using apptest::SkippedBlock;
using Names = std::vector<std::string>;

const char* const kRunAgain = ": job interrupted, run again from the start: ";

std::string Note(const std::string& job, const char* text) {
    return std::string(apptest::kStamp) + " -> User \"anne\"" + text + "\"" + job + "\"\r\n";
}

class Driver : public apptest::RunFixture {
  protected:
    bool Run(BatchRunSettings settings = BatchRunSettings()) {
        BatchRunHost host = fake.Host();
        KvBatchExecFile queue(batch, &users);
        return BatchRun(queue, host, settings).Run();
    }
    std::string Report() const { return ReadBatchFile("batchreport.txt"); }

    // A record an interrupted launcher left, launched at `launchedAt`.
    JournalRecord Left(const std::string& job, unsigned position,
                       platform::ProcessIdentity process) const {
        JournalRecord record = Record(job, position);
        record.firstLaunchMs = record.launchMs = launchedAt;
        record.process = process;
        return record;
    }

    std::int64_t launchedAt = fake.now - 5000;
    // A process that has ended since: not in the fake's table.
    const platform::ProcessIdentity gone{4242, 99};
};

TEST_F(Driver, ATakenOverJobKeepsTheTimeLimitCountedFromItsLaunch) {
    // Launched 5 s ago with a limit of 8 s: 3 s are left, and it needs 60.
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "x", 1}, {"anne", "after x", 0, 0, 1}}));
    LeaveJournal({Left("x", 0, fake.LeaveRunning("anne", "x", 60000))});
    BatchRunSettings settings;
    settings.timeLimitSeconds = 8;
    ASSERT_TRUE(Run(settings));
    EXPECT_TRUE(fake.launched.empty());
    EXPECT_EQ(fake.waitLimits, (std::vector<std::uint32_t>{3000}));
    EXPECT_EQ(fake.endedGroups, Names{"x"});
    EXPECT_EQ(Report(),
              Note("x", ": job interrupted with its launcher and still running, now waited for: ") +
                  EndedBlock("anne", "x", false, {"Ended at its time limit (seconds): 8"}) +
                  SkippedBlock("anne", "after x"));

    // Past its limit already when taken up: ended at once.
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "y", 1}}));
    launchedAt = fake.now - 9000;
    LeaveJournal({Left("y", 0, fake.LeaveRunning("anne", "y", 60000))});
    ASSERT_TRUE(Run(settings));
    EXPECT_EQ(fake.waitLimits.back(), 0u);
    EXPECT_EQ(fake.endedGroups.back(), "y");
}

TEST_F(Driver, AJobThatEndedAfterItsLaunchHasItsOutcomeTakenFromItsLog) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "x", 1}, {"anne", "after x", 0, 0, 1}}));
    LeaveJournal({Left("x", 0, gone)});
    fake.now -= 1000;  // its log was written 4 s after its launch, and says it failed
    fake.WriteLog(batch + "x.log", false, "tool broke at 100% %s\r\nat line 2");
    fake.now += 1000;
    ASSERT_TRUE(Run());
    EXPECT_TRUE(fake.launched.empty());
    EXPECT_EQ(Report(),
              Note("x",
                   ": job interrupted with its launcher, ended meanwhile, outcome taken "
                   "from its log: ") +
                  // A line break as the text stream writes it.
                  EndedBlock("anne", "x", false, {"tool broke at 100% %s\r\r\nat line 2"}) +
                  SkippedBlock("anne", "after x"));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(Driver, AJobGoneWithoutANewerLogRunsAgainInItsPlace) {
    WriteBatchFile(
        "batchexec.txt",
        QueueText({{"bob", "first"}, {"anne", "x", 1, 0, 0}, {"anne", "after x", 0, 0, 1}}));
    LeaveJournal({Left("x", 1, gone)});
    fake.now = launchedAt - 1;  // a log from an earlier night, older than the launch
    fake.WriteLog(batch + "x.log", true, "last week");
    fake.now = launchedAt + 5000;
    ASSERT_TRUE(Run());

    // In its place: after the job before it, before its waiter.
    EXPECT_EQ(fake.launched, (Names{"first", "x", "after x"}));
    EXPECT_EQ(Report(), Note("x", kRunAgain) + RanBlock("bob", "first", true, {"ran first"}) +
                            RanBlock("anne", "x", true, {"ran x"}) +
                            RanBlock("anne", "after x", true, {"ran after x"}));
}

TEST_F(Driver, AnEntrySetRunningByAnotherProgramIsTakenUpOnceOnlyItsWaitersAreLeft) {
    const std::vector<apptest::Entry> queue = {
        {"anne", "a"}, {"anne", "p"}, {"anne", "waits for p", 0, 0, 1}, {"bob", "z"}};
    WriteBatchFile("batchexec.txt", QueueText(queue));
    fake.duringJob = [&](const std::string& job) {
        std::vector<apptest::Entry> edited = queue;
        edited[0].state = edited[1].state = 1;
        if (job == "a")
            WriteBatchFile("batchexec.txt", QueueText(edited));
    };
    ASSERT_TRUE(Run());

    // z runs first; only then is p, which no launcher watches, taken up.
    EXPECT_EQ(fake.launched, (Names{"a", "z", "p", "waits for p"}));
    EXPECT_EQ(Report(), RanBlock("anne", "a", true, {"ran a"}) +
                            RanBlock("bob", "z", true, {"ran z"}) + Note("p", kRunAgain) +
                            RanBlock("anne", "p", true, {"ran p"}) +
                            RanBlock("anne", "waits for p", true, {"ran waits for p"}));
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(Driver, TheJournalHoldsOnlyTheJobThatRunsAndDropsRecordsOfFinishedOrVanishedEntries) {
    // Records of x (since finished), y (no such entry) and z (to run again).
    std::vector<apptest::Entry> entries = {{"anne", "x", 2, 1}, {"anne", "z"}, {"anne", "w", 1}};
    for (int i = 0; i < 120; ++i) entries.push_back({"bob", "job" + std::to_string(i)});
    WriteBatchFile("batchexec.txt", QueueText(entries));
    LeaveJournal({Left("x", 0, gone), Left("y", 7, gone), Left("z", 1, gone)});
    fake.outcomes["w"] = Outcome::kWritesNoLog;
    // The journal's records at each launch, and the journal file's largest size.
    std::map<std::string, std::vector<JournalRecord>> atLaunch;
    std::uintmax_t journalBytes = 0;
    fake.duringJob = [&](const std::string& job) {
        BatchJournal journal(batch);
        ASSERT_TRUE(journal.Load());
        EXPECT_EQ(journal.Launcher(), platform::CurrentProcessId());
        atLaunch[job] = journal.Records();
        journalBytes = std::max(journalBytes, fs::file_size(BatchFile("batchjournal.txt")));
    };
    // By the time a job is let run, the journal names its process.
    std::map<std::string, platform::ProcessId> atRelease;
    fake.onRelease = [&](const std::string& job) {
        BatchJournal journal(batch);
        ASSERT_TRUE(journal.Load());
        for (const JournalRecord& record : journal.Records())
            if (record.name == CString(job))
                atRelease[job] = record.process.id;
    };
    ASSERT_TRUE(Run());

    EXPECT_EQ(fake.launched.size(), 122u);
    for (const auto& [job, records] : atLaunch) {
        // Besides the job that runs, only w's record, kept for its turn.
        for (const JournalRecord& record : records)
            EXPECT_TRUE(record.name == CString(job) || (job == "z" && record.name == "w"))
                << job << ": " << record.name.str();
        auto own =
            std::find_if(records.begin(), records.end(),
                         [name = job](const JournalRecord& record) { return record.name == name; });
        ASSERT_NE(own, records.end()) << job;
        EXPECT_EQ(own->attempt, job == "z" || job == "w" ? 2 : 1) << job;
        EXPECT_EQ(own->process.id, 0u) << "recorded before the launch";
        EXPECT_NE(atRelease[job], 0u) << job << " let run before its record named it";
    }
    // Appended states are compacted: the file stays small whatever the queue's
    // length (its lines end in CR LF on the disk).
    EXPECT_LT(journalBytes, BatchJournal::kCompactAt + BatchJournal::kCompactAt / 8);
    EXPECT_FALSE(fs::exists(BatchFile("batchjournal.txt")));
    EXPECT_FALSE(fs::exists(BatchFile("batchjournal.new")));
}

TEST_F(Driver, AMissingBatchFolderStopsTheRunNamingTheFile) {
    KvBatchExecFile missing(batch + "gone\\", &users);
    EXPECT_FALSE(missing.RunBatch(fake.Host()));
    EXPECT_NE(missing.GetRunFailure().context().find("gone"), std::string::npos);
    EXPECT_FALSE(missing.GetRunFailure().message().empty());
    EXPECT_TRUE(fake.launched.empty());
}

// Retiring the project files: tools/crash_consistency_test.cpp, batch after batch.
TEST_F(Driver, FailuresSkipTheChainBehindThemAndUnknownUsersAreNotRun) {
    WriteBatchFile("batchexec.txt", QueueText({{"carol", "c"},
                                               {"ANNE", "case"},
                                               {"anne", "ok"},
                                               {"anne", "crashed"},
                                               {"anne", "unstartable.gam"},
                                               {"bob", "broken"},
                                               {"bob", "waits", 0, 0, 1},
                                               {"anne", "waits 100% %s too", 0, 0, 1},
                                               {"anne", "held"}}));
    fake.outcomes["crashed"] = Outcome::kWritesNoLog;
    fake.outcomes["held"] = Outcome::kNotReleased;
    fake.outcomes["unstartable.gam"] = Outcome::kCannotStart;
    fake.outcomes["broken"] = Outcome::kThrows;
    // Nobody watches: no message box (on this host, a line on standard error).
    testing::internal::CaptureStderr();
    const bool ran = Run();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(ran);

    // Users are matched exactly: neither carol nor ANNE is launched or reported.
    EXPECT_EQ(fake.launched, (Names{"ok", "crashed", "unstartable.gam", "broken", "held"}));
    EXPECT_EQ(fake.endedGroups, Names{"held"}) << "a job left held";
    // Without a log, the summary repeats the last log read; a throw is a failure.
    const std::string cannotStart = "Cannot start the job: \"" + install.str() +
                                    "TorvaneBatch.bat\" -b -u \"anne\" -j \"unstartable.gam\"";
    EXPECT_EQ(Report(),
              RanBlock("anne", "ok", true, {"ran ok"}) +
                  RanBlock("anne", "crashed", true, {"ran ok"}) +
                  RanBlock("anne", "unstartable.gam", false, {cannotStart}) +
                  RanBlock("bob", "broken", false, {cannotStart}) + SkippedBlock("bob", "waits") +
                  SkippedBlock("anne", "waits 100% %s too") +
                  RanBlock("anne", "held", false, {"Cannot start the job: refused by the host"}));
}

}  // namespace
