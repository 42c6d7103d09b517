// End-to-end tests: the real torvane-batch and torvane-sim, started from the
// build's bin folder (an installation folder with TorvaneBatch.bat), on a
// temporary installation of their own: catalogues, users list, batch
// folders, queue and settings. On Windows the settings are real registry
// keys and the script a real batch file run by the command interpreter.
//
// Each job run by the launcher costs its pause of two seconds, so the
// scenarios share runs where they can.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "batchlog/fichier_log_batch.h"
#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/shared_file.h"
#include "platform/sleep.h"
#include "testsupport/test_main.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using apptest::RanBlock;
using apptest::SkippedBlock;
using e2e::EndToEnd;
using e2e::Job;
using e2e::QueueText;
using e2e::Ran;

TEST_F(EndToEnd, JobsThatWaitFollowTheirPredecessorsOutcome) {
    // A new batch: the queue is built from the project files and the report
    // of the previous batch is replaced.
    testsupport::WriteBytes(ReportPath(), "a line of the previous batch\r\n");
    Project("alice", {{"first-ok", 0},
                      {"after-ok", 1},
                      {"plain-one", 0},
                      {"first-fail", 0},
                      {"after-fail", 1},
                      {"plain-two", 0}});
    const std::string project = testsupport::ReadBytes(Batch("alice") / "alice-BATCH.tvs");

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, m_banner);

    EXPECT_EQ(Report(), Ran("first-ok", true) + Ran("after-ok", true) + Ran("plain-one", true) +
                            Ran("first-fail", false) + SkippedBlock("alice", "after-fail") +
                            Ran("plain-two", true));

    FichierLogBatch log;
    EXPECT_FALSE(LoadLog("alice", "after-fail", log)) << "a skipped job is not launched";
    ASSERT_TRUE(LoadLog("alice", "first-fail", log));
    EXPECT_FALSE(log.m_simuOK);

    // Every job finished: the queue is gone and the project file retired.
    EXPECT_FALSE(fs::exists(QueuePath()));
    EXPECT_FALSE(fs::exists(Batch("alice") / "alice-BATCH.tvs"));
    EXPECT_EQ(testsupport::ReadBytes(Batch("alice") / "alice-BATCH.tmp"), project);
}

TEST_F(EndToEnd, AnExistingQueueIsRunAsItStandsAndTheReportAppendedTo) {
    testsupport::WriteBytes(ReportPath(), "a line of this batch\r\n");
    Project("alice", {{"from-the-project", 0}});
    // An entry in a state the launcher does not know is left alone and keeps
    // the queue on disk, so the states written by this run can be read
    // afterwards.
    testsupport::WriteBytes(QueuePath(), QueueText({{"alice", "by-hand", 3, 0, 0},
                                                    {"carol", "nobody-runs-this", 0, 0, 0},
                                                    {"alice", "crash-now", 0, 0, 0},
                                                    {"bob", "bob-job", 0, 0, 1}}));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, m_banner);

    // A crashed job leaves no log: the first job of a run then reports the
    // log object's defaults. bob's job waits for the crashed job, which failed.
    EXPECT_EQ(Report(), "a line of this batch\r\n" + RanBlock("alice", "crash-now", false, {}) +
                            SkippedBlock("bob", "bob-job"));

    // The entry in state 3 untouched; the job of no such user finished and
    // failed without being launched.
    EXPECT_EQ(testsupport::ReadBytes(QueuePath()),
              QueueText({{"alice", "by-hand", 3, 0, 0},
                         {"carol", "nobody-runs-this", 2, 0, 0},
                         {"alice", "crash-now", 2, 0, 0},
                         {"bob", "bob-job", 2, 0, 1}}));
    FichierLogBatch log;
    EXPECT_FALSE(LoadLog("alice", "crash-now", log));
    EXPECT_FALSE(LoadLog("alice", "from-the-project", log));
    // Not every job finished: the project file stays.
    EXPECT_TRUE(fs::exists(Batch("alice") / "alice-BATCH.tvs"));
}

TEST_F(EndToEnd, AScriptThatCannotBeStartedLeavesAnEventInTheJobsLog) {
    const fs::path empty = Root() / "no-install";
    fs::create_directories(empty);
    SetMachine("REPSOFTWARE", e2e::WithSeparator(empty));
    testsupport::WriteBytes(QueuePath(), QueueText({{"alice", "unreachable", 0, 0, 0}}));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    FichierLogBatch log;
    ASSERT_TRUE(LoadLog("alice", "unreachable", log));
    EXPECT_FALSE(log.m_simuOK);
    ASSERT_EQ(log.m_eventList.GetCount(), 1u);
    const std::string event = std::string(log.m_eventList[0]);
    EXPECT_EQ(event.rfind("Cannot start the job: ", 0), 0u) << event;
    EXPECT_NE(event.find("TorvaneBatch.bat"), std::string::npos) << event;
    EXPECT_NE(event.find("\"unreachable\""), std::string::npos) << event;

    EXPECT_EQ(Report(), RanBlock("alice", "unreachable", false, {event}));
    EXPECT_FALSE(fs::exists(QueuePath()));
}

