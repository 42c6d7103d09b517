// The Slurm engine's submitter on a fake cluster: a small scheduler that
// keeps afterok dependencies and runs each job as a node does (RunClusterJob
// on the scripted host), so that the queue, the report, the job logs and the
// journal come out as other programs see them. The real cluster is in the
// end-to-end tests (tools/slurm_night_test.cpp).
#include "app/slurm_run.h"

#include <gtest/gtest.h>

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
    std::map<SlurmJobId, Job> jobs;
    std::vector<SlurmJobId> forgotten;
    // sbatch refuses from this submission on (0-based); -1: never.
    int refuseFrom = -1;
    int submissions = 0;
    int queries = 0;
    // Runs at each query before the answer: by default every job that may
    // run is run by `node`.
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
        for (SlurmJobId id : ids) {
            SlurmJobState state;
            state.id = id;
            auto found = jobs.find(id);
            if (found != jobs.end() && std::count(forgotten.begin(), forgotten.end(), id) == 0) {
                state.state = found->second.state;
                state.reason = found->second.reason;
                state.phase = cluster::parse::PhaseOf(state.state);
            }
            states->push_back(state);
        }
        return {};
    }
    SlurmStatus FindByName(const std::vector<std::string>& names,
                           std::vector<SlurmJobState>* found) override {
        found->clear();
        for (const auto& [id, job] : jobs)
            if (std::count(names.begin(), names.end(), job.submission.name) != 0)
                found->push_back({id, cluster::parse::PhaseOf(job.state), job.state, job.reason,
                                  job.submission.name});
        return {};
    }
    SlurmStatus Cancel(const std::vector<SlurmJobId>& ids) override {
        for (SlurmJobId id : ids)
            if (jobs.count(id) != 0 && (jobs[id].state == "PENDING" || jobs[id].state == "RUNNING"))
                jobs[id].state = "CANCELLED";
        return {};
    }

    // As Slurm does on its tick: a pending job whose dependency completed
    // runs, one whose dependency failed is cancelled.
    void Schedule() {
        for (auto& [id, job] : jobs) {
            if (job.state != "PENDING")
                continue;
            if (job.submission.afterOk != 0) {
                const std::string& before = jobs[job.submission.afterOk].state;
                if (before == "PENDING" || before == "RUNNING")
                    continue;
                if (before != "COMPLETED") {
                    job.state = "CANCELLED";
                    job.reason = "DependencyNeverSatisfied";
                    continue;
                }
            }
            const int status = node(job.submission);
            job.state = status == 0 ? "COMPLETED" : "FAILED";
            job.reason = status == 0 ? "None" : "NonZeroExitCode";
        }
    }
    SlurmJobId Submitted(const std::string& name) const {
        for (const auto& [id, job] : jobs)
            if (job.submission.arguments.size() == 7 && job.submission.arguments[4] == name)
                return id;
        return 0;
    }

  private:
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
            platform::Status failure;
            const int status = RunClusterJob(users, CString(a[2]), CString(a[3]), CString(a[4]),
                                             a[5], a[6], host, BatchRunSettings(), failure);
            EXPECT_TRUE(failure.ok()) << failure.ToString();
            return status;
        };
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
                                               {"anne", "cut", 0, 0, 0},
                                               {"anne", "after-cut", 0, 0, 1},
                                               {"nobody", "orphan", 0, 0, 0},
                                               {"bob", "bad%TEMP%", 0, 0, 0},
                                               {"bob", "mill", 0, 0, 0},
                                               {"bob", "after-mill", 0, 0, 1}}));
    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_TRUE(errors.empty());

    // Submitted: only what may run, the names as arguments of their own, a
    // dependency only on a predecessor still in Slurm's hands.
    ASSERT_EQ(cluster.jobs.size(), 5u);
    const SlurmJobId cut = cluster.Submitted("cut"), mill = cluster.Submitted("mill");
    EXPECT_EQ(cluster.jobs[cluster.Submitted("after-done")].submission.afterOk, 0u);
    EXPECT_EQ(cluster.jobs[cut].submission.afterOk, 0u);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("after-cut")].submission.afterOk, cut);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("after-mill")].submission.afterOk, mill);
    EXPECT_EQ(cluster.jobs[mill].submission.options,
              (std::vector<std::string>{"--output=/dev/null", "-L", "torvane:1"}));
    // The script only hands its arguments on, never to a shell.
    EXPECT_EQ(scriptText, "#!/bin/sh\nexec \"$@\"\n");

    // The report: the waiter of the failed entry skipped at once, the
    // hostile name refused without a launch, the cut job's waiter skipped
    // once Slurm cancelled it.
    const std::string report = Report();
    for (const std::string& block :
         {SkippedBlock("anne", "after-failed"),
          RanBlock("anne", "after-done", true, {"ran after-done"}),
          RanBlock("anne", "cut", false, {"ran cut"}), SkippedBlock("anne", "after-cut"),
          RanBlock("bob", "mill", true, {"ran mill"}),
          RanBlock("bob", "after-mill", true, {"ran after-mill"})})
        EXPECT_NE(report.find(block), std::string::npos) << block << "in\n" << report;
    EXPECT_NE(report.find("\"bad%TEMP%\"\r\nSimulation succeeded: 0"), std::string::npos) << report;
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"after-done", "cut", "mill", "after-mill"}));
    // Every entry finished: retired.
    EXPECT_FALSE(std::filesystem::exists(BatchFile("batchexec.txt")));
    EXPECT_FALSE(std::filesystem::exists(BatchFile(BatchJournal::kFileName)));
    EXPECT_FALSE(std::filesystem::exists(BatchFile(kClusterScriptName)));
}

