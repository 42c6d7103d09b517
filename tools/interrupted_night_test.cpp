// Interrupted nights with the real launcher, the real host and the stand-in:
// the launcher killed alone while a job runs (the next one takes the job
// over and never starts it twice), the launcher killed together with the
// job's whole tree (the job runs again, and fails when that happens twice,
// its waiter skipped), and a time limit that ends a hanging job together
// with the helper it started while the next job starts at once.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/batch_journal.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using apptest::kStamp;

std::string Note(const std::string& job, const char* text) {
    return std::string(kStamp) + " -> User \"alice\"" + text + "\"" + job + "\"\r\n";
}

class InterruptedNight : public e2e::EndToEnd {
  protected:
    // The launcher killed while `job` runs, alone or with the job's tree.
    void KillDuring(const std::string& job, int attempt, bool withTheJob,
                    platform::ProcessIdentity* process = nullptr) {
        e2e::BackgroundLauncher launcher;
        ASSERT_TRUE(launcher.Start());
        std::optional<JournalRecord> record = LaunchedRecord(job, attempt);
        ASSERT_TRUE(record) << job << " was not launched";
        // Mid-job: once its script has begun (the command interpreter of a
        // Windows host takes a while to get there).
        e2e::WaitUntil(20000, [&] { return m_install->Runs()["alice/" + job] >= attempt; });
        ASSERT_TRUE(launcher.Kill()) << "the launcher ended before it was killed";
        ASSERT_TRUE(platform::IsStillRunning(record->process)) << "the job died with its launcher";
        if (withTheJob) {
            ASSERT_TRUE(e2e::EndJobTree(record->process));
        }
        if (process != nullptr)
            *process = record->process;
    }
    // A launcher started and left to end by itself; its exit code.
    int RunToTheEnd() {
        e2e::BackgroundLauncher launcher;
        EXPECT_TRUE(launcher.Start());
        EXPECT_TRUE(launcher.EndsWithin(60000)) << "the launcher did not end";
        return launcher.ExitCode();
    }
};

TEST_F(InterruptedNight, AJobWhoseLauncherWasKilledIsTakenOverAndNeverStartedTwice) {
    SetMachine("BATCHJOBPAUSE", "100");
    UseCountingInstallation("3000");
    testsupport::WriteBytes(QueuePath(), e2e::QueueText({{"alice", "long", 0, 0, 0},
                                                         {"alice", "after-long", 0, 0, 1}}));
    platform::ProcessIdentity job;
    KillDuring("long", 1, false, &job);
    EXPECT_EQ(RunToTheEnd(), 0);

    EXPECT_FALSE(platform::IsStillRunning(job));
    EXPECT_EQ(m_install->Runs(),
              (std::map<std::string, int>{{"alice/long", 1}, {"alice/after-long", 1}}));
    EXPECT_EQ(Report(),
              apptest::Started("alice", "long") +
                  Note("long",
                       ": job interrupted with its launcher and still running, now "
                       "waited for: ") +
                  e2e::Ran("long", true).substr(apptest::Started("alice", "long").size()) +
                  e2e::Ran("after-long", true));
    EXPECT_FALSE(fs::exists(QueuePath()));
    EXPECT_FALSE(fs::exists(Batch("alice") / BatchJournal::kFileName));
}

TEST_F(InterruptedNight, AJobKilledWithItsLauncherRunsAgainAndFailsWhenThatHappensTwice) {
    SetMachine("BATCHJOBPAUSE", "100");
    UseCountingInstallation("3000");
    testsupport::WriteBytes(QueuePath(), e2e::QueueText({{"alice", "victim", 0, 0, 0},
                                                         {"alice", "after-victim", 0, 0, 1},
                                                         {"alice", "free", 0, 0, 0}}));
    KillDuring("victim", 1, true);
    KillDuring("victim", 2, true);
    EXPECT_EQ(RunToTheEnd(), 0);

    EXPECT_EQ(m_install->Runs(),
              (std::map<std::string, int>{{"alice/victim", 2}, {"alice/free", 1}}));
    const std::string started = apptest::Started("alice", "victim");
    EXPECT_EQ(Report(), started + Note("victim", ": job interrupted, run again from the start: ") +
                            started + Note("victim", ": job interrupted twice, not run again: ") +
                            apptest::Ended("alice", "victim") +
                            "Simulation succeeded: 0\r\n"
                            "Event: Interrupted twice: the job is not run a third time\r\n"
                            "Alerts: 0\r\nErrors: 0\r\n\r\n" +
                            apptest::SkippedBlock("alice", "after-victim") +
                            e2e::Ran("free", true));
    FichierLogBatch log;
    ASSERT_TRUE(LoadLog("alice", "victim", log));
    EXPECT_EQ(log.m_eventList.GetCount(), 1u);
}

TEST_F(InterruptedNight, AJobPastItsTimeLimitIsEndedWithItsHelperAndTheNextStartsAtOnce) {
    SetMachine("BATCHJOBTIMEOUT", "3");
    SetMachine("BATCHJOBPAUSE", "100");
    UseCountingInstallation("30000");
    // The helper would mark its survival 6 s after the job's start.
    m_variables.emplace_back("TORVANE_SIM_CHILD_MS", "6000");
    testsupport::WriteBytes(QueuePath(), e2e::QueueText({{"alice", "hangs", 0, 0, 0},
                                                         {"alice", "hangs-too", 0, 0, 0}}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunToTheEnd(), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    // Two limits of 3 s and their graces, not two jobs of 30 s.
    EXPECT_LT(took, std::chrono::seconds(20));

    const std::string event = "Ended at its time limit (seconds): 3";
    for (const std::string job : {"hangs", "hangs-too"}) {
        FichierLogBatch log;
        ASSERT_TRUE(LoadLog("alice", job, log)) << job;
        ASSERT_EQ(log.m_eventList.GetCount(), 1u) << job;
        EXPECT_EQ(std::string(log.m_eventList[0]), event);
    }
    EXPECT_EQ(Report(), apptest::RanBlock("alice", "hangs", false, {event}) +
                            apptest::RanBlock("alice", "hangs-too", false, {event}));
    platform::SleepMs(8000);
    EXPECT_FALSE(fs::exists(Batch("alice") / "hangs.log.child")) << "the helper outlived the job";
    EXPECT_FALSE(fs::exists(Batch("alice") / "hangs-too.log.child"))
        << "the helper outlived the job";
}

}  // namespace
