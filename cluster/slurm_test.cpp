// The Slurm client: its parsers on answers recorded from Slurm 22.05, and the
// client against a real cluster (scripts/slurm-local), whose configuration
// TORVANE_TEST_SLURM_CONF names. Without it those tests are skipped with a
// note: a site's own cluster is never used by accident.
#include "cluster/slurm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/host_features.h"
#include "platform/sleep.h"
#include "testsupport/temp_dir.h"

namespace {

using cluster::SlurmJobId;
using cluster::SlurmJobState;
using cluster::SlurmPhase;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;
namespace parse = cluster::parse;

TEST(SlurmParse, SubmittedJobIdTakesOnlyAnIdAlone) {
    SlurmJobId id = 0;
    for (const auto& [answer, expected] : std::vector<std::pair<const char*, SlurmJobId>>{
             {"42\n", 42}, {"4294967295;torvanelocal\n", 4294967295u}, {"  17\r\n", 17}}) {
        EXPECT_TRUE(parse::SubmittedJobId(answer, &id)) << answer;
        EXPECT_EQ(id, expected) << answer;
    }
    for (const char* damaged :
         {"", "\n", "Submitted batch job 42\n", "42\n43\n", "0\n", "4294967296\n", "-5\n",
          "42abc\n", ";cluster\n", "123456789012345678901234567890\n"}) {
        id = 7;
        EXPECT_FALSE(parse::SubmittedJobId(damaged, &id)) << damaged;
        EXPECT_EQ(id, 7u) << damaged;
    }
}

TEST(SlurmParse, PhasesOfSlurmStates) {
    const std::map<std::string, SlurmPhase> expected = {
        {"PENDING", SlurmPhase::kWaiting},   {"REQUEUED", SlurmPhase::kWaiting},
        {"RUNNING", SlurmPhase::kRunning},   {"COMPLETING", SlurmPhase::kRunning},
        {"SUSPENDED", SlurmPhase::kRunning}, {"SOME_NEW_STATE", SlurmPhase::kRunning},
        {"COMPLETED", SlurmPhase::kEnded},   {"FAILED", SlurmPhase::kEnded},
        {"CANCELLED", SlurmPhase::kEnded},   {"TIMEOUT", SlurmPhase::kEnded},
        {"NODE_FAIL", SlurmPhase::kEnded},   {"OUT_OF_MEMORY", SlurmPhase::kEnded},
    };
    for (const auto& [state, phase] : expected) EXPECT_EQ(parse::PhaseOf(state), phase) << state;
}

// Each state as "id|state|reason|phase" (and "|name" when it has one).
std::string Describe(const std::vector<SlurmJobState>& states) {
    static const std::map<SlurmPhase, std::string> kPhases = {
        {SlurmPhase::kWaiting, "waiting"},
        {SlurmPhase::kRunning, "running"},
        {SlurmPhase::kEnded, "ended"},
        {SlurmPhase::kForgotten, "forgotten"}};
    std::string text;
    for (const SlurmJobState& s : states)
        text += std::to_string(s.id) + "|" + s.state + "|" + s.reason + "|" + kPhases.at(s.phase) +
                (s.name.empty() ? "" : "|" + s.name) + "\n";
    return text;
}

// As squeue --noheader --states=all --format=%i|%T|%r printed it on the
// test cluster, with a reason of a real site (blanks and a comma) added.
const char kRecordedQueue[] =
    "8|CANCELLED|DependencyNeverSatisfied\n"
    "9|COMPLETED|None\n"
    "7|FAILED|NonZeroExitCode\n"
    "10|TIMEOUT|TimeLimit\n"
    "11|NODE_FAIL|NodeDown\n"
    "12|PENDING|(ReqNodeNotAvail, Reserved for maintenance)\n"
    "13|RUNNING|None\n";

TEST(SlurmParse, QueueAnswerGivesEachAskedJobInTheAskedOrder) {
    std::vector<SlurmJobState> states;
    std::string error;
    ASSERT_TRUE(parse::QueueAnswer(kRecordedQueue, {13, 8, 11, 99, 12, 10}, &states, &error))
        << error;
    // 99 is not in the answer: Slurm has forgotten it.
    EXPECT_EQ(Describe(states),
              "13|RUNNING|None|running\n"
              "8|CANCELLED|DependencyNeverSatisfied|ended\n"
              "11|NODE_FAIL|NodeDown|ended\n"
              "99|||forgotten\n"
              "12|PENDING|(ReqNodeNotAvail, Reserved for maintenance)|waiting\n"
              "10|TIMEOUT|TimeLimit|ended\n");

    // Line ends of either kind; an empty answer knows none of the jobs.
    ASSERT_TRUE(parse::QueueAnswer("5|COMPLETED|None\r\n", {5}, &states, &error)) << error;
    EXPECT_EQ(Describe(states), "5|COMPLETED|None|ended\n");
    ASSERT_TRUE(parse::QueueAnswer("", {5, 6}, &states, &error)) << error;
    EXPECT_EQ(Describe(states), "5|||forgotten\n6|||forgotten\n");
}

TEST(SlurmParse, ADamagedQueueAnswerIsAnErrorThatQuotesItShortly) {
    const std::string huge(100000, 'x');
    for (const std::string& damaged : {
             std::string("5|COMPLETED|None"),  // cut in the middle of a line
             std::string("5|COMPLETED\n"),
             std::string("five|COMPLETED|None\n"),
             std::string("5|completed|None\n"),
             std::string("5||None\n"),
             std::string("\n"),
             std::string("5|COMPLETED|None\n") + huge + "\n",
             std::string("5|COMPLETED|None\n\0\n", 19),
         }) {
        std::vector<SlurmJobState> states;
        std::string error;
        EXPECT_FALSE(parse::QueueAnswer(damaged, {5}, &states, &error)) << damaged.substr(0, 40);
        EXPECT_FALSE(error.empty());
        EXPECT_LT(error.size(), 300u);
    }
}

TEST(SlurmParse, NamedQueueAnswerListsEveryJobWithItsName) {
    std::vector<SlurmJobState> jobs;
    std::string error;
    ASSERT_TRUE(
        parse::NamedQueueAnswer("21|COMPLETED|tvb-1a2b|None\n22|PENDING|tvb-1a2b|Dependency\n"
                                "23|PENDING|tvb-9|(ReqNodeNotAvail, Reserved for maintenance)\n",
                                &jobs, &error))
        << error;
    EXPECT_EQ(Describe(jobs),
              "21|COMPLETED|None|ended|tvb-1a2b\n22|PENDING|Dependency|waiting|tvb-1a2b\n"
              "23|PENDING|(ReqNodeNotAvail, Reserved for maintenance)|waiting|tvb-9\n");
    for (const char* damaged : {"21|COMPLETED|None\n", "21|COMPLETED||None\n",
                                "21|COMPLETED|a b|None\n", "21|COMPLETED|x|None"}) {
        EXPECT_FALSE(parse::NamedQueueAnswer(damaged, &jobs, &error)) << damaged;
    }
    EXPECT_TRUE(parse::IsJobName("tvb-0001"));
    for (const std::string& bad :
         {std::string(), std::string("a b"), std::string("a,b"), std::string("a|b"),
          std::string("caf\xC3\xA9"), std::string(201, 'x')})
        EXPECT_FALSE(parse::IsJobName(bad)) << bad;
}

TEST(SlurmClient, ACommandThatCannotRunOrDoesNotAnswerIsANamedError) {
    TempDir dir;
    cluster::SlurmCommands commands;
    commands.sbatch = dir.File("no-sbatch-here");
    cluster::SlurmSubmission job;
    job.script = dir.File("job.sh");
    SlurmJobId id = 0;
    cluster::SlurmStatus status = cluster::SubmitJob(commands, job, &id);
    EXPECT_EQ(status.error, cluster::SlurmError::kCannotRun);
    EXPECT_EQ(status.message.rfind("cannot run no-sbatch-here: ", 0), 0u) << status.message;

    job.script = "--wrap=rm -rf x";
    status = cluster::SubmitJob(commands, job, &id);
    EXPECT_EQ(status.error, cluster::SlurmError::kBadRequest) << status.message;
    job.script = dir.File("job.sh");
    job.name = "two words";
    status = cluster::SubmitJob(commands, job, &id);
    EXPECT_EQ(status.error, cluster::SlurmError::kBadRequest) << status.message;
    std::vector<SlurmJobState> found;
    status = cluster::FindJobsByName(commands, {"ok", "a,b"}, &found);
    EXPECT_EQ(status.error, cluster::SlurmError::kBadRequest) << status.message;

    if (!platform::HostHasSlurmClient())
        GTEST_SKIP() << "no shell script for a command that does not answer on this host";
    // A command that never answers stands for a controller that does not.
    commands.squeue = dir.File("squeue");
    WriteBytes(commands.squeue, "#!/bin/sh\necho partial\nexec sleep 120\n");
    fs::permissions(commands.squeue, fs::perms(0755));
    commands.timeLimitMs = 1000;
    std::vector<SlurmJobState> states;
    status = cluster::QueryJobs(commands, {1, 2}, &states);
    EXPECT_EQ(status.error, cluster::SlurmError::kTimedOut);
    EXPECT_EQ(status.message, "squeue did not answer within 1 s");
}

// The real cluster of scripts/slurm-local, and a batch script that records
// its arguments, its start and end times, sleeps and exits with a status:
//   job.sh <record folder> <seconds> <exit status> <names...>
// Dependencies, licences and a lost node are run through the whole program
// on the same cluster (tools/slurm_night_test.cpp).
class SlurmCluster : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* conf = std::getenv("TORVANE_TEST_SLURM_CONF");
        if (conf == nullptr || *conf == '\0')
            GTEST_SKIP() << "no test cluster (scripts/slurm-local start, then set "
                            "TORVANE_TEST_SLURM_CONF)";
        m_commands.environment = {{"SLURM_CONF", conf}};
        m_commands.timeLimitMs = 30000;
        m_script = m_dir.File("job.sh");
        WriteBytes(m_script,
                   "#!/bin/sh\n"
                   "out=$1; seconds=$2; status=$3; shift 3\n"
                   "date +%s.%N > \"$out/start-$SLURM_JOB_ID\"\n"
                   "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out/args-$SLURM_JOB_ID\"\n"
                   "sleep \"$seconds\"\n"
                   "date +%s.%N > \"$out/end-$SLURM_JOB_ID\"\n"
                   "exit \"$status\"\n");
        fs::permissions(m_script, fs::perms(0755));
    }

    SlurmJobId Submit(const std::string& seconds, const std::string& status,
                      const std::vector<std::string>& names = {}, SlurmJobId afterOk = 0,
                      const std::string& siteOptions = "", const std::string& jobName = "") {
        cluster::SlurmSubmission job;
        job.script = m_script;
        job.arguments = {m_dir.path().string(), seconds, status};
        job.arguments.insert(job.arguments.end(), names.begin(), names.end());
        job.options = cluster::SplitSlurmOptions(siteOptions);
        job.options.push_back("--output=" + m_dir.File("slurm-%j.out"));
        job.afterOk = afterOk;
        job.name = jobName;
        SlurmJobId id = 0;
        cluster::SlurmStatus submitted = cluster::SubmitJob(m_commands, job, &id);
        EXPECT_TRUE(submitted.ok()) << submitted.message;
        return id;
    }

    // Polls with one query for all of `ids` until every job has ended (at
    // most 90 s); the last states.
    std::vector<SlurmJobState> WaitUntilEnded(const std::vector<SlurmJobId>& ids) {
        std::vector<SlurmJobState> states;
        for (int i = 0; i < 450; ++i) {
            cluster::SlurmStatus status = cluster::QueryJobs(m_commands, ids, &states);
            EXPECT_TRUE(status.ok()) << status.message;
            if (!status.ok() || std::all_of(states.begin(), states.end(), [](const auto& s) {
                    return s.phase == SlurmPhase::kEnded;
                }))
                break;
            platform::SleepMs(200);
        }
        return states;
    }

    TempDir m_dir;
    cluster::SlurmCommands m_commands;
    std::string m_script;
};

