// The Slurm engine's submitter on a scripted scheduler that keeps afterok and runs each job
// as a node does (RunClusterJob). The real cluster: cluster/, tools/slurm_night_test.
#include "app/slurm_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "app/batch_exec_file.h"
#include "app/batch_fixture_test_support.h"
#include "app/batch_run_test_support.h"

namespace {

using apptest::Outcome;
using apptest::QueueText;
using apptest::RanBlock;
using apptest::SkippedBlock;
using cluster::SlurmJobId;
using cluster::SlurmJobState;
using cluster::SlurmStatus;

class FakeCluster : public ClusterClient {
  public:
    struct Job {
        cluster::SlurmSubmission submission;
        std::string state = "PENDING";
        std::string reason = "None";
    };
    std::map<SlurmJobId, Job> jobs;  // a job Slurm has forgotten is erased
    int refuseFrom = -1;             // sbatch refuses from this submission on (0-based)
    int submissions = 0;
    int queries = 0;
    // Runs at each query before the answer: by default Slurm's tick.
    std::function<void()> onQuery = [this] { Schedule(); };
    std::function<int(const cluster::SlurmSubmission&)> node;

    SlurmStatus Submit(const cluster::SlurmSubmission& job, SlurmJobId* id) override {
        if (refuseFrom >= 0 && submissions >= refuseFrom)
            return {cluster::SlurmError::kRefused, "sbatch: error: Batch job submission failed"};
        ++submissions;
        *id = m_next++;
        jobs[*id] = Job{job};
        return {};
    }
    SlurmStatus Query(const std::vector<SlurmJobId>& ids,
                      std::vector<SlurmJobState>* states) override {
        ++queries;
        if (onQuery)
            onQuery();
        states->clear();
        for (SlurmJobId id : ids) states->push_back(State(id));
        return {};
    }
    SlurmStatus FindByName(const std::vector<std::string>& names,
                           std::vector<SlurmJobState>* found) override {
        found->clear();
        for (const auto& [id, job] : jobs)
            if (std::count(names.begin(), names.end(), job.submission.name) != 0)
                found->push_back(State(id));
        return {};
    }
    SlurmStatus Cancel(const std::vector<SlurmJobId>& ids) override {
        for (SlurmJobId id : ids)
            if (jobs.count(id) != 0 && (jobs[id].state == "PENDING" || jobs[id].state == "RUNNING"))
                jobs[id].state = "CANCELLED";
        return {};
    }

    // Slurm's tick: a job runs once its dependency completed, is cancelled if it failed.
    void Schedule() {
        for (auto& [id, job] : jobs) {
            if (job.state != "PENDING")
                continue;
            const std::string before =
                job.submission.afterOk != 0 ? jobs[job.submission.afterOk].state : "COMPLETED";
            if (before == "PENDING" || before == "RUNNING")
                continue;
            const int status = before == "COMPLETED" ? node(job.submission) : -1;
            job.state = status == 0 ? "COMPLETED" : status > 0 ? "FAILED" : "CANCELLED";
            job.reason = status == 0  ? "None"
                         : status > 0 ? "NonZeroExitCode"
                                      : "DependencyNeverSatisfied";
        }
    }
    SlurmJobId Submitted(const std::string& name) const {
        for (const auto& [id, job] : jobs)
            if (job.submission.arguments.size() == 7 && job.submission.arguments[4] == name)
                return id;
        return 0;
    }

  private:
    SlurmJobState State(SlurmJobId id) {
        if (jobs.count(id) == 0)
            return {id, cluster::SlurmPhase::kForgotten, "", "", ""};
        const Job& job = jobs[id];
        return {id, cluster::parse::PhaseOf(job.state), job.state, job.reason, job.submission.name};
    }
    SlurmJobId m_next = 100;
};

class ClusterSubmitter : public apptest::RunFixture {
  protected:
    void SetUp() override {
        RunFixture::SetUp();
        fake.onPause = [this](std::uint32_t) {
            if (fake.pauses.size() > 200)
                throw std::runtime_error("the submitter does not come to an end");
        };
        host = fake.Host();
        cluster.node = [this](const cluster::SlurmSubmission& job) {
            scriptText = testsupport::ReadBytes(job.script);
            const std::vector<std::string>& a = job.arguments;
            EXPECT_EQ(a.size(), 7u);
            EXPECT_EQ(a[1], kRunJobArgument);
            return Node(a[2], a[3], a[4], a[5], a[6]);
        };
    }
    int Node(const std::string& folder, const std::string& user, const std::string& job,
             const std::string& position, const std::string& token) {
        platform::Status failure;
        const int status = RunClusterJob(users, CString(folder), CString(user), CString(job),
                                         position, token, host, BatchRunSettings(), failure);
        EXPECT_TRUE(failure.ok()) << failure.ToString();
        return status;
    }