TEST_F(EndToEnd, StartUpFailuresEndTheProgramBeforeTheQueue) {
    Project("alice", {{"never", 0}});
    auto endsWith = [&](const std::vector<std::string>& arguments, const std::string& out) {
        const platform::CapturedRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_EQ(run.out, out);
    };
    endsWith({"now"}, "");
    endsWith({""}, "");

    const std::string missing = m_dir.File("missing-catalogue.txt");
    SetMachine("FILEMSGSYS", missing);
    endsWith({}, "File does not exist : " + missing + "\n");
    SetMachine("FILEMSGSYS", m_dir.File("msgsys.txt"));
    SetMachine("FILEMSGU_TORVANE", "");
    endsWith({"argument after a missing catalogue"}, "File does not exist : \n");
    SetMachine("FILEMSGU_TORVANE", m_dir.File("languages.txt"));

    // No user is flagged as current and none is named "public".
    WriteUsers({User("alice"), User("bob")});
    endsWith({}, m_banner);
    WriteUsers({User("alice").Current()});

    // A missing product key: the fatal message box. Under Wine a message box
    // starts the host's desktop process, which outlives the test and leaves
    // every later message box of the prefix waiting, so the Windows leg
    // leaves this case to the settings reader's own tests.
    if (e2e::MessageBoxesOnStandardError()) {
        const platform::CapturedRun run = Run({}, false);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Torvane8"), std::string::npos) << run.err;
    }

    // None of them touched the batch folder.
    EXPECT_FALSE(fs::exists(QueuePath()));
    EXPECT_TRUE(fs::exists(Batch("alice") / "alice-BATCH.tvs"));
}

// A program named like the interactive simulator (a copy of this test
// program): it writes "started", sleeps for argv[2] ms, and records whether
// the job's log already existed when it ended.
TV_TEST_CHILD(simulator_look_alike) {
    if (argc < 3)
        return 2;
    const fs::path folder(argv[1]);
    testsupport::WriteBytes(folder / "started", "yes");
    platform::SleepMs(static_cast<std::uint32_t>(std::stoul(argv[2])));
    const bool logThere = fs::exists(folder / "alice" / "Batch" / "after-simulator.log");
    testsupport::WriteBytes(folder / "ended", logThere ? "log already written" : "no log yet");
    return 0;
}

TEST_F(EndToEnd, ARunningSimulatorIsWaitedFor) {
    const fs::path self(testsupport::TestExecutablePath());
    const fs::path lookAlike = Root() / ("Torvane8-test" + self.extension().string());
    fs::copy_file(fs::absolute(self), lookAlike);
    testsupport::WriteBytes(QueuePath(), QueueText({{"alice", "after-simulator", 0, 0, 0}}));

    const std::string commandLine = "\"" + lookAlike.string() + "\" " +
                                    testsupport::ChildArgument("simulator_look_alike") + " \"" +
                                    Root().string() + "\" 3000";
    const platform::LaunchResult simulator =
        platform::LaunchCommandLine(commandLine, platform::LaunchOptions{.wait = false});
    ASSERT_TRUE(simulator.created) << simulator.reason;
    ASSERT_TRUE(e2e::WaitUntil(10000, [&] { return fs::exists(Root() / "started"); }));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(platform::WaitForLaunched(simulator.id), std::optional<int>(0));
    EXPECT_EQ(testsupport::ReadBytes(Root() / "ended"), "no log yet");
    FichierLogBatch log;
    ASSERT_TRUE(LoadLog("alice", "after-simulator", log));
    EXPECT_TRUE(log.m_simuOK);
}

TEST_F(EndToEnd, AQueueHeldByAnotherProgramIsWaitedForAndItsEditKept) {
    testsupport::WriteBytes(QueuePath(),
                            QueueText({{"alice", "held-first"}, {"alice", "held-second"}}));

    std::atomic<bool> holding{false};
    std::atomic<bool> edited{false};
    std::thread editor([&] {
        platform::ExclusiveOpen open = platform::OpenExclusive(QueuePath().string(), "rb+");
        if (open.stream == nullptr) {
            holding = true;
            return;
        }
        holding = true;
        platform::SleepMs(2500);
        // The other program finishes the second job itself.
        const std::string text = QueueText({{"alice", "held-first"}, {"alice", "held-second", 2}});
        std::rewind(open.stream);
        edited = std::fwrite(text.data(), 1, text.size(), open.stream) == text.size();
        std::fclose(open.stream);
    });
    while (!holding) platform::SleepMs(10);

    const platform::CapturedRun run = Run();
    editor.join();
    ASSERT_TRUE(edited);
    EXPECT_EQ(run.exitCode, 0) << run.err;

    FichierLogBatch log;
    EXPECT_FALSE(LoadLog("alice", "held-second", log)) << "the edit was lost";
    EXPECT_EQ(Report(), Ran("held-first", true));
    EXPECT_FALSE(fs::exists(QueuePath()));
}