TEST_F(SlurmCluster, NamesReachTheScriptIntactAsItsArguments) {
    const std::vector<std::string> names = {
        "Jean Dupont",
        "a&b | c; d",
        "$(touch pwned) `x` $HOME",
        "q\"uote' \\back\\",
        "--wrap=echo no",
        "-j",
        "*",
        "",
    };
    SlurmJobId id = Submit("0", "0", names);
    ASSERT_NE(id, 0u);
    std::vector<SlurmJobState> states = WaitUntilEnded({id});
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].state, "COMPLETED");
    std::string expected;
    for (const std::string& name : names) expected += name + "\n";
    EXPECT_EQ(ReadBytes(m_dir.path() / ("args-" + std::to_string(id))), expected);
    EXPECT_FALSE(fs::exists(m_dir.path() / "pwned"));
}

TEST_F(SlurmCluster, CancelledJobsEndCancelledAndForgottenIdsAreNoError) {
    SlurmJobId running = Submit("60", "0");
    SlurmJobId pending = Submit("0", "0", {}, running);
    const SlurmJobId unknown = 67000000;  // below MaxJobId, never reached here
    cluster::SlurmStatus cancelled = cluster::CancelJobs(m_commands, {pending, running, unknown});
    EXPECT_TRUE(cancelled.ok()) << cancelled.message;
    std::vector<SlurmJobState> states = WaitUntilEnded({running, pending});
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].state, "CANCELLED");
    EXPECT_EQ(states[1].state, "CANCELLED");

    // One query for known and unknown jobs; squeue fails on a single unknown
    // id, which the client reads as forgotten too.
    ASSERT_TRUE(cluster::QueryJobs(m_commands, {running, unknown}, &states).ok());
    EXPECT_EQ(states.at(0).phase, SlurmPhase::kEnded);
    EXPECT_EQ(states.at(1).phase, SlurmPhase::kForgotten);
    cluster::SlurmStatus alone = cluster::QueryJobs(m_commands, {unknown}, &states);
    ASSERT_TRUE(alone.ok()) << alone.message;
    EXPECT_EQ(states.at(0).phase, SlurmPhase::kForgotten);
}

