// End-to-end tests: the real torvane-batch and torvane-sim, started from the
// build's bin folder (an installation folder with TorvaneBatch.bat), on a
// temporary installation of their own: catalogues, users list, batch
// folders, queue and settings. On Windows the settings are real registry
// keys and the script a real batch file run by the command interpreter.
//
// Each job run by the launcher costs its pause of two seconds, so the
// scenarios share runs where they can.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_test_support.h"
#include "batchlog/fichier_log_batch.h"
#include "platform/child_process.h"
#include "platform/process.h"
#include "platform/shared_file.h"
#include "platform/sleep.h"
#include "testsupport/test_main.h"
#include "tools/installation_settings.h"
#include "users/users_test_support.h"

namespace {

namespace fs = std::filesystem;
using users_test::UserChapter;

// The variable through which the users list names its folders.
constexpr const char* kRootVariable = "TVE2E_ROOT";

fs::path BinFolder() {
    return fs::absolute(fs::path(testsupport::TestExecutablePath())).parent_path();
}
// A program of the bin folder, with the extension executables have here.
std::string Program(const std::string& name) {
    const fs::path self(testsupport::TestExecutablePath());
    return (BinFolder() / (name + self.extension().string())).string();
}
std::string WithSeparator(const fs::path& folder) {
    return folder.string() + static_cast<char>(fs::path::preferred_separator);
}

std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

struct Job {
    std::string user;
    std::string name;
    int state = 0;
    int status = 0;
    int wait = 0;
};

std::string QueueText(const std::vector<Job>& jobs) {
    std::string text = "nb = " + std::to_string(jobs.size()) + "\r\n";
    for (const Job& job : jobs) {
        text += "user = " + job.user + "\r\nname = " + job.name +
                "\r\nstate = " + std::to_string(job.state) +
                "\r\nstatus = " + std::to_string(job.status) +
                "\r\nwait = " + std::to_string(job.wait) + "\r\n";
    }
    return text;
}

// The report's lines without their time stamps ("12/05/26 18:27:30 -> ").
std::vector<std::string> ReportLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::istringstream in(WithoutCarriageReturns(bytes));
    for (std::string line; std::getline(in, line);) {
        if (line.size() > 21 && line.compare(17, 4, " -> ") == 0 && line[2] == '/')
            line = line.substr(21);
        lines.push_back(line);
    }
    return lines;
}

// The report lines of one job that ran, as the test catalogue words them.
std::vector<std::string> JobBlock(const std::string& user, const std::string& job, bool ok,
                                  const std::vector<std::string>& events, int alerts, int errors) {
    std::vector<std::string> lines = {"User \"" + user + "\": starts job \"" + job + "\"",
                                      "User \"" + user + "\": ended job \"" + job + "\"",
                                      std::string("Simulation succeeded: ") + (ok ? "1" : "0")};
    for (const std::string& event : events) lines.push_back("Event: " + event);
    lines.push_back("Alerts: " + std::to_string(alerts));
    lines.push_back("Errors: " + std::to_string(errors));
    lines.push_back("");
    return lines;
}
std::vector<std::string> SkippedBlock(const std::string& user, const std::string& job) {
    return {"User \"" + user + "\": starts job \"" + job + "\"",
            "User \"" + user + "\": ended job \"" + job + "\"",
            "Skipped: the previous job did not succeed (100% sure)"};
}
std::string Finished(const std::string& job) {
    return "Simulation of " + job + " finished";
}
void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