TEST_F(EndToEnd, NamesTheCommandLineCannotCarryAreNotLaunched) {
    // Users whose names hold a double quotation mark and a tab; their folders
    // have plain names, so that their logs can be written on every host.
    WriteUsers({User("alice").Current(), User("q\"uote", "quote"), User("t\tab", "tab")});
    fs::create_directories(Batch("quote"));
    fs::create_directories(Batch("tab"));
    const std::string injected = "a\" & echo x > injected & \"";
    std::vector<Job> jobs = {{"alice", "keeps-the-queue", 3, 0, 0},
                             {"alice", "%PATH%"},
                             {"alice", "!x!"},
                             {"alice", injected},
                             {"q\"uote", "quoted-user"},
                             {"t\tab", "tab-user"},
                             {"alice", "plain-name"}};
    testsupport::WriteBytes(QueuePath(), QueueText(jobs));
    // An installation folder the command line cannot carry fails every
    // launch, plain names included.
    SetMachine("REPSOFTWARE", e2e::WithSeparator(Root() / "inst!all"));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    for (std::size_t i = 1; i < jobs.size(); ++i) jobs[i].state = 2;
    EXPECT_EQ(testsupport::ReadBytes(QueuePath()), QueueText(jobs));
    struct Refused {
        std::string folder, job, character;
    };
    for (const Refused& refused :
         {Refused{"alice", "%PATH%", "'%'"}, Refused{"alice", "!x!", "'!'"},
          Refused{"quote", "quoted-user", "'\"'"}, Refused{"tab", "tab-user", "0x09"},
          Refused{"alice", "plain-name", "installation folder"}}) {
        FichierLogBatch log;
        ASSERT_TRUE(LoadLog(refused.folder, refused.job, log)) << refused.job;
        EXPECT_FALSE(log.m_simuOK);
        ASSERT_EQ(log.m_eventList.GetCount(), 1u) << refused.job;
        const std::string event = std::string(log.m_eventList[0]);
        EXPECT_NE(event.find("\"" + refused.job + "\""), std::string::npos) << event;
        EXPECT_NE(event.find(refused.character), std::string::npos) << event;
    }
    // The job whose name would have ended the quoting has its event in the
    // report even where no file can be named after it.
    const std::string report = Report();
    const std::string injectedStart = apptest::Started("alice", injected) +
                                      apptest::Ended("alice", injected) +
                                      "Simulation succeeded: 0\r\n";
    const std::size_t at = report.find(injectedStart);
    ASSERT_NE(at, std::string::npos) << report;
    const std::size_t begin = at + injectedStart.size();
    const std::string event = report.substr(begin, report.find("\r\n", begin) - begin);
    EXPECT_EQ(event.rfind("Event: Cannot start the job: ", 0), 0u) << event;
    EXPECT_NE(event.find("'\"'"), std::string::npos) << event;
    EXPECT_NE(event.find("echo x > injected"), std::string::npos) << event;
    // Nothing ran through the command interpreter.
    EXPECT_FALSE(fs::exists(e2e::BinFolder() / "injected"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "injected"));
}

TEST_F(EndToEnd, OddButHarmlessNamesReachTheSimulatorIntact) {
    const std::vector<std::string> names = {"two words", "this & that", "open (paren",
                                            "caret ^ job", "caf\xE9 cr\xE8me"};
    std::vector<Job> jobs = {{"alice", "keeps-the-queue", 3, 0, 0}};
    for (const std::string& name : names) jobs.push_back({"alice", name, 0, 0, 0});
    testsupport::WriteBytes(QueuePath(), QueueText(jobs));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    for (std::size_t i = 1; i < jobs.size(); ++i) {
        jobs[i].state = 2;
        jobs[i].status = 1;
    }
    EXPECT_EQ(testsupport::ReadBytes(QueuePath()), QueueText(jobs));
    for (const std::string& name : names) {
        FichierLogBatch log;
        ASSERT_TRUE(LoadLog("alice", name, log)) << name;
        // The stand-in got the name as one argument, byte for byte.
        EXPECT_EQ(log.m_jobName, name);
        EXPECT_TRUE(log.m_simuOK);
    }
}

}  // namespace
