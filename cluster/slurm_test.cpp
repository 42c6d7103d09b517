// The Slurm client: its parsers on answers recorded from Slurm 22.05, and the client
// on the throw-away cluster that TORVANE_TEST_SLURM_CONF names (else skipped).
#include "cluster/slurm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/child_process.h"
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
using namespace std::string_literals;

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

// Each state as "id|state|reason|phase".
std::string Describe(const std::vector<SlurmJobState>& states) {
    const char* const kPhases[] = {"waiting", "running", "ended", "forgotten"};
    std::string text;
    for (const SlurmJobState& s : states)
        text += std::to_string(s.id) + "|" + s.state + "|" + s.reason + "|" +
                kPhases[static_cast<int>(s.phase)] + "\n";
    return text;
}

TEST(SlurmParse, QueueAnswerGivesEachAskedJobInTheAskedOrderWithItsPhase) {
    // A real site's reason, a state unknown here (running, never ended), a job not asked for.
    const char kRecorded[] =
        "8|CANCELLED|DependencyNeverSatisfied\n9|COMPLETED|None\n7|FAILED|NonZeroExitCode\n"
        "10|TIMEOUT|TimeLimit\n11|NODE_FAIL|NodeDown\n14|REQUEUED|JobHeldAdmin\n"
        "12|PENDING|(ReqNodeNotAvail, Reserved for maintenance)\n13|RUNNING|None\r\n"
        "17|SOME_NEW_STATE|None\n";
    std::vector<SlurmJobState> states;
    std::string error;
    ASSERT_TRUE(parse::QueueAnswer(kRecorded, {13, 8, 11, 99, 12, 10, 7, 14, 17}, &states, &error))
        << error;
    EXPECT_EQ(Describe(states),
              "13|RUNNING|None|running\n8|CANCELLED|DependencyNeverSatisfied|ended\n"
              "11|NODE_FAIL|NodeDown|ended\n99|||forgotten\n"
              "12|PENDING|(ReqNodeNotAvail, Reserved for maintenance)|waiting\n"
              "10|TIMEOUT|TimeLimit|ended\n7|FAILED|NonZeroExitCode|ended\n"
              "14|REQUEUED|JobHeldAdmin|waiting\n17|SOME_NEW_STATE|None|running\n");
}

TEST(SlurmParse, ADamagedQueueAnswerIsAnErrorThatQuotesItShortly) {
    for (const std::string& damaged :
         {"5|COMPLETED|None"s, "5|COMPLETED\n"s, "five|COMPLETED|None\n"s, "5|completed|None\n"s,
          "5||None\n"s, "\n"s, "5|COMPLETED|None\n" + std::string(100000, 'x') + "\n",
          "5|COMPLETED|None\n\0\n"s}) {
        std::vector<SlurmJobState> states;
        std::string error;
        EXPECT_FALSE(parse::QueueAnswer(damaged, {5}, &states, &error)) << damaged.substr(0, 40);
        EXPECT_FALSE(error.empty());
        EXPECT_LT(error.size(), 300u);
    }
}

TEST(SlurmParse, ADamagedNamedAnswerOrABadJobNameIsRefused) {
    std::vector<SlurmJobState> jobs;
    std::string error;
    for (const char* damaged : {"21|COMPLETED|None\n", "21|COMPLETED||None\n",
                                "21|COMPLETED|a b|None\n", "21|COMPLETED|x|None"})
        EXPECT_FALSE(parse::NamedQueueAnswer(damaged, &jobs, &error)) << damaged;
    EXPECT_TRUE(parse::IsJobName("tvb-0001"));
    for (const std::string& bad :
         {""s, "a b"s, "a,b"s, "a|b"s, "caf\xC3\xA9"s, std::string(201, 'x')})
        EXPECT_FALSE(parse::IsJobName(bad)) << bad;
}