// A temporary installation: the system catalogue and the test's user
// catalogue, a users list with "alice" (the current user, whose batch
// folder holds queue and report) and "bob", and the settings naming them.
// The installation folder is the bin folder, unless a test changes it.
class EndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        std::string system;
        for (std::uint32_t n = 1; n <= 48; ++n) {
            const std::string text = users_test::CatalogueText(n);
            if (!text.empty())
                system += "[1," + std::to_string(n) + "] " + text + "\n";
        }
        testsupport::WriteBytes(Root() / "msgsys.txt", system);
        testsupport::WriteBytes(Root() / "languages.txt", "EN=en.txt\n");
        testsupport::WriteBytes(Root() / "en.txt", apptest::kCatalogue);
        WriteUsers({User("alice").Current(), User("bob")});
        fs::create_directories(Batch("alice"));
        fs::create_directories(Batch("bob"));
        m_machine = {{"FILEMSGSYS", m_dir.File("msgsys.txt")},
                     {"FILEMSGU_TORVANE", m_dir.File("languages.txt")},
                     {"FILEUSERS", m_dir.File("users.tvu")},
                     {"REPSOFTWARE", WithSeparator(BinFolder())}};
    }

    fs::path Root() const { return m_dir.path(); }
    // A user whose base folder is <root>/<folder> through the variable, and
    // whose batch folder is "Batch" in it.
    static UserChapter User(const std::string& name, const std::string& folder = "") {
        return UserChapter(name)
            .Folder(
                0, 0,
                "%" + std::string(kRootVariable) + "%\\" + (folder.empty() ? name : folder) + "\\")
            .Folder(17, 1, "");
    }
    void WriteUsers(const std::vector<UserChapter>& users) {
        testsupport::WriteBytes(Root() / "users.tvu", users_test::UsersFile(users));
    }
    fs::path Batch(const std::string& folder) const { return Root() / folder / "Batch"; }
    fs::path QueuePath() const { return Batch("alice") / "batchexec.txt"; }
    fs::path ReportPath() const { return Batch("alice") / "batchreport.txt"; }

    void SetMachine(const std::string& name, const std::string& value) {
        for (auto& entry : m_machine)
            if (entry.first == name) {
                entry.second = value;
                return;
            }
        m_machine.emplace_back(name, value);
    }

    // A batch project file with one record per job: name and wait flag.
    void Project(const std::string& user, const std::vector<std::pair<std::string, int>>& jobs) {
        std::string text = "[[Projet batch]]\n\n[Version]\nVersion ft = 0.2\nVersion = 0.1\n";
        for (const auto& [name, wait] : jobs)
            text += "\n[element gamme gamme de gamme]\nm_waitForPrec = " + std::to_string(wait) +
                    "\nnom = " + name + "\n";
        testsupport::WriteBytes(Batch(user) / (user + "-BATCH.tvs"), text);
    }

    std::vector<Job> ReadQueue() const {
        std::vector<std::string> values;
        std::istringstream in(WithoutCarriageReturns(testsupport::ReadBytes(QueuePath())));
        for (std::string line; std::getline(in, line);) {
            const std::size_t equal = line.find(" = ");
            values.push_back(equal == std::string::npos ? "" : line.substr(equal + 3));
        }
        std::vector<Job> jobs;
        if (values.empty())
            return jobs;
        const std::size_t count = std::stoul(values[0]);
        for (std::size_t i = 0; i < count && 1 + 5 * i + 4 < values.size(); ++i) {
            const std::size_t at = 1 + 5 * i;
            jobs.push_back(Job{values[at], values[at + 1], std::stoi(values[at + 2]),
                               std::stoi(values[at + 3]), std::stoi(values[at + 4])});
        }
        return jobs;
    }

    // Log paths stay narrow strings in the program's code page: a file
    // system path made of them would take them for UTF-8 on Windows.
    std::string LogPath(const std::string& folder, const std::string& job) const {
        return WithSeparator(Batch(folder)) + job + ".log";
    }
    // Loads a job's log; false when there is none.
    bool LoadLog(const std::string& folder, const std::string& job, FichierLogBatch& log) const {
        return log.Load(LogPath(folder, job)) == 0;
    }

    platform::CapturedRun Run(const std::vector<std::string>& arguments = {},
                              bool productKey = true) {
        platform::EnvironmentEntries environment = {{kRootVariable, Root().string()}};
        const bool written = productKey
                                 ? e2e::WriteInstallationSettings(Root().string(), m_machine,
                                                                  {{"LANGUAGE", "EN"}}, environment)
                                 : e2e::RemoveInstallationSettings(Root().string(), environment);
        EXPECT_TRUE(written);
        platform::CapturedRun run =
            platform::RunAndCapture(Program("torvane-batch"), arguments, environment);
        EXPECT_TRUE(run.started) << run.reason;
        run.out = WithoutCarriageReturns(run.out);
        return run;
    }

    testsupport::TempDir m_dir;
    e2e::SettingValues m_machine;
    const std::string m_banner = "Torvane Batch v1.1.6 - Release\n";
};

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

    std::vector<std::string> expected;
    Append(expected, JobBlock("alice", "first-ok", true, {Finished("first-ok")}, 0, 0));
    Append(expected, JobBlock("alice", "after-ok", true, {Finished("after-ok")}, 0, 0));
    Append(expected, JobBlock("alice", "plain-one", true, {Finished("plain-one")}, 0, 0));
    Append(expected, JobBlock("alice", "first-fail", false, {Finished("first-fail")}, 0, 1));
    Append(expected, SkippedBlock("alice", "after-fail"));
    Append(expected, JobBlock("alice", "plain-two", true, {Finished("plain-two")}, 0, 0));
    EXPECT_EQ(ReportLines(testsupport::ReadBytes(ReportPath())), expected);

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
    // A job left running by an interrupted run keeps the queue on disk, so
    // the states written by this run can be read afterwards.
    testsupport::WriteBytes(QueuePath(), QueueText({{"alice", "interrupted", 1, 0, 0},
                                                    {"carol", "nobody-runs-this", 0, 0, 0},
                                                    {"alice", "crash-now", 0, 0, 0},
                                                    {"bob", "bob-job", 0, 0, 1}}));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, m_banner);

    std::vector<std::string> expected = {"a line of this batch"};
    // A crashed job leaves no log: the first job of a run then reports the
    // log object's defaults.
    Append(expected, JobBlock("alice", "crash-now", false, {}, 0, 0));
    // bob's job waits for its predecessor, the crashed job, which failed.
    Append(expected, SkippedBlock("bob", "bob-job"));
    EXPECT_EQ(ReportLines(testsupport::ReadBytes(ReportPath())), expected);

    const std::vector<Job> queue = ReadQueue();
    ASSERT_EQ(queue.size(), 4u);
    EXPECT_EQ(queue[0].state, 1);  // untouched
    EXPECT_EQ(queue[1].state, 2);  // no such user: finished, failed, not launched
    EXPECT_EQ(queue[1].status, 0);
    EXPECT_EQ(queue[2].state, 2);
    EXPECT_EQ(queue[2].status, 0);
    EXPECT_EQ(queue[3].state, 2);
    EXPECT_EQ(queue[3].status, 0);
    FichierLogBatch log;
    EXPECT_FALSE(LoadLog("alice", "crash-now", log));
    EXPECT_FALSE(LoadLog("alice", "from-the-project", log));
    // Not every job finished: the project file stays.
    EXPECT_TRUE(fs::exists(Batch("alice") / "alice-BATCH.tvs"));
}