TEST_F(ClusterSubmitter, ARestartedSubmitterFindsItsSubmissionsAgainAndSubmitsNothingTwice) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "reached", 0, 0, 0},
                                               {"anne", "lost", 0, 0, 0},
                                               {"anne", "known", 0, 0, 0},
                                               {"anne", "new", 0, 0, 1}}));
    // The submitter before was killed: between sbatch and writing the id
    // ("reached", which Slurm knows by its name), before sbatch ("lost",
    // which Slurm does not know), and after writing the id ("known").
    for (const auto& [id, job, position, token] :
         {std::tuple{7, "reached", "0", "torvane-1-2-0-1"},
          std::tuple{8, "known", "2", "torvane-1-2-2-3"}}) {
        cluster.jobs[id] = {{}, "PENDING", "Licenses"};
        cluster.jobs[id].submission.name = token;
        cluster.jobs[id].submission.arguments = {"",  kRunJobArgument, batch.str(), "anne",
                                                 job, position,        token};
    }
    LeaveJournal({Record("reached", 0, kClusterSubmitting, "torvane-1-2-0-1"),
                  Record("lost", 1, kClusterSubmitting, "torvane-1-2-1-2"),
                  Record("known", 2, "8", "torvane-1-2-2-3")});

    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    // Only the entry whose sbatch never happened and the new one were
    // submitted; the new one waits for the job found again.
    EXPECT_EQ(cluster.submissions, 2);
    EXPECT_EQ(cluster.jobs.size(), 4u);
    EXPECT_NE(cluster.Submitted("lost"), 0u);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("new")].submission.afterOk, 8u);
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"reached", "known", "lost", "new"}));
    EXPECT_FALSE(std::filesystem::exists(BatchFile("batchexec.txt")));
}

TEST_F(ClusterSubmitter, AJobALocalLauncherLeftInterruptedIsSubmittedToRunAgain) {
    WriteBatchFile("batchexec.txt",
                   QueueText({{"anne", "interrupted", 1, 0, 0}, {"anne", "next", 0, 0, 1}}));
    JournalRecord record = Record("interrupted", 0);
    record.firstLaunchMs = record.launchMs = fake.now - 5000;
    record.process = {999, 1};  // gone, and no log written since
    LeaveJournal({record});

    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_EQ(cluster.jobs[cluster.Submitted("next")].submission.afterOk,
              cluster.Submitted("interrupted"));
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"interrupted", "next"}));
    EXPECT_NE(Report().find("job interrupted, run again from the start"), std::string::npos)
        << Report();
    EXPECT_FALSE(std::filesystem::exists(BatchFile("batchexec.txt")));
}

TEST_F(ClusterSubmitter, ASlurmThatRefusesLeavesTheEntriesWaiting) {
    const std::string queue =
        QueueText({{"anne", "one", 0, 0, 0}, {"anne", "two", 0, 0, 0}, {"anne", "three", 0, 0, 1}});
    WriteBatchFile("batchexec.txt", queue);
    cluster.refuseFrom = 1;
    cluster.onQuery = nullptr;
    EXPECT_EQ(Submit(), EngineOutcome::kLeftQueued);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Batch job submission failed"), std::string::npos) << errors[0];
    // Nothing ran or changed; the one job that reached Slurm is in the
    // journal, for the next submitter to watch.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), queue);
    BatchJournal journal(batch);
    ASSERT_TRUE(journal.Load());
    ASSERT_EQ(journal.Records().size(), 1u);
    EXPECT_EQ(journal.Records()[0].name, CString("one"));
    EXPECT_EQ(journal.Records()[0].clusterJob, "100");

    // The next submitter, with Slurm back, submits the other two only.
    cluster.refuseFrom = -1;
    cluster.onQuery = [this] { cluster.Schedule(); };
    errors.clear();
    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(cluster.submissions, 3);
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"one", "two", "three"}));
}

