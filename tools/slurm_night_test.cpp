// End-to-end tests of the Slurm engine: the real torvane-batch and
// torvane-sim on a throw-away cluster (scripts/slurm-local), whose
// slurm.conf TORVANE_TEST_SLURM_CONF names; without it every test is
// skipped with a note. The cluster has one node and two simulator licences
// ("torvane"); every job asks for one.
//
// The installation's script notes, beside itself, when each job started and
// ended and under which Slurm job, so that the tests see how many jobs ran at
// once and that none ran twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "batchlog/fichier_log_batch.h"
#include "platform/child_process.h"
#include "platform/shared_file.h"
#include "platform/sleep.h"
#include "testsupport/test_main.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using apptest::SkippedBlock;
using e2e::Ran;

// One start or end noted by the installation's script.
struct Mark {
    bool start = false;
    std::string job;  // "<user>/<job>"
    std::int64_t ns = 0;
    std::string slurmJob;
};

class SlurmNight : public e2e::EndToEnd {
  protected:
    void SetUp() override {
        const char* conf = std::getenv("TORVANE_TEST_SLURM_CONF");
        if (conf == nullptr || *conf == '\0')
            GTEST_SKIP() << "no throw-away Slurm cluster (TORVANE_TEST_SLURM_CONF unset; "
                            "scripts/slurm-local start)";
        EndToEnd::SetUp();
        m_conf = conf;
        m_install = Root() / "install";
        fs::create_directories(m_install);
        const std::string script =
            "#!/bin/sh\nhere=$(dirname \"$0\")\n"
            "echo \"start $3/$5 $(date +%s%N) ${SLURM_JOB_ID:-none}\" >> \"$here/marks.txt\"\n\"" +
            e2e::Program("torvane-sim") +
            "\" \"$@\"\nstatus=$?\n"
            "echo \"end $3/$5 $(date +%s%N) ${SLURM_JOB_ID:-none}\" >> \"$here/marks.txt\"\n"
            "exit $status\n";
        testsupport::WriteBytes(m_install / "TorvaneBatch.bat", script);
        fs::permissions(m_install / "TorvaneBatch.bat", fs::perms(0755));
        SetMachine("REPSOFTWARE", e2e::WithSeparator(m_install));
        SetMachine("BATCHENGINE", "slurm");
        m_firstNewJob = HighestJobId() + 1;
    }
    void TearDown() override {
        if (m_conf.empty())
            return;
        // A failed test leaves no job behind to hold a licence.
        std::vector<std::string> left;
        for (const auto& [id, state] : NewSlurmJobs())
            if (state.rfind("PENDING", 0) == 0 || state.rfind("RUNNING", 0) == 0)
                left.push_back(std::to_string(id));
        if (!left.empty())
            Slurm("scancel", left);
        if (m_nodeDown)
            Slurm("scontrol", {"update", "nodename=" + Node(), "state=resume"});
    }

    // Writes the settings and puts what the launchers need in this process's
    // environment, for those started in the background to inherit too.
    void Prepare(const std::string& slurmOptions, const std::string& simSleepMs) {
        SetMachine("BATCHSLURMOPTIONS", slurmOptions);
        m_variables.clear();
        for (const auto& [name, value] : Environment()) m_variables.emplace_back(name, value);
        m_variables.emplace_back("SLURM_CONF", m_conf);
        m_variables.emplace_back("TORVANE_SIM_SLEEP_MS", simSleepMs);
    }
    platform::CapturedRun RunLauncher(std::uint32_t limitMs = 240000) {
        platform::CapturedRun run =
            platform::RunAndCapture(e2e::Program("torvane-batch"), {}, {}, limitMs);
        EXPECT_TRUE(run.started) << run.reason;
        EXPECT_FALSE(run.timedOut) << "the launcher did not end";
        run.out = e2e::WithoutCarriageReturns(run.out);
        return run;
    }