TEST_F(EndToEnd, AScriptThatCannotBeStartedLeavesAnEventInTheJobsLog) {
    const fs::path empty = Root() / "no-install";
    fs::create_directories(empty);
    SetMachine("REPSOFTWARE", WithSeparator(empty));
    testsupport::WriteBytes(QueuePath(), QueueText({{"alice", "unreachable", 0, 0, 0}}));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    FichierLogBatch log;
    ASSERT_TRUE(LoadLog("alice", "unreachable", log));
    EXPECT_FALSE(log.m_simuOK);
    ASSERT_EQ(log.m_eventList.GetCount(), 1u);
    const std::string event = log.m_eventList.GetAt(0)->str();
    EXPECT_EQ(event.rfind("Cannot start the job: ", 0), 0u) << event;
    EXPECT_NE(event.find("TorvaneBatch.bat"), std::string::npos) << event;
    EXPECT_NE(event.find("\"unreachable\""), std::string::npos) << event;

    const std::vector<std::string> report = ReportLines(testsupport::ReadBytes(ReportPath()));
    EXPECT_EQ(report, JobBlock("alice", "unreachable", false, {event}, 0, 0));
    EXPECT_FALSE(fs::exists(QueuePath()));
}

TEST_F(EndToEnd, StartUpFailuresEndTheProgramBeforeTheQueue) {
    Project("alice", {{"never", 0}});

    platform::CapturedRun run = Run({"now"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    run = Run({""});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");

    const std::string missing = m_dir.File("missing-catalogue.txt");
    SetMachine("FILEMSGSYS", missing);
    run = Run();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "File does not exist : " + missing + "\n");
    SetMachine("FILEMSGSYS", m_dir.File("msgsys.txt"));

    SetMachine("FILEMSGU_TORVANE", "");
    run = Run({"argument after a missing catalogue"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "File does not exist : \n");
    SetMachine("FILEMSGU_TORVANE", m_dir.File("languages.txt"));

    // No user is flagged as current and none is named "public".
    WriteUsers({User("alice"), User("bob")});
    run = Run();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, m_banner);
    WriteUsers({User("alice").Current()});

    if (e2e::MessageBoxesOnStandardError()) {
        run = Run({}, false);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Torvane8"), std::string::npos) << run.err;
    } else {
        // A message box may start the host's desktop process, which would
        // hold captured output pipes open: run this one without capture.
        platform::EnvironmentEntries none;
        ASSERT_TRUE(e2e::RemoveInstallationSettings(Root().string(), none));
        const platform::LaunchResult ended =
            platform::LaunchCommandLine("\"" + Program("torvane-batch") + "\"");
        ASSERT_TRUE(ended.created) << ended.reason;
        EXPECT_EQ(ended.exitCode, 0);
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
    for (int i = 0; i < 200 && !fs::exists(Root() / "started"); ++i) platform::SleepMs(50);
    ASSERT_TRUE(fs::exists(Root() / "started"));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(platform::WaitForLaunched(simulator.id), std::optional<int>(0));
    EXPECT_EQ(testsupport::ReadBytes(Root() / "ended"), "no log yet");
    FichierLogBatch log;
    ASSERT_TRUE(LoadLog("alice", "after-simulator", log));
    EXPECT_TRUE(log.m_simuOK);
}

TEST_F(EndToEnd, AQueueHeldByAnotherProgramIsWaitedForAndItsEditKept) {
    const std::vector<Job> before = {{"alice", "held-first", 0, 0, 0},
                                     {"alice", "held-second", 0, 0, 0}};
    std::vector<Job> after = before;
    after[1].state = 2;  // the other program finishes the second job itself
    testsupport::WriteBytes(QueuePath(), QueueText(before));

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
        const std::string text = QueueText(after);
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
    EXPECT_TRUE(LoadLog("alice", "held-first", log));
    EXPECT_FALSE(LoadLog("alice", "held-second", log)) << "the edit was lost";
    EXPECT_EQ(ReportLines(testsupport::ReadBytes(ReportPath())),
              JobBlock("alice", "held-first", true, {Finished("held-first")}, 0, 0));
    EXPECT_FALSE(fs::exists(QueuePath()));
}

TEST_F(EndToEnd, NamesTheCommandLineCannotCarryAreNotLaunched) {
    // Users whose names hold a double quotation mark and a tab; their folders
    // have plain names, so that their logs can be written on every host.
    WriteUsers({User("alice").Current(), User("q\"uote", "quote"), User("t\tab", "tab")});
    fs::create_directories(Batch("quote"));
    fs::create_directories(Batch("tab"));
    const std::string injected = "a\" & echo x > injected & \"";
    testsupport::WriteBytes(QueuePath(), QueueText({{"alice", "keeps-the-queue", 1, 0, 0},
                                                    {"alice", "%PATH%", 0, 0, 0},
                                                    {"alice", "!x!", 0, 0, 0},
                                                    {"alice", injected, 0, 0, 0},
                                                    {"q\"uote", "quoted-user", 0, 0, 0},
                                                    {"t\tab", "tab-user", 0, 0, 0},
                                                    {"alice", "plain-name", 0, 0, 0}}));
    // An installation folder the command line cannot carry fails every
    // launch, plain names included.
    SetMachine("REPSOFTWARE", WithSeparator(Root() / "inst!all"));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const std::vector<Job> queue = ReadQueue();
    ASSERT_EQ(queue.size(), 7u);
    for (std::size_t i = 1; i < queue.size(); ++i) {
        EXPECT_EQ(queue[i].state, 2) << queue[i].name;
        EXPECT_EQ(queue[i].status, 0) << queue[i].name;
    }
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
        const std::string event = log.m_eventList.GetAt(0)->str();
        EXPECT_NE(event.find("\"" + refused.job + "\""), std::string::npos) << event;
        EXPECT_NE(event.find(refused.character), std::string::npos) << event;
    }
    // The job whose name would have ended the quoting has its event in the
    // report even where no file can be named after it.
    const std::vector<std::string> report = ReportLines(testsupport::ReadBytes(ReportPath()));
    const std::vector<std::string> injectedStart = {
        "User \"alice\": starts job \"" + injected + "\"",
        "User \"alice\": ended job \"" + injected + "\"", "Simulation succeeded: 0"};
    auto at = std::search(report.begin(), report.end(), injectedStart.begin(), injectedStart.end());
    ASSERT_NE(at, report.end());
    ASSERT_LT(at + 3, report.end());
    const std::string& event = *(at + 3);
    EXPECT_EQ(event.rfind("Event: Cannot start the job: ", 0), 0u) << event;
    EXPECT_NE(event.find("'\"'"), std::string::npos) << event;
    EXPECT_NE(event.find("echo x > injected"), std::string::npos) << event;
    // Nothing ran through the command interpreter.
    EXPECT_FALSE(fs::exists(BinFolder() / "injected"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "injected"));
}

TEST_F(EndToEnd, OddButHarmlessNamesReachTheSimulatorIntact) {
    const std::vector<std::string> names = {"two words", "this & that", "open (paren",
                                            "caret ^ job", "caf\xE9 cr\xE8me"};
    std::vector<Job> jobs = {{"alice", "keeps-the-queue", 1, 0, 0}};
    for (const std::string& name : names) jobs.push_back({"alice", name, 0, 0, 0});
    testsupport::WriteBytes(QueuePath(), QueueText(jobs));

    const platform::CapturedRun run = Run();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const std::vector<Job> queue = ReadQueue();
    ASSERT_EQ(queue.size(), jobs.size());
    for (std::size_t i = 1; i < queue.size(); ++i) {
        EXPECT_EQ(queue[i].state, 2) << queue[i].name;
        EXPECT_EQ(queue[i].status, 1) << queue[i].name;
    }
    for (const std::string& name : names) {
        FichierLogBatch log;
        ASSERT_TRUE(LoadLog("alice", name, log)) << name;
        // The stand-in got the name as one argument, byte for byte.
        EXPECT_EQ(log.m_jobName, name);
        EXPECT_TRUE(log.m_simuOK);
    }
}

}  // namespace