// A submitter that died between sbatch and writing the id down finds its
// jobs again by the names it gave them.
TEST_F(SlurmCluster, JobsAreFoundAgainByTheirNames) {
    const std::string tag = m_dir.path().filename().string();
    const std::string first = "tvb-" + tag + "-1", second = "tvb-" + tag + "-2";
    SlurmJobId a = Submit("0", "0", {}, 0, "", first);
    SlurmJobId b = Submit("0", "0", {}, 0, "", second);
    SlurmJobId again = Submit("0", "0", {}, 0, "", second);
    std::vector<SlurmJobState> found;
    cluster::SlurmStatus status =
        cluster::FindJobsByName(m_commands, {first, second, "tvb-" + tag + "-none"}, &found);
    ASSERT_TRUE(status.ok()) << status.message;
    std::map<SlurmJobId, std::string> byId;
    for (const SlurmJobState& job : found) byId[job.id] = job.name;
    EXPECT_EQ(byId, (std::map<SlurmJobId, std::string>{{a, first}, {b, second}, {again, second}}));
    WaitUntilEnded({a, b, again});
}

TEST_F(SlurmCluster, ARefusedSubmissionCarriesSlurmsMessage) {
    cluster::SlurmSubmission job;
    job.script = m_script;
    job.options = cluster::SplitSlurmOptions("--partition=no-such-partition");
    SlurmJobId id = 0;
    cluster::SlurmStatus status = cluster::SubmitJob(m_commands, job, &id);
    EXPECT_EQ(status.error, cluster::SlurmError::kRefused);
    EXPECT_EQ(status.message.rfind("sbatch failed (exit status 1): ", 0), 0u) << status.message;
    EXPECT_NE(status.message.find("Invalid partition name specified"), std::string::npos)
        << status.message;
    EXPECT_EQ(status.message.find('\n'), std::string::npos);
}

}  // namespace