    platform::CapturedRun Slurm(const std::string& command, const std::vector<std::string>& args) {
        return platform::RunAndCapture(command, args, {{"SLURM_CONF", m_conf}}, 30000);
    }
    std::string Node() {
        const platform::CapturedRun run = Slurm("sinfo", {"-h", "-o", "%N"});
        return run.out.substr(0, run.out.find('\n'));
    }
    // Every job Slurm knows: id -> "<state>|<reason>".
    std::map<std::uint64_t, std::string> SlurmJobs() {
        std::map<std::uint64_t, std::string> jobs;
        const platform::CapturedRun run = Slurm("squeue", {"-h", "-t", "all", "-o", "%i|%T|%r"});
        std::istringstream in(run.out);
        for (std::string line; std::getline(in, line);)
            if (const std::size_t bar = line.find('|'); bar != std::string::npos)
                jobs[std::stoull(line.substr(0, bar))] = line.substr(bar + 1);
        return jobs;
    }
    std::uint64_t HighestJobId() {
        const auto jobs = SlurmJobs();
        return jobs.empty() ? 0 : jobs.rbegin()->first;
    }
    // The jobs submitted since the test began.
    std::map<std::uint64_t, std::string> NewSlurmJobs() {
        auto jobs = SlurmJobs();
        std::erase_if(jobs, [&](const auto& job) { return job.first < m_firstNewJob; });
        return jobs;
    }

    std::vector<Mark> Marks() const {
        std::vector<Mark> marks;
        if (!fs::exists(m_install / "marks.txt"))
            return marks;
        std::istringstream in(testsupport::ReadBytes(m_install / "marks.txt"));
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            Mark mark;
            std::string kind;
            fields >> kind >> mark.job >> mark.ns >> mark.slurmJob;
            mark.start = kind == "start";
            marks.push_back(mark);
        }
        return marks;
    }
    std::map<std::string, int> Starts() const {
        std::map<std::string, int> starts;
        for (const Mark& mark : Marks()) starts[mark.job] += mark.start ? 1 : 0;
        return starts;
    }
    // Waits until the script has started each of `jobs`; their Slurm ids.
    std::map<std::string, std::string> WaitForStarts(const std::vector<std::string>& jobs) {
        std::map<std::string, std::string> ids;
        e2e::WaitUntil(
            60000,
            [&] {
                ids.clear();
                for (const Mark& mark : Marks())
                    if (mark.start && std::count(jobs.begin(), jobs.end(), mark.job) != 0)
                        ids[mark.job] = mark.slurmJob;
                return ids.size() == jobs.size();
            },
            100);
        EXPECT_EQ(ids.size(), jobs.size()) << "not every job started";
        return ids;
    }
    std::string LogEvents(const std::string& job) const {
        FichierLogBatch log;
        if (!LoadLog("alice", job, log))
            return "(no log)";
        std::string events;
        for (std::string_view event : log.m_eventList) (events += event) += "\n";
        return events;
    }
    bool Retired() const {
        return !fs::exists(QueuePath()) && !fs::exists(Batch("alice") / "batchjournal.txt") &&
               !fs::exists(Batch("alice") / "batchjob.sh");
    }

    std::string m_conf;
    fs::path m_install;
    std::uint64_t m_firstNewJob = 0;
    bool m_nodeDown = false;
};

TEST_F(SlurmNight, EightJobsShareTheTwoLicencesAndEndInAFractionOfTheLocalTime) {
    std::vector<std::pair<std::string, int>> jobs;
    for (int n = 1; n <= 8; ++n) jobs.emplace_back("part" + std::to_string(n), 0);
    Project("alice", jobs);
    Prepare("-L torvane:1", "2000");

    const auto begin = std::chrono::steady_clock::now();
    const platform::CapturedRun run = RunLauncher();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, m_banner);
    // The local engine takes 8 x (2 s job + 2 s pause) = 32 s.
    std::printf("8 jobs of 2 s on 2 licences: %.1f s (local engine: 32 s)\n", seconds);
    RecordProperty("seconds", std::to_string(seconds));
    EXPECT_LT(seconds, 16.0);

    // Never more than two at once, and two at once at some point.
    std::vector<Mark> marks = Marks();
    std::sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) {
        return a.ns != b.ns ? a.ns < b.ns : !a.start;  // an end before a start at the same time
    });
    int running = 0, most = 0;
    for (const Mark& mark : marks) {
        running += mark.start ? 1 : -1;
        most = std::max(most, running);
    }
    EXPECT_EQ(most, 2);
    EXPECT_EQ(marks.size(), 16u);

    // Each job ran once, and each block is whole, whatever the order.
    const std::string report = Report();
    std::size_t length = 0;
    for (const auto& [job, wait] : jobs) {
        EXPECT_EQ(Starts()["alice/" + job], 1) << job;
        const std::string block = Ran(job, true);
        EXPECT_NE(report.find(block), std::string::npos) << job << " in\n" << report;
        length += block.size();
    }
    EXPECT_EQ(report.size(), length) << report;
    EXPECT_EQ(NewSlurmJobs().size(), 8u);
    EXPECT_TRUE(Retired());
    EXPECT_TRUE(fs::exists(Batch("alice") / "alice-BATCH.tmp"));
}

