// Interrupted nights on the real host: the launcher killed alone or with the
// job's tree while a job runs, and a time limit that ends a hanging job.

#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using InterruptedNight = e2e::EndToEnd;

std::string Note(const std::string& job, const char* text) {
    return std::string(apptest::kStamp) + " -> User \"alice\"" + text + "\"" + job + "\"\r\n";
}

TEST_F(InterruptedNight, AJobKilledAloneIsTakenOverAndOneKilledWithItsTreeRunsAgainOnce) {
    SetMachine("BATCHJOBPAUSE", "100");
    UseCountingInstallation("3000");
    testsupport::WriteBytes(QueuePath(), e2e::QueueText({{"alice", "long", 0, 0, 0},
                                                         {"alice", "after-long", 0, 0, 1},
                                                         {"alice", "victim", 0, 0, 0},
                                                         {"alice", "after-victim", 0, 0, 1},
                                                         {"alice", "free", 0, 0, 0}}));
    JournalRecord job;
    KillDuring("long", 1, false, &job);
    KillDuring("victim", 1, true);
    KillDuring("victim", 2, true);
    EXPECT_EQ(RunToTheEnd(), 0);

    EXPECT_FALSE(platform::IsStillRunning(job.process));
    EXPECT_EQ(
        Runs(),
        (std::map<std::string, int>{
            {"alice/long", 1}, {"alice/after-long", 1}, {"alice/victim", 2}, {"alice/free", 1}}));
    const std::string started = apptest::Started("alice", "victim");
    EXPECT_EQ(Report(),
              apptest::Started("alice", "long") +
                  Note("long",
                       ": job interrupted with its launcher and still running, now "
                       "waited for: ") +
                  apptest::EndedBlock("alice", "long", true, {"Simulation of long finished"}) +
                  e2e::Ran("after-long", true) + started +
                  Note("victim", ": job interrupted, run again from the start: ") + started +
                  Note("victim", ": job interrupted twice, not run again: ") +
                  apptest::EndedBlock("alice", "victim", false,
                                      {"Interrupted twice: the job is not run a third time"}) +
                  apptest::SkippedBlock("alice", "after-victim") + e2e::Ran("free", true));
    EXPECT_FALSE(fs::exists(QueuePath()));
    EXPECT_FALSE(fs::exists(Batch("alice") / BatchJournal::kFileName));
}

TEST_F(InterruptedNight, AJobPastItsTimeLimitIsEndedWithItsHelperAndTheNextStartsAtOnce) {
    SetMachine("BATCHJOBTIMEOUT", "3");
    SetMachine("BATCHJOBPAUSE", "100");
    UseCountingInstallation("30000");
    // The helper would mark its survival 6 s after the job's start.
    m_variables.emplace_back("TORVANE_SIM_CHILD_MS", "6000");
    testsupport::WriteBytes(QueuePath(), e2e::QueueText({{"alice", "hangs", 0, 0, 0},
                                                         {"alice", "hangs-too", 0, 0, 0}}));
    // Two limits of 3 s and their graces, not two jobs of 30 s.
    EXPECT_EQ(RunToTheEnd(20000), 0);

    // The report gives each job's log: the one event of its time limit.
    const std::string event = "Ended at its time limit (seconds): 3";
    EXPECT_EQ(Report(), apptest::RanBlock("alice", "hangs", false, {event}) +
                            apptest::RanBlock("alice", "hangs-too", false, {event}));
    platform::SleepMs(8000);
    for (const char* marker : {"hangs.log.child", "hangs-too.log.child"})
        EXPECT_FALSE(fs::exists(Batch("alice") / marker)) << "the helper outlived the job";
}

}  // namespace
