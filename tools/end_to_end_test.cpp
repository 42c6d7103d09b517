// The real torvane-batch and torvane-sim from the bin folder on a temporary
// installation; on Windows with real registry keys and a real batch file.
// Each job costs the launcher's pause of two seconds: scenarios share runs.

#include <memory>

#include "platform/message_box_testing.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using apptest::SkippedBlock;
using e2e::EndToEnd;
using e2e::Job;
using e2e::QueueText;
using e2e::Ran;

class EndToEndRun : public EndToEnd {
  protected:
    // A run of `queue` (when given) that must end with status 0.
    void RunQueue(const std::vector<Job>& queue) {
        if (!queue.empty())
            testsupport::WriteBytes(QueuePath(), QueueText(queue));
        const platform::CapturedRun run = Run();
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, m_banner);
    }
    // The job's log, which must exist. A narrow path: fs::path would read UTF-8.
    std::unique_ptr<FichierLogBatch> Log(const std::string& folder, const std::string& job) {
        auto log = std::make_unique<FichierLogBatch>();
        EXPECT_EQ(log->Load(e2e::WithSeparator(Batch(folder)) + job + ".log"), KvFile::kLoaded)
            << job;
        return log;
    }
};

TEST_F(EndToEndRun, ANewBatchFollowsEachPredecessorsOutcomeAndRetiresTheProject) {
    testsupport::WriteBytes(ReportPath(), "a line of the previous batch\r\n");
    // Names the interpreter would split or change reach the stand-in intact.
    const std::vector<std::string> odd = {"two words", "this & that", "open (paren", "caret ^ job",
                                          "caf\xE9 cr\xE8me"};
    std::vector<std::pair<std::string, int>> records = {
        {"first-ok", 0}, {"after-ok", 1}, {"first-fail", 0}, {"after-fail", 1}, {"plain", 0}};
    std::string report = Ran("first-ok", true) + Ran("after-ok", true) + Ran("first-fail", false) +
                         SkippedBlock("alice", "after-fail") + Ran("plain", true);
    for (const std::string& name : odd) {
        records.emplace_back(name, 0);
        report += Ran(name, true);
    }
    Project("alice", records);
    const std::string project = testsupport::ReadBytes(Batch("alice") / "alice-BATCH.tvs");
    RunQueue({});

    EXPECT_EQ(Report(), report);
    EXPECT_FALSE(fs::exists(Batch("alice") / "after-fail.log")) << "a skipped job is not launched";
    for (const std::string& name : odd) EXPECT_EQ(Log("alice", name)->m_jobName, name);
    EXPECT_FALSE(fs::exists(QueuePath()));
    EXPECT_FALSE(fs::exists(Batch("alice") / "alice-BATCH.tvs"));
    EXPECT_EQ(testsupport::ReadBytes(Batch("alice") / "alice-BATCH.tmp"), project);
}

TEST_F(EndToEnd, StartUpFailuresEndTheProgramBeforeTheQueue) {
    Project("alice", {{"never", 0}});
    auto endsWith = [&](const std::vector<std::string>& arguments, const std::string& out) {
        const platform::CapturedRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.out, out);
    };
    endsWith({"now"}, "");
    SetMachine("FILEMSGU_TORVANE", "");
    endsWith({"argument after a missing catalogue"}, "File does not exist : \n");
    SetMachine("FILEMSGU_TORVANE", m_dir.File("languages.txt"));
    // No user is flagged as current and none is named "public".
    WriteUsers({User("alice"), User("bob")});
    endsWith({}, m_banner);

    // No product key: a message box. Under Wine it starts a desktop process
    // that blocks later boxes, so that leg leaves this to the unit tests.
    if (platform::MessageBoxesOnlyOnStandardError()) {
        const platform::CapturedRun run = Run({}, false);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Torvane8"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(QueuePath()));
    EXPECT_TRUE(fs::exists(Batch("alice") / "alice-BATCH.tvs"));
}