TEST_F(SlurmNight, AFailedJobsWaiterIsSkippedAndAHostileNameIsNeverSubmitted) {
    Project("alice", {{"first-fail", 0},
                      {"after-fail", 1},
                      {"first-ok", 0},
                      {"after-ok", 1},
                      {"bad%PATH%name", 0}});
    Prepare("-L torvane:1", "1000");

    const platform::CapturedRun run = RunLauncher();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const std::string report = Report();
    for (const std::string& block : {Ran("first-fail", false), SkippedBlock("alice", "after-fail"),
                                     Ran("first-ok", true), Ran("after-ok", true)})
        EXPECT_NE(report.find(block), std::string::npos) << block << " in\n" << report;
    const std::map<std::string, int> starts = Starts();
    EXPECT_EQ(starts, (std::map<std::string, int>{
                          {"alice/first-fail", 1}, {"alice/first-ok", 1}, {"alice/after-ok", 1}}));
    // The waiter started after its predecessor had ended.
    std::int64_t firstEnded = 0, afterStarted = 0;
    for (const Mark& mark : Marks()) {
        if (!mark.start && mark.job == "alice/first-ok")
            firstEnded = mark.ns;
        if (mark.start && mark.job == "alice/after-ok")
            afterStarted = mark.ns;
    }
    EXPECT_GT(afterStarted, firstEnded);
    // Four jobs reached Slurm, the hostile name none; its log says why.
    EXPECT_EQ(NewSlurmJobs().size(), 4u);
    EXPECT_NE(LogEvents("bad%PATH%name").find("the command line cannot pass intact"),
              std::string::npos)
        << LogEvents("bad%PATH%name");
    EXPECT_TRUE(Retired());
}

