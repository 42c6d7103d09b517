// The launcher killed at random moments, sometimes with the job's tree: no
// job lost, none run again unless killed, never three times; batches end.
// TV_KILL_LOOP_KILLS (6), TV_KILL_LOOP_SEED, TV_KILL_LOOP_MAX_MS (2600: the
// launcher pauses 2000 ms after a job) size a run; scripts/kill-loop runs long.

#include <algorithm>

#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::Job;

class CrashConsistency : public e2e::EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        UseCountingInstallation("300");
        // Eleven jobs a user: every fifth fails, every third waits for its
        // predecessor. The first record's wait flag is ignored by the queue.
        std::map<std::string, std::vector<std::pair<std::string, int>>> records;
        for (int k = 0; k < 22; ++k) {
            const std::string user = k < 11 ? "alice" : "bob";
            const std::string name = std::string(1, user[0]) + (k < 10 ? "0" : "") +
                                     std::to_string(k) + (k % 5 == 1 ? "-fail" : "-pass");
            m_expected.push_back({user, name, 0, 0, k % 3 == 0 ? 1 : 0});
            records[user].emplace_back(name, m_expected.back().wait);
        }
        for (const auto& [user, jobs] : records) {
            Project(user, jobs);
            m_projects[user] = testsupport::ReadBytes(ProjectPath(user, ".tvs"));
        }
        m_expected[0].wait = 0;
    }

    fs::path ProjectPath(const std::string& user, const char* extension) const {
        return Batch(user) / (user + "-BATCH" + extension);
    }

    // The project files as the users left them, no queue, logs or runs.
    void StartBatch() {
        ASSERT_FALSE(fs::exists(QueuePath()));
        for (const auto& [user, text] : m_projects) {
            fs::remove(ProjectPath(user, ".tmp"));
            testsupport::WriteBytes(ProjectPath(user, ".tvs"), text);
            for (const fs::directory_entry& entry : fs::directory_iterator(Batch(user)))
                if (entry.path().extension() == ".log")
                    fs::remove(entry.path());
        }
        fs::remove(RunsPath());
        m_lastSeen.clear();
        m_killedWith.clear();
    }

    // Every project file whole under `extension` and none under `other`.
    bool ProjectsAre(const char* extension, const char* other) const {
        for (const auto& [user, text] : m_projects)
            if (fs::exists(ProjectPath(user, other)) || !fs::exists(ProjectPath(user, extension)) ||
                testsupport::ReadBytes(ProjectPath(user, extension)) != text)
                return false;
        return true;
    }

    // What must hold whenever no launcher runs; whether the batch is over.
    bool CheckFiles(const std::string& when) {
        SCOPED_TRACE(when);
        std::map<std::string, int> runs = Runs();
        for (const auto& [key, count] : runs)
            EXPECT_LE(count, std::min(1 + m_killedWith[key], 2))
                << key << " was started again while its process ran, or a third time";
        auto started = [&](const Job& job) { return runs[job.user + "/" + job.name]; };

        if (!fs::exists(QueuePath())) {
            if (ProjectsAre(".tvs", ".tmp")) {
                EXPECT_TRUE(m_lastSeen.empty()) << "the queue vanished before its end";
                EXPECT_TRUE(runs.empty()) << "a job ran without a queue";
                return false;
            }
            EXPECT_TRUE(ProjectsAre(".tmp", ".tvs")) << "project files half retired, queue gone";
            EXPECT_FALSE(m_lastSeen.empty()) << "retired without a queue having been seen";
            for (const Job& job : m_lastSeen)  // a success was started
                EXPECT_GE(started(job), job.state == 2 && job.status == 1 ? 1 : 0) << job.name;
            return true;
        }

        const e2e::StrictQueue queue = e2e::ParseQueueStrictly(testsupport::ReadBytes(QueuePath()));
        EXPECT_EQ(queue.error, "");
        if (!queue.error.empty())
            return false;
        std::vector<Job> entries = queue.jobs;
        for (Job& job : entries) job.state = job.status = 0;
        EXPECT_EQ(e2e::QueueText(entries), e2e::QueueText(m_expected)) << "entries lost or changed";
        bool waiting = false;
        for (std::size_t i = 0; i < queue.jobs.size(); ++i) {
            const Job& job = queue.jobs[i];
            SCOPED_TRACE("entry " + std::to_string(i) + " " + job.user + "/" + job.name);
            waiting = waiting || job.state == 0;
            if (job.state == 0) {
                EXPECT_LE(started(job), m_killedWith[job.user + "/" + job.name])
                    << "ran but shows as waiting";
            }
            if (job.state == 2 && job.status == 1) {
                EXPECT_GE(started(job), 1) << "succeeded without running";
                EXPECT_EQ(job.name.find("fail"), std::string::npos);
            }
            if (i < m_lastSeen.size() && m_lastSeen[i].state == 2) {
                EXPECT_EQ(job.state, 2) << "a decided job was undecided";
                EXPECT_EQ(job.status, m_lastSeen[i].status);
            }
        }
        EXPECT_TRUE(!waiting || ProjectsAre(".tvs", ".tmp"))
            << "a project file was retired while a job waits";
        m_lastSeen = queue.jobs;
        return false;
    }

    std::vector<Job> m_expected;
    std::map<std::string, std::string> m_projects;
    std::vector<Job> m_lastSeen;
    std::map<std::string, int> m_killedWith;  // "<user>/<job>": kills with its tree
};