TEST_F(EndToEndRun, ARunningSimulatorIsWaitedFor) {
    // The stand-in, lingering 3 s, named like the interactive simulator.
    const fs::path sim(e2e::Program("torvane-sim"));
    const fs::path lookAlike = Root() / ("Torvane8-test" + sim.extension().string());
    fs::copy_file(sim, lookAlike);
    const fs::path ended = Root() / "ended";
    const platform::LaunchResult simulator = platform::LaunchCommandLine(
        platform::JoinCommandLine(lookAlike.string(), {"--linger", "3000", ended.string()}),
        platform::LaunchOptions{.wait = false});
    ASSERT_TRUE(simulator.created) << simulator.reason;
    ASSERT_TRUE(e2e::WaitUntil(
        10000, [] { return platform::FindProcessByNamePrefix("Torvane8").has_value(); }));

    RunQueue({{"alice", "after-simulator", 0, 0, 0}});
    EXPECT_EQ(platform::WaitForLaunched(simulator.id), std::optional<int>(0));
    ASSERT_TRUE(fs::exists(ended));
    EXPECT_TRUE(Log("alice", "after-simulator")->m_simuOK);
    EXPECT_LE(fs::last_write_time(ended),
              fs::last_write_time(Batch("alice") / "after-simulator.log"))
        << "the job ran before the simulator had ended";
}

TEST_F(EndToEndRun, NamesTheCommandLineCannotCarryAreNotLaunched) {
    // Users with a double quotation mark and a tab, in plainly named folders.
    WriteUsers({User("alice").Current(), User("q\"uote", "quote"), User("t\tab", "tab")});
    fs::create_directories(Batch("quote"));
    fs::create_directories(Batch("tab"));
    const std::string injected = "a\" & echo x > injected & \"";
    std::vector<Job> jobs = {{"alice", "keeps-the-queue", 3, 0, 0},
                             {"alice", injected},
                             {"q\"uote", "quoted-user"},
                             {"t\tab", "tab-user"},
                             {"alice", "plain-name"}};
    // An installation folder the command line cannot carry fails every job.
    SetMachine("REPSOFTWARE", e2e::WithSeparator(Root() / "inst!all"));
    testsupport::WriteBytes(ReportPath(), "a line of this batch\r\n");
    RunQueue(jobs);

    for (std::size_t i = 1; i < jobs.size(); ++i) jobs[i].state = 2;
    EXPECT_EQ(testsupport::ReadBytes(QueuePath()), QueueText(jobs));
    // {folder, user as the report shows it, job, why}: every event exact.
    const std::vector<std::vector<std::string>> refused = {
        {"", "alice", injected, "the job name holds the character '\"'"},
        {"quote", "q\"uote", "quoted-user", "the user name holds the character '\"'"},
        {"tab", "t?ab", "tab-user", "the user name holds the character 0x09"},
        {"alice", "alice", "plain-name", "the installation folder holds the character '!'"}};
    std::string report = "a line of this batch\r\n";
    for (const std::vector<std::string>& row : refused) {
        const std::string event = "Cannot start the job: job \"" + row[2] + "\" of user \"" +
                                  row[1] + "\" not started: " + row[3] +
                                  ", which the command line cannot pass intact";
        report += apptest::RanBlock(row[1], row[2], false, {event});
        if (row[0].empty())
            continue;  // no file can be named after the injected job
        const auto log = Log(row[0], row[2]);
        EXPECT_FALSE(log->m_simuOK);
        ASSERT_EQ(log->m_eventList.GetCount(), 1u) << row[2];
        EXPECT_EQ(std::string(log->m_eventList[0]), event);
    }
    EXPECT_EQ(Report(), report);
    EXPECT_FALSE(fs::exists(e2e::BinFolder() / "injected"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "injected"));
}

}  // namespace
