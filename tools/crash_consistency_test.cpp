// The launcher killed at random moments, over and over, on a queue of quick
// jobs, sometimes together with the job it runs (its whole tree, as a power
// cut would): whatever moment the kill comes at (while the queue is rebuilt,
// while a job runs, during the pause after it, while the project files are
// retired), the files left behind must let the next start go on without
// losing or changing a job, and every batch must then end on its own, with
// no hand-made fix of the queue.
//
// After every kill: the queue parses as the launcher writes it; it holds
// every job of the users' batch project files with its user, name and wait
// flag; no project file is retired while a job still waits; a job was never
// started twice unless its process had been killed (and never a third
// time); a job that succeeded was started. The next launcher takes a job
// killed alone over, runs again a job killed with its launcher, and fails
// one killed so twice. Once the queue is finished, the next start retires
// the project files and deletes the queue; then a new batch of the same jobs
// begins.
//
// TV_KILL_LOOP_KILLS (default 6) kills, TV_KILL_LOOP_SEED replays a run,
// TV_KILL_LOOP_MAX_MS (default 2600) is the latest kill moment after a start:
// the launcher pauses 2000 ms after each job, so kills fall before, during
// and after jobs. scripts/kill-loop runs the long loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/batch_journal.h"
#include "platform/process.h"
#include "platform/shared_file.h"
#include "platform/sleep.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::Job;