    EngineOutcome Submit() {
        KvBatchExecFile queue(batch, &users);
        BatchRun run(queue, host, BatchRunSettings());
        ClusterRunSettings settings;
        settings.launcherPath = "/opt/torvane/torvane-batch";
        settings.siteOptions = {"-L", "torvane:1"};
        settings.errorLine = [this](const std::string& line) { errors.push_back(line); };
        return run.RunWith(
            [&](BatchRunContext& context) { return RunOnCluster(context, cluster, settings); });
    }
    std::string Report() const { return ReadBatchFile("batchreport.txt"); }
    bool QueueRetired() const { return !std::filesystem::exists(BatchFile("batchexec.txt")); }

    BatchRunHost host;
    FakeCluster cluster;
    std::vector<std::string> errors;
    std::string scriptText;
};

TEST_F(ClusterSubmitter, EntriesGoToSlurmInQueueOrderAndWaitersFollowTheirPredecessors) {
    fake.outcomes["cut"] = Outcome::kFails;
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "done", 2, 1},
                                               {"anne", "after-done", 0, 0, 1},
                                               {"anne", "failed-before", 2, 0},
                                               {"anne", "after-failed", 0, 0, 1},
                                               {"anne", "cut"},
                                               {"anne", "after-cut", 0, 0, 1},
                                               {"nobody", "orphan"},
                                               {"bob", "bad%TEMP%"}}));
    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_TRUE(errors.empty());

    // Only what may run, waiting only on a predecessor in Slurm's hands.
    ASSERT_EQ(cluster.jobs.size(), 3u);
    const SlurmJobId cut = cluster.Submitted("cut");
    EXPECT_EQ(cluster.jobs[cluster.Submitted("after-done")].submission.afterOk, 0u);
    EXPECT_EQ(cluster.jobs[cut].submission.afterOk, 0u);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("after-cut")].submission.afterOk, cut);
    EXPECT_EQ(cluster.jobs[cut].submission.options,
              (std::vector<std::string>{"--output=/dev/null", "-L", "torvane:1"}));
    // The script only hands its arguments on, never to a shell.
    EXPECT_EQ(scriptText, "#!/bin/sh\nexec \"$@\"\n");

    const std::string report = Report();
    for (const std::string& block :
         {SkippedBlock("anne", "after-failed"),
          RanBlock("anne", "after-done", true, {"ran after-done"}),
          RanBlock("anne", "cut", false, {"ran cut"}), SkippedBlock("anne", "after-cut")})
        EXPECT_NE(report.find(block), std::string::npos) << block << "in\n" << report;
    // The hostile name is refused without a launch.
    EXPECT_NE(report.find("\"bad%TEMP%\"\r\nSimulation succeeded: 0"), std::string::npos) << report;
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"after-done", "cut"}));
    EXPECT_TRUE(QueueRetired());
    EXPECT_FALSE(std::filesystem::exists(BatchFile(BatchJournal::kFileName)));
    EXPECT_FALSE(std::filesystem::exists(BatchFile(kClusterScriptName)));
}

TEST_F(ClusterSubmitter, ARestartedSubmitterTakesUpWhatWasLeftAndSubmitsNothingTwice) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "reached"},
                                               {"anne", "lost"},
                                               {"anne", "known"},
                                               {"anne", "new", 0, 0, 1},
                                               {"anne", "interrupted", 1, 0, 0},
                                               {"anne", "after-interrupted", 0, 0, 1}}));
    // Killed after sbatch ("reached"), before it ("lost"), after writing the id ("known").
    for (const auto& [id, job, position, token] : {std::tuple{7, "reached", "0", "torvane-1-2-0-1"},
                                                   std::tuple{8, "known", "2", "torvane-1-2-2-3"}})
        cluster.jobs[id] = {
            {"", {"", kRunJobArgument, batch.str(), "anne", job, position, token}, {}, 0, token}};
    JournalRecord local = Record("interrupted", 4);
    local.firstLaunchMs = local.launchMs = fake.now - 5000;
    local.process = {999, 1};  // gone, and no log written since
    LeaveJournal({Record("reached", 0, kClusterSubmitting, "torvane-1-2-0-1"),
                  Record("lost", 1, kClusterSubmitting, "torvane-1-2-1-2"),
                  Record("known", 2, "8", "torvane-1-2-2-3"), local});

    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_EQ(cluster.submissions, 4);
    EXPECT_NE(cluster.Submitted("lost"), 0u);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("new")].submission.afterOk, 8u);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("after-interrupted")].submission.afterOk,
              cluster.Submitted("interrupted"));
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"reached", "known", "lost", "new",
                                                       "interrupted", "after-interrupted"}));
    EXPECT_NE(Report().find("job interrupted, run again from the start"), std::string::npos)
        << Report();
    EXPECT_TRUE(QueueRetired());
}

TEST_F(ClusterSubmitter, ASlurmThatRefusesLeavesTheEntriesWaiting) {
    const std::string queue =
        QueueText({{"anne", "one"}, {"anne", "two"}, {"anne", "three", 0, 0, 1}});
    WriteBatchFile("batchexec.txt", queue);
    cluster.refuseFrom = 1;
    cluster.onQuery = nullptr;
    EXPECT_EQ(Submit(), EngineOutcome::kLeftQueued);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Batch job submission failed"), std::string::npos) << errors[0];
    // Nothing ran or changed; only the job that reached Slurm is journaled, to be watched.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), queue);
    BatchJournal journal(batch);
    ASSERT_TRUE(journal.Load());
    ASSERT_EQ(journal.Records().size(), 1u);
    EXPECT_EQ(journal.Records()[0].name, CString("one"));
    EXPECT_EQ(journal.Records()[0].clusterJob, "100");
    EXPECT_TRUE(fake.launched.empty());
}