// Jobs Slurm ends (a time limit, a lost node, a cancel) and an entry another
// program finishes are run on the real cluster (tools/slurm_night_test.cpp);
// a job Slurm has forgotten cannot be made to happen there.
TEST_F(ClusterSubmitter, AJobSlurmHasForgottenFailsWithAnEvent) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "forgotten", 0, 0, 0}}));
    // The first query: running on its node (state 1). Then Slurm forgets it.
    cluster.onQuery = [this] {
        const SlurmJobId id = cluster.Submitted("forgotten");
        if (cluster.queries == 1) {
            WriteBatchFile("batchexec.txt", QueueText({{"anne", "forgotten", 1, 0, 0}}));
            cluster.jobs[id].state = "RUNNING";
        } else {
            cluster.forgotten.push_back(id);
        }
    };
    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_TRUE(fake.launched.empty());
    const std::string event = "Slurm job " + std::to_string(cluster.Submitted("forgotten")) +
                              " ended FORGOTTEN (no reason given) without recording its outcome";
    EXPECT_NE(Report().find(RanBlock("anne", "forgotten", false, {event})), std::string::npos)
        << Report();
    EXPECT_FALSE(std::filesystem::exists(BatchFile("batchexec.txt")));
}

TEST_F(ClusterSubmitter, AppendedEntriesAreSubmittedAndAChainNobodyRunsEndsTheRun) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "first", 0, 0, 0}}));
    // Another program appends a job, and an entry set running (no launcher
    // runs it) with its waiter.
    cluster.onQuery = [this] {
        if (cluster.queries == 1)
            WriteBatchFile("batchexec.txt", QueueText({{"anne", "first", 0, 0, 0},
                                                       {"bob", "appended", 0, 0, 0},
                                                       {"anne", "held", 1, 0, 0},
                                                       {"anne", "after-held", 0, 0, 1}}));
        cluster.Schedule();
    };
    EXPECT_EQ(Submit(), EngineOutcome::kFinished);
    EXPECT_EQ(fake.launched, (std::vector<std::string>{"first", "appended"}));
    EXPECT_EQ(cluster.Submitted("after-held"), 0u);
    // The queue stays for the next launcher, which takes the held entry up.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), QueueText({{"anne", "first", 2, 1, 0},
                                                         {"bob", "appended", 2, 1, 0},
                                                         {"anne", "held", 1, 0, 0},
                                                         {"anne", "after-held", 0, 0, 1}}));
}

TEST_F(ClusterSubmitter, ANodeRunsOnlyTheEntryItWasSubmittedForAndAppendsItsBlockWhole) {
    WriteBatchFile("batchexec.txt", QueueText({{"anne", "part", 0, 0, 0}}));
    JournalRecord record = Record("part", 0, "5", "torvane-9-9-0-1");
    record.attempt = 0;
    LeaveJournal({record});
    const std::string journalText = ReadBatchFile(BatchJournal::kFileName);
    auto node = [&](const char* job, const char* position, const char* token) {
        platform::Status failure;
        const int status = RunClusterJob(users, batch, "anne", job, position, token, host,
                                         BatchRunSettings(), failure);
        EXPECT_TRUE(failure.ok()) << failure.ToString();
        return status;
    };
    // Another submission's job, another entry, a damaged position: nothing.
    EXPECT_EQ(node("part", "0", "torvane-1-1-0-1"), 1);
    EXPECT_EQ(node("other", "0", "torvane-9-9-0-1"), 1);
    EXPECT_EQ(node("part", "1", "torvane-9-9-0-1"), 1);
    EXPECT_EQ(node("part", "-0", "torvane-9-9-0-1"), 1);
    EXPECT_TRUE(fake.launched.empty());

    // While it runs, another job's block lands in the report: this job's
    // block follows it whole, its started line stamped when it started.
    const std::string later = "12/05/26 19:00:00";
    fake.duringJob = [&](const std::string&) {
        WriteBatchFile("batchreport.txt", "another block\r\n");
        fake.stamp = later;
    };
    EXPECT_EQ(node("part", "0", "torvane-9-9-0-1"), 0);
    std::string block = RanBlock("anne", "part", true, {"ran part"});
    const std::size_t ended = block.find(apptest::kStamp, 1);
    block.replace(ended, later.size(), later);
    EXPECT_EQ(Report(), "another block\r\n" + block);
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), QueueText({{"anne", "part", 2, 1, 0}}));
    // The journal is the submitter's alone.
    EXPECT_EQ(ReadBatchFile(BatchJournal::kFileName), journalText);
    // Started again (Slurm never requeues, a site might): not run twice,
    // and its waiter follows the recorded outcome.
    EXPECT_EQ(node("part", "0", "torvane-9-9-0-1"), 0);
    EXPECT_EQ(fake.launched.size(), 1u);
}

}  // namespace