// One kill-loop run: its jobs, files and counters.
class CrashConsistency : public e2e::EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        // Jobs short next to the launcher's pause after each of them.
        UseCountingInstallation("300");
        // Eleven jobs for each user: every fifth fails, every third waits for
        // its predecessor (so some are skipped behind a failure). The first
        // job's record asks to wait, which the first entry never does.
        for (int k = 0; k < 22; ++k) {
            const std::string user = k < 11 ? "alice" : "bob";
            const std::string name = std::string(1, user[0]) + (k < 10 ? "0" : "") +
                                     std::to_string(k) + (k % 5 == 1 ? "-fail" : "-pass");
            m_expected.push_back({user, name, 0, 0, k % 3 == 0 ? 1 : 0});
        }
        for (const std::string user : {"alice", "bob"}) {
            std::vector<std::pair<std::string, int>> records;
            for (const Job& job : m_expected)
                if (job.user == user)
                    records.emplace_back(job.name, job.wait);
            Project(user, records);
            m_projects[user] = testsupport::ReadBytes(ProjectPath(user, ".tvs"));
        }
        m_expected[0].wait = 0;
    }

    fs::path ProjectPath(const std::string& user, const char* extension) const {
        return Batch(user) / (user + "-BATCH" + extension);
    }

    // A new batch: the project files as the users left them, no queue, no
    // logs and no runs of an earlier batch.
    void StartBatch() {
        ASSERT_FALSE(fs::exists(QueuePath()));
        for (const auto& [user, text] : m_projects) {
            fs::remove(ProjectPath(user, ".tmp"));
            testsupport::WriteBytes(ProjectPath(user, ".tvs"), text);
            for (const fs::directory_entry& entry : fs::directory_iterator(Batch(user)))
                if (entry.path().extension() == ".log")
                    fs::remove(entry.path());
        }
        m_install->ForgetRuns();
        m_lastSeen.clear();
    }

    // Whether every project file is whole under `extension` and none is left
    // under `other`: intact (".tvs", ".tmp") or retired (".tmp", ".tvs").
    bool ProjectsAre(const char* extension, const char* other) const {
        for (const auto& [user, text] : m_projects) {
            if (fs::exists(ProjectPath(user, other)) || !fs::exists(ProjectPath(user, extension)) ||
                testsupport::ReadBytes(ProjectPath(user, extension)) != text)
                return false;
        }
        return true;
    }

    // Everything that must hold whenever no launcher runs. Returns whether
    // the batch is over (queue deleted, project files retired).
    bool CheckFiles(const std::string& when) {
        SCOPED_TRACE(when);
        const std::map<std::string, int> runs = m_install->Runs();
        for (const auto& [key, count] : runs) {
            const int killedWith = m_killedWith.count(key) ? m_killedWith.at(key) : 0;
            EXPECT_LE(count, std::min(1 + killedWith, 2))
                << key << " was started again while its process ran, or a third time";
        }
        auto Started = [&](const Job& job) {
            const auto found = runs.find(job.user + "/" + job.name);
            return found == runs.end() ? 0 : found->second;
        };

        if (!fs::exists(QueuePath())) {
            if (ProjectsAre(".tvs", ".tmp")) {
                // Not rebuilt yet: nothing can have run.
                EXPECT_TRUE(m_lastSeen.empty()) << "the queue vanished before its end";
                EXPECT_TRUE(runs.empty()) << "a job ran without a queue";
                return false;
            }
            EXPECT_TRUE(ProjectsAre(".tmp", ".tvs")) << "project files half retired, queue gone";
            // Jobs that had succeeded when the queue was last seen ran.
            for (const Job& job : m_lastSeen) {
                if (job.state == 2 && job.status == 1) {
                    EXPECT_GE(Started(job), 1) << job.name;
                }
            }
            EXPECT_FALSE(m_lastSeen.empty()) << "retired without a queue having been seen";
            return true;
        }

        const e2e::StrictQueue queue = e2e::ParseQueueStrictly(testsupport::ReadBytes(QueuePath()));
        EXPECT_EQ(queue.error, "");
        if (!queue.error.empty())
            return false;
        EXPECT_EQ(queue.jobs.size(), m_expected.size());
        bool waiting = false;
        for (std::size_t i = 0; i < queue.jobs.size() && i < m_expected.size(); ++i) {
            const Job& job = queue.jobs[i];
            SCOPED_TRACE("entry " + std::to_string(i) + " " + job.user + "/" + job.name);
            EXPECT_EQ(job.user, m_expected[i].user);
            EXPECT_EQ(job.name, m_expected[i].name);
            EXPECT_EQ(job.wait, m_expected[i].wait);
            waiting = waiting || job.state == 0;
            // Waiting again after a run only when that run was killed.
            const std::string key = job.user + "/" + job.name;
            if (job.state == 0) {
                EXPECT_LE(Started(job), m_killedWith.count(key) ? m_killedWith.at(key) : 0)
                    << "ran but shows as waiting";
            }
            if (job.state == 2 && job.status == 1) {
                EXPECT_GE(Started(job), 1) << "succeeded without running";
                EXPECT_EQ(job.name.find("fail"), std::string::npos);
            }
            // Once decided, a job stays decided.
            if (i < m_lastSeen.size() && m_lastSeen[i].state == 2) {
                EXPECT_EQ(job.state, 2);
                EXPECT_EQ(job.status, m_lastSeen[i].status);
            }
        }
        EXPECT_TRUE(!waiting || ProjectsAre(".tvs", ".tmp"))
            << "a project file was retired while a job waits";
        m_lastSeen = queue.jobs;
        return false;
    }

    // The job the launcher runs now, as its journal names it (with its
    // process), or nothing.
    std::optional<JournalRecord> RunningJob() const {
        BatchJournal journal(e2e::WithSeparator(Batch("alice")));
        if (!journal.Load())
            return std::nullopt;
        for (const JournalRecord& record : journal.Records())
            if (record.process.id != 0 && platform::IsStillRunning(record.process))
                return record;
        return std::nullopt;
    }

    // The notes of a finished batch's report, by kind.
    void CountNotes() {
        const std::string report = testsupport::ReadBytes(ReportPath());
        auto count = [&](const char* text) {
            int n = 0;
            for (std::size_t at = report.find(text); at != std::string::npos;
                 at = report.find(text, at + 1))
                ++n;
            return n;
        };
        m_takenOver += count("still running, now waited for");
        m_takenFromLog += count("outcome taken from its log");
        m_runAgain += count("run again from the start");
        m_failedTwice += count("interrupted twice, not run again");
    }

    int RunningCount() const {
        int running = 0;
        if (fs::exists(QueuePath()))
            for (const Job& job : e2e::ParseQueueStrictly(testsupport::ReadBytes(QueuePath())).jobs)
                running += job.state == 1 ? 1 : 0;
        return running;
    }

    std::vector<Job> m_expected;
    std::map<std::string, std::string> m_projects;
    std::vector<Job> m_lastSeen;
    // "<user>/<job>": how often its process was killed with the launcher.
    std::map<std::string, int> m_killedWith;
    int m_takenOver = 0;
    int m_takenFromLog = 0;
    int m_runAgain = 0;
    int m_failedTwice = 0;
};