TEST_F(ClusterSubmitter, WhatSlurmAndOtherProgramsChangeMeanwhileIsTakenIntoAccount) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "first"},
                                               {"anne", "dropped"},
                                               {"anne", "forgotten"},
                                               {"anne", "timed-out"}}));
    // Before the first tick two jobs start, another program finishes an entry, appends one and
    // sets one running with its waiter; then Slurm forgets one job and times out the other.
    const std::string changed = QueueText({{"anne", "first"},
                                           {"anne", "dropped", 2, 0, 0},
                                           {"anne", "forgotten", 1, 0, 0},
                                           {"anne", "timed-out", 1, 0, 0},
                                           {"bob", "appended"},
                                           {"anne", "held", 1, 0, 0},
                                           {"anne", "after-held", 0, 0, 1}});
    SlurmJobId forgotten = 0, timedOut = 0;
    cluster.onQuery = [&] {
        if (cluster.queries > 1) {
            cluster.jobs.erase(forgotten);
            cluster.jobs[timedOut].state = "TIMEOUT";
            cluster.jobs[timedOut].reason = "TimeLimit";
            return cluster.Schedule();
        }
        forgotten = cluster.Submitted("forgotten");
        timedOut = cluster.Submitted("timed-out");
        cluster.jobs[forgotten].state = cluster.jobs[timedOut].state = "RUNNING";
        WriteBatchFile("batchexec.txt", changed);
    };
    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("dropped")].state, "CANCELLED");
    EXPECT_EQ(cluster.Submitted("after-held"), 0u);
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"first", "appended"}));
    const std::string report = Report();
    EXPECT_EQ(report.find("dropped"), std::string::npos) << report;
    for (const auto& [job, id, ended] :
         {std::tuple{"forgotten", forgotten, "FORGOTTEN (no reason given)"},
          std::tuple{"timed-out", timedOut, "TIMEOUT (TimeLimit)"}}) {
        const std::string event = "Slurm job " + std::to_string(id) + " ended " + ended +
                                  " without recording its outcome";
        EXPECT_NE(report.find(RanBlock("anne", job, false, {event})), std::string::npos) << report;
    }
    // The queue stays for the next launcher, which takes the held entry up.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), QueueText({{"anne", "first", 2, 1, 0},
                                                         {"anne", "dropped", 2, 0, 0},
                                                         {"anne", "forgotten", 2, 0, 0},
                                                         {"anne", "timed-out", 2, 0, 0},
                                                         {"bob", "appended", 2, 1, 0},
                                                         {"anne", "held", 1, 0, 0},
                                                         {"anne", "after-held", 0, 0, 1}}));
}

TEST_F(ClusterSubmitter, ANodeRunsOnlyTheEntryItWasSubmittedForAndAppendsItsBlockWhole) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "part"}}));
    JournalRecord record = Record("part", 0, "5", "torvane-9-9-0-1");
    record.attempt = 0;
    LeaveJournal({record});
    const std::string journalText = ReadBatchFile(BatchJournal::kFileName);
    const std::string folder = batch.str();
    // Another submission's job, another entry, a damaged position: nothing.
    EXPECT_EQ(Node(folder, "anne", "part", "0", "torvane-1-1-0-1"), 1);
    EXPECT_EQ(Node(folder, "anne", "other", "0", "torvane-9-9-0-1"), 1);
    EXPECT_EQ(Node(folder, "anne", "part", "1", "torvane-9-9-0-1"), 1);
    EXPECT_EQ(Node(folder, "anne", "part", "-0", "torvane-9-9-0-1"), 1);
    EXPECT_TRUE(fake.launched.empty());

    // Another job's block lands in the report meanwhile: this one follows it whole.
    const std::string later = "12/05/26 19:00:00";
    fake.duringJob = [&](const std::string&) {
        WriteBatchFile("batchreport.txt", "another block\r\n");
        fake.stamp = later;
    };
    EXPECT_EQ(Node(folder, "anne", "part", "0", "torvane-9-9-0-1"), 0);
    std::string block = RanBlock("anne", "part", true, {"ran part"});
    block.replace(block.find(apptest::kStamp, 1), later.size(), later);
    EXPECT_EQ(Report(), "another block\r\n" + block);
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), QueueText({{"anne", "part", 2, 1, 0}}));
    EXPECT_EQ(ReadBatchFile(BatchJournal::kFileName), journalText);
    // Started again (a site may requeue): not run twice.
    EXPECT_EQ(Node(folder, "anne", "part", "0", "torvane-9-9-0-1"), 0);
    EXPECT_EQ(fake.launched.size(), 1u);
}

}  // namespace