TEST_F(CrashConsistency, KilledAtRandomMomentsTheLauncherLosesAndRepeatsNothing) {
    const unsigned long long kills = e2e::EnvNumber("TV_KILL_LOOP_KILLS", 6);
    const auto maxDelay = static_cast<std::uint32_t>(e2e::EnvNumber("TV_KILL_LOOP_MAX_MS", 2600));
    const auto seed =
        static_cast<std::uint32_t>(e2e::EnvNumber("TV_KILL_LOOP_SEED", std::random_device()()));
    std::printf("kill loop: %llu kills, seed %u (TV_KILL_LOOP_SEED)\n", kills, seed);
    std::mt19937 random(seed);
    auto chance = [&](int in) { return std::uniform_int_distribution<int>(1, in)(random) == 1; };
    StartBatch();
    unsigned long long killed = 0;
    int batches = 0;
    int iteration = 0;
    while (killed < kills && !HasFailure()) {
        ++iteration;
        // One start in five is killed within 100 ms; half the kills take the job.
        const bool early = chance(5);
        const std::uint32_t delay = std::uniform_int_distribution<std::uint32_t>(
            0, early ? std::min<std::uint32_t>(100, maxDelay) : maxDelay)(random);
        const bool withTheJob = chance(2);
        e2e::BackgroundLauncher launcher;
        ASSERT_TRUE(launcher.Start());
        std::string when = "start " + std::to_string(iteration) + ", ";
        std::optional<JournalRecord> job;
        bool wasKilled = false;
        if (!launcher.EndsWithin(delay)) {
            // Read before the kill, while the journal's only writer lives.
            job = JournalJob([](const JournalRecord& record) {
                return platform::IsStillRunning(record.process);
            });
            wasKilled = launcher.Kill();
        }
        if (!wasKilled) {
            EXPECT_EQ(launcher.ExitCode(), 0) << "ended by itself";
            when += "ended by itself";
        } else {
            ++killed;
            when += "killed after " + std::to_string(delay) + " ms";
            if (withTheJob && job && platform::EndProcessGroup(job->process, 0)) {
                ++m_killedWith[job->user.str() + "/" + job->name.str()];
                when += " with " + job->name.str();
            }
        }
        if (CheckFiles(when)) {
            ++batches;
            StartBatch();
        }
    }
    if (HasFailure())
        return;  // the files as the failing kill left them are what counts
    // The last batch ends on its own, with no fix by hand.
    if (fs::exists(QueuePath())) {
        EXPECT_EQ(RunToTheEnd(180000), 0);
        EXPECT_TRUE(CheckFiles("the start after the last kill"));
        ++batches;
    }
    std::printf("kill loop: %llu kills survived in %d starts, %d batches; seed %u\n", killed,
                iteration, batches, seed);
    EXPECT_EQ(killed, kills);
}

}  // namespace