TEST_F(CrashConsistency, KilledAtRandomMomentsTheLauncherLosesAndRepeatsNothing) {
    const std::uint64_t kills = e2e::EnvNumber("TV_KILL_LOOP_KILLS", 6);
    const std::uint32_t maxDelay =
        static_cast<std::uint32_t>(e2e::EnvNumber("TV_KILL_LOOP_MAX_MS", 2600));
    const std::uint32_t seed = e2e::Seed("TV_KILL_LOOP_SEED");
    std::printf("kill loop: %llu kills, seed %u (TV_KILL_LOOP_SEED)\n",
                static_cast<unsigned long long>(kills), seed);
    std::mt19937 random(seed);
    StartBatch();
    std::uint64_t killed = 0;
    int killedInJob = 0;
    int killedWithTheJob = 0;
    int killedEarly = 0;
    int batches = 0;
    int iteration = 0;
    while (killed < kills && !HasFatalFailure() && !HasFailure()) {
        ++iteration;
        // One start in five is killed within its first 100 ms, where the
        // queue is rebuilt and a finished batch's files are retired.
        const bool early = std::uniform_int_distribution<int>(0, 4)(random) == 0;
        const std::uint32_t delay = std::uniform_int_distribution<std::uint32_t>(
            0, early ? std::min<std::uint32_t>(100, maxDelay) : maxDelay)(random);
        const int runningBefore = RunningCount();
        // Half the kills that fall in a job also end the job's whole tree.
        const bool withTheJob = std::uniform_int_distribution<int>(0, 1)(random) == 0;
        e2e::BackgroundLauncher launcher;
        ASSERT_TRUE(launcher.Start());
        std::string when = "start " + std::to_string(iteration) + ", ";
        if (!launcher.EndsWithin(delay)) {
            // Read before the kill: the launcher is the only writer.
            const std::optional<JournalRecord> job = RunningJob();
            if (launcher.Kill()) {
                ++killed;
                when += "killed after " + std::to_string(delay) + " ms";
                if (RunningCount() > runningBefore)
                    ++killedInJob;
                if (early)
                    ++killedEarly;
                if (withTheJob && job && platform::EndProcessGroup(job->process, 0)) {
                    ++m_killedWith[job->user.str() + "/" + job->name.str()];
                    ++killedWithTheJob;
                    when += " with " + job->name.str();
                }
            } else {
                EXPECT_EQ(launcher.ExitCode(), 0) << "ended by itself";
                when += "ended by itself";
            }
        } else {
            EXPECT_EQ(launcher.ExitCode(), 0) << "ended by itself";
            when += "ended by itself";
        }
        if (CheckFiles(when)) {
            ++batches;
            CountNotes();
            StartBatch();
        }
    }

    if (HasFailure())
        return;  // the files as the failing kill left them are what counts
    // The last batch ends on its own: the next start finishes every job left
    // and retires the project files, with no fix by hand.
    if (fs::exists(QueuePath())) {
        e2e::BackgroundLauncher launcher;
        ASSERT_TRUE(launcher.Start());
        ASSERT_TRUE(launcher.EndsWithin(180000)) << "the batch did not end on its own";
        EXPECT_EQ(launcher.ExitCode(), 0);
        EXPECT_TRUE(CheckFiles("the start after the last kill"));
        CountNotes();
        ++batches;
    }
    std::printf(
        "kill loop: %llu kills survived (%d while a job ran, %d with the job's tree, %d in the "
        "first 100 ms) in %d starts, %d batches finished; the next launcher took %d jobs over, "
        "took %d outcomes from their logs, ran %d jobs again, failed %d after two "
        "interruptions; seed %u\n",
        static_cast<unsigned long long>(killed), killedInJob, killedWithTheJob, killedEarly,
        iteration, batches, m_takenOver, m_takenFromLog, m_runAgain, m_failedTwice, seed);
    EXPECT_EQ(killed, kills);
}

}  // namespace