TEST(SlurmClient, ACommandThatCannotRunOrDoesNotAnswerIsANamedError) {
    TempDir dir;
    cluster::SlurmCommands commands;
    commands.sbatch = dir.File("no-sbatch-here");
    SlurmJobId id = 0;
    cluster::SlurmStatus status =
        cluster::SubmitJob(commands, {dir.File("job.sh"), {}, {}, 0, ""}, &id);
    EXPECT_EQ(status.error, cluster::SlurmError::kCannotRun);
    EXPECT_EQ(status.message.rfind("cannot run no-sbatch-here: ", 0), 0u) << status.message;

    for (const cluster::SlurmSubmission& bad :
         {cluster::SlurmSubmission{"--wrap=rm -rf x", {}, {}, 0, ""},
          cluster::SlurmSubmission{dir.File("job.sh"), {}, {}, 0, "two words"}})
        EXPECT_EQ(cluster::SubmitJob(commands, bad, &id).error, cluster::SlurmError::kBadRequest);
    std::vector<SlurmJobState> states;
    EXPECT_EQ(cluster::FindJobsByName(commands, {"ok", "a,b"}, &states).error,
              cluster::SlurmError::kBadRequest);

    if (!platform::HostHasSlurmClient())
        GTEST_SKIP() << "no shell script for a command that does not answer on this host";
    // A command that never answers stands for a controller that does not.
    commands.squeue = dir.File("squeue");
    WriteBytes(commands.squeue, "#!/bin/sh\necho partial\nexec sleep 120\n");
    fs::permissions(commands.squeue, fs::perms(0755));
    commands.timeLimitMs = 1000;
    status = cluster::QueryJobs(commands, {1, 2}, &states);
    EXPECT_EQ(status.error, cluster::SlurmError::kTimedOut);
    EXPECT_EQ(status.message, "squeue did not answer within 1 s");
}

// job.sh <folder> <seconds> <status> <names...>: names to args-<job id>, sleeps, exits.
class SlurmCluster : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* conf = std::getenv("TORVANE_TEST_SLURM_CONF");
        if (conf == nullptr || *conf == '\0')
            GTEST_SKIP() << "no test cluster (scripts/slurm-local, TORVANE_TEST_SLURM_CONF)";
        m_commands.environment = {{"SLURM_CONF", conf}};
        m_commands.timeLimitMs = 30000;
        WriteBytes(m_script,
                   "#!/bin/sh\nout=$1; seconds=$2; status=$3; shift 3\n"
                   "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > "
                   "\"$out/args-$SLURM_JOB_ID\"\nsleep \"$seconds\"\nexit \"$status\"\n");
        fs::permissions(m_script, fs::perms(0755));
    }
    void TearDown() override {
        if (!m_node.empty())
            Run("scontrol", {"update", "nodename=" + m_node, "state=resume"});
    }
    platform::CapturedRun Run(const std::string& command, const std::vector<std::string>& args) {
        return platform::RunAndCapture(command, args, m_commands.environment, 30000);
    }

    SlurmJobId Submit(const std::string& seconds, const std::string& status,
                      const std::vector<std::string>& names = {}, SlurmJobId afterOk = 0,
                      const std::string& jobName = "") {
        std::vector<std::string> arguments = {m_dir.path().string(), seconds, status};
        arguments.insert(arguments.end(), names.begin(), names.end());
        SlurmJobId id = 0;
        cluster::SlurmStatus submitted = cluster::SubmitJob(
            m_commands,
            {m_script, arguments, {"--output=" + m_dir.File("slurm-%j.out")}, afterOk, jobName},
            &id);
        EXPECT_TRUE(submitted.ok()) << submitted.message;
        return id;
    }
    bool Started(SlurmJobId id) const {
        return fs::exists(m_dir.path() / ("args-" + std::to_string(id)));
    }
    // "<state>|<reason>" of each of `ids` once all have ended (at most 90 s).
    std::vector<std::string> WaitUntilEnded(const std::vector<SlurmJobId>& ids) {
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
        std::vector<std::string> ended;
        for (const SlurmJobState& s : states) ended.push_back(s.state + "|" + s.reason);
        return ended;
    }

    TempDir m_dir;
    std::string m_script = m_dir.File("job.sh");
    cluster::SlurmCommands m_commands;
    std::string m_node;  // set down by the test
};