TEST_F(SlurmNight, JobsEndedBySlurmFailWithAnEventAndAnEntryCancelledInTheQueueIsCancelled) {
    // Slurm's floor for a time limit is a minute: the job is ended at about
    // 1:04 (its tick), well before the stand-in's 100 s.
    Project("alice", {{"cancelled", 0}, {"timed-out", 0}, {"dropped", 0}});
    Prepare("-L torvane:1 --time=1", "100000");
    e2e::BackgroundLauncher launcher;
    ASSERT_TRUE(launcher.Start());
    const auto ids = WaitForStarts({"alice/cancelled", "alice/timed-out"});
    ASSERT_EQ(ids.size(), 2u);

    // The third entry waits for a licence; another program finishes it,
    // and its Slurm job is cancelled before the licence comes free.
    std::uint64_t pending = 0;
    for (const auto& [id, state] : NewSlurmJobs())
        if (state == "PENDING|Licenses")
            pending = id;
    ASSERT_NE(pending, 0u) << "the third job does not wait for a licence";
    {
        platform::ExclusiveOpen queue = platform::OpenExclusive(QueuePath().string(), "r+b");
        ASSERT_TRUE(queue.status.ok()) << queue.status.ToString();
        const std::string text = e2e::ReadAll(queue.stream);
        const std::string waiting = "name = dropped\r\nstate = 0\r\nstatus = 0";
        const std::size_t at = text.find(waiting);
        ASSERT_NE(at, std::string::npos) << text;
        std::fseek(queue.stream, static_cast<long>(at), SEEK_SET);
        std::fputs("name = dropped\r\nstate = 2\r\nstatus = 0", queue.stream);
        std::fclose(queue.stream);
    }
    e2e::WaitUntil(
        10000, [&] { return SlurmJobs()[pending].rfind("CANCELLED", 0) == 0; }, 100);
    EXPECT_EQ(SlurmJobs()[pending].rfind("CANCELLED", 0), 0u) << SlurmJobs()[pending];
    Slurm("scancel", {ids.at("alice/cancelled")});

    ASSERT_TRUE(launcher.EndsWithin(120000)) << "the launcher did not end";
    EXPECT_EQ(launcher.ExitCode(), 0);
    EXPECT_NE(LogEvents("cancelled").find("ended CANCELLED"), std::string::npos)
        << LogEvents("cancelled");
    EXPECT_NE(LogEvents("timed-out").find("ended TIMEOUT (TimeLimit)"), std::string::npos)
        << LogEvents("timed-out");
    const std::string report = Report();
    for (const char* job : {"cancelled", "timed-out"}) {
        EXPECT_NE(report.find("\"" + std::string(job) + "\"\r\nSimulation succeeded: 0\r\n"),
                  std::string::npos)
            << job << " in\n"
            << report;
    }
    EXPECT_EQ(report.find("dropped"), std::string::npos) << report;
    EXPECT_EQ(Starts().count("alice/dropped"), 0u);
    EXPECT_EQ(NewSlurmJobs().size(), 3u);
    EXPECT_TRUE(Retired());
}

TEST_F(SlurmNight, AJobWhoseNodeGoesDownFailsWithAnEvent) {
    Project("alice", {{"lost", 0}});
    Prepare("-L torvane:1", "60000");
    e2e::BackgroundLauncher launcher;
    ASSERT_TRUE(launcher.Start());
    ASSERT_EQ(WaitForStarts({"alice/lost"}).size(), 1u);
    m_nodeDown = true;
    const platform::CapturedRun down =
        Slurm("scontrol", {"update", "nodename=" + Node(), "state=down", "reason=test"});
    EXPECT_EQ(down.exitCode, 0) << down.err;

    ASSERT_TRUE(launcher.EndsWithin(60000)) << "the launcher did not end";
    EXPECT_EQ(launcher.ExitCode(), 0);
    EXPECT_NE(LogEvents("lost").find("ended NODE_FAIL"), std::string::npos) << LogEvents("lost");
    EXPECT_NE(Report().find("\"lost\"\r\nSimulation succeeded: 0\r\n"), std::string::npos)
        << Report();
    EXPECT_EQ(Starts()["alice/lost"], 1);
    EXPECT_TRUE(Retired());
    Slurm("scontrol", {"update", "nodename=" + Node(), "state=resume"});
    m_nodeDown = false;
}

TEST_F(SlurmNight, ASubmitterKilledAndStartedAgainSubmitsNothingTwice) {
    Project("alice", {{"one", 0}, {"two", 1}, {"three", 0}, {"four", 0}});
    Prepare("-L torvane:1", "3000");
    {
        e2e::BackgroundLauncher launcher;
        ASSERT_TRUE(launcher.Start());
        ASSERT_EQ(WaitForStarts({"alice/one"}).size(), 1u);
        EXPECT_TRUE(launcher.Kill()) << "the launcher ended before it was killed";
    }
    const std::size_t submitted = NewSlurmJobs().size();
    EXPECT_EQ(submitted, 4u) << "every entry is submitted at once";

    const platform::CapturedRun run = RunLauncher();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(NewSlurmJobs().size(), submitted);
    EXPECT_EQ(Starts(),
              (std::map<std::string, int>{
                  {"alice/one", 1}, {"alice/two", 1}, {"alice/three", 1}, {"alice/four", 1}}));
    const std::string report = Report();
    for (const std::string job : {"one", "two", "three", "four"})
        EXPECT_NE(report.find(Ran(job, true)), std::string::npos) << job << " in\n" << report;
    EXPECT_TRUE(Retired());
}

}  // namespace