// A submitter that died between sbatch and writing the id down finds its jobs by name.
TEST_F(SlurmCluster, NamesReachTheScriptIntactAndJobsAreFoundAgainByTheirNames) {
    const std::vector<std::string> names = {
        "Jean Dupont",       "a&b | c; d",     "$(touch pwned) `x` $HOME",
        "q\"uote' \\back\\", "--wrap=echo no", ""};
    const std::string tag = "tvb-" + m_dir.path().filename().string();
    const std::string first = tag + "-1", second = tag + "-2";
    const SlurmJobId a = Submit("0", "0", names, 0, first), b = Submit("0", "0", {}, 0, second);
    const SlurmJobId again = Submit("0", "0", {}, 0, second);
    std::vector<SlurmJobState> found;
    cluster::SlurmStatus status =
        cluster::FindJobsByName(m_commands, {first, second, tag + "-none"}, &found);
    ASSERT_TRUE(status.ok()) << status.message;
    std::map<SlurmJobId, std::string> byId;
    for (const SlurmJobState& job : found) byId[job.id] = job.name;
    EXPECT_EQ(byId, (std::map<SlurmJobId, std::string>{{a, first}, {b, second}, {again, second}}));

    EXPECT_EQ(WaitUntilEnded({a, b, again}), std::vector<std::string>(3, "COMPLETED|None"));
    std::string expected;
    for (const std::string& name : names) expected += name + "\n";
    EXPECT_EQ(ReadBytes(m_dir.path() / ("args-" + std::to_string(a))), expected);
    EXPECT_FALSE(fs::exists(m_dir.path() / "pwned"));
}

TEST_F(SlurmCluster, AWaiterRunsOnlyAfterItsPredecessorCompletedAndCancelsAreNoError) {
    const SlurmJobId failing = Submit("0", "1"), orphan = Submit("0", "0", {}, failing);
    const SlurmJobId running = Submit("60", "0");
    EXPECT_EQ(
        WaitUntilEnded({failing, orphan}),
        (std::vector<std::string>{"FAILED|NonZeroExitCode", "CANCELLED|DependencyNeverSatisfied"}));
    EXPECT_FALSE(Started(orphan));
    const SlurmJobId unknown = 67000000;  // below MaxJobId, never reached here
    cluster::SlurmStatus cancelled = cluster::CancelJobs(m_commands, {running, unknown});
    EXPECT_TRUE(cancelled.ok()) << cancelled.message;
    EXPECT_EQ(WaitUntilEnded({running}), std::vector<std::string>{"CANCELLED|None"});

    // squeue fails on a single unknown id, which the client reads as forgotten too.
    std::vector<SlurmJobState> states;
    ASSERT_TRUE(cluster::QueryJobs(m_commands, {running, unknown}, &states).ok());
    EXPECT_EQ(Describe(states),
              std::to_string(running) + "|CANCELLED|None|ended\n67000000|||forgotten\n");
    ASSERT_TRUE(cluster::QueryJobs(m_commands, {unknown}, &states).ok());
    EXPECT_EQ(Describe(states), "67000000|||forgotten\n");
}

// A job that lost its node ends for good, never requeued behind its submitter's back.
TEST_F(SlurmCluster, AJobWhoseNodeGoesDownEndsAndIsNotRequeued) {
    const SlurmJobId id = Submit("60", "0");
    for (int i = 0; i < 300 && !Started(id); ++i) platform::SleepMs(100);
    ASSERT_TRUE(Started(id));
    const std::string nodes = Run("sinfo", {"-h", "-o", "%N"}).out;
    m_node = nodes.substr(0, nodes.find('\n'));
    const platform::CapturedRun down =
        Run("scontrol", {"update", "nodename=" + m_node, "state=down", "reason=test"});
    EXPECT_EQ(down.exitCode, 0) << down.err;
    EXPECT_EQ(WaitUntilEnded({id}), std::vector<std::string>{"NODE_FAIL|NodeDown"});
}

}  // namespace
