// Shared by the tests that run the real torvane-batch and torvane-sim: a
// temporary installation (catalogues, users list with "alice" and "bob",
// their batch folders, the settings where other processes read them) in the
// fixture EndToEnd, the queue and report as other programs read them, and for
// the tests that break things on purpose (killing the launcher, editing its
// queue under it): the launcher started in the background, an installation
// script that counts every job it starts, and numbers and seeds taken from
// the environment, so that a short run stays in the test suite and a long
// one is a script away.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_test_support.h"
#include "app/batch_journal.h"
#include "batchlog/fichier_log_batch.h"
#include "platform/child_process.h"
#include "platform/command_line.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"
#include "tools/installation_settings_testing.h"
#include "users/users_test_support.h"

namespace e2e {

namespace fs = std::filesystem;
using apptest::QueueText;
using apptest::WithoutCarriageReturns;
using Job = apptest::Entry;
using users_test::UserChapter;

// The variable through which the users list names its folders.
inline constexpr const char* kRootVariable = "TVE2E_ROOT";

inline fs::path BinFolder() {
    return fs::absolute(fs::path(testsupport::TestExecutablePath())).parent_path();
}
// A program of the bin folder, with the extension executables have here.
inline std::string Program(const std::string& name) {
    const fs::path self(testsupport::TestExecutablePath());
    return (BinFolder() / (name + self.extension().string())).string();
}
inline std::string WithSeparator(const fs::path& folder) {
    return folder.string() + static_cast<char>(fs::path::preferred_separator);
}
// Reads the whole stream from where it stands.
inline std::string ReadAll(std::FILE* stream) {
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
        text.append(buffer, n);
    return text;
}

// The report lines of a job of alice's that ran on the stand-in: its one
// event, and the one error of a job named to fail.
inline std::string Ran(const std::string& job, bool ok) {
    return apptest::RanBlock("alice", job, ok, {"Simulation of " + job + " finished"}, ok ? 0 : 1);
}

// The queue as the launcher must always leave it: "nb = N" and five lines
// per entry with their keys in order, every line ended by "\r\n", numbers
// that are single digits in range (a state up to 3: tests keep a queue on disk
// after its run with an entry in state 3, which the launcher leaves alone),
// and nothing after the last entry; that is,
// bytes that the launcher's own writing of the entries gives back exactly.
// Empty `error` when the bytes are such a queue.
struct StrictQueue {
    std::vector<Job> jobs;
    std::string error;
};
inline StrictQueue ParseQueueStrictly(const std::string& bytes) {
    std::vector<std::string> values;
    std::size_t begin = 0;
    for (std::size_t end; (end = bytes.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
        const std::size_t equal = bytes.find(" = ", begin);
        values.push_back(equal < end ? bytes.substr(equal + 3, end - equal - 3) : "");
    }
    // Out of range reads as -1, which is written back differently.
    auto digit = [](const std::string& text, char max) {
        return text.size() == 1 && text[0] >= '0' && text[0] <= max ? text[0] - '0' : -1;
    };
    StrictQueue queue;
    for (std::size_t at = 1; at + 4 < values.size(); at += 5)
        queue.jobs.push_back({values[at], values[at + 1], digit(values[at + 2], '3'),
                              digit(values[at + 3], '1'), digit(values[at + 4], '9')});
    if (QueueText(queue.jobs) != bytes)
        queue.error = "not a queue as the launcher writes it (torn or damaged?):\n" + bytes;
    return queue;
}

// A whole number from the environment, or `fallback` when the variable is
// unset or not a number.
inline std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' ? value : fallback;
}
// The seed of a random run: the variable's value when set, else a fresh one.
// Tests print it so that a failure can be replayed.
inline std::uint32_t Seed(const char* name) {
    return static_cast<std::uint32_t>(EnvNumber(name, std::random_device()()));
}

// Polls `done` every `stepMs` until it holds or `ms` have passed; its last
// answer.
template <typename Done>
bool WaitUntil(std::uint32_t ms, Done done, std::uint32_t stepMs = 20) {
    for (std::uint32_t waited = 0; waited < ms; waited += stepMs) {
        if (done())
            return true;
        platform::SleepMs(stepMs);
    }
    return done();
}

// Ends a job's whole process tree and waits (up to 2 s) until its process
// has gone. True when something of the tree still ran.
inline bool EndJobTree(const platform::ProcessIdentity& process) {
    const bool ended = platform::EndProcessGroup(process, 0);
    WaitUntil(
        2000, [&] { return !platform::IsStillRunning(process); }, 10);
    return ended;
}

// A variable of this process set for the object's life, for the programs it
// starts to inherit; the old value comes back.
class ScopedVariable {
  public:
    ScopedVariable(std::string name, const std::string& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str()))
            m_old = old;
        EXPECT_TRUE(platform::SetEnv(m_name, value)) << m_name;
    }
    ~ScopedVariable() { m_old ? platform::SetEnv(m_name, *m_old) : platform::UnsetEnv(m_name); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// One start of the launcher, not waited for: a thread of ours waits for its
// end, so that the test can ask at any moment whether it has ended and end
// it if not. It inherits this process's environment.
class BackgroundLauncher {
  public:
    BackgroundLauncher() = default;
    BackgroundLauncher(const BackgroundLauncher&) = delete;
    BackgroundLauncher& operator=(const BackgroundLauncher&) = delete;
    ~BackgroundLauncher() {
        if (m_waiter.joinable()) {
            platform::TerminateLaunched(m_id);
            m_waiter.join();
        }
    }

    bool Start() {
        const platform::LaunchResult started =
            platform::LaunchCommandLine(platform::JoinCommandLine(Program("torvane-batch"), {}),
                                        {.wait = false, .show = false});
        EXPECT_TRUE(started.created) << started.reason;
        if (!started.created)
            return false;
        m_id = started.id;
        m_waiter = std::thread([this] {
            m_exitCode = platform::WaitForLaunched(m_id).value_or(-1);
            m_ended = true;
        });
        return true;
    }
    // Waits up to `ms` for the launcher to end by itself.
    bool EndsWithin(std::uint32_t ms) {
        for (std::uint32_t waited = 0; !m_ended && waited < ms; waited += 10) platform::SleepMs(10);
        if (m_ended && m_waiter.joinable())
            m_waiter.join();
        return m_ended;
    }
    // Ends it at once (as a crash would) unless it ended by itself, and
    // reaps it. True when it was killed, false when it had ended by itself.
    bool Kill() {
        platform::TerminateLaunched(m_id);
        if (m_waiter.joinable())
            m_waiter.join();
        return m_exitCode == platform::kTerminatedExitCode;
    }
    int ExitCode() const { return m_exitCode; }
    // The launcher's process id, as it knows itself.
    platform::ProcessId Id() const { return m_id; }

  private:
    platform::ProcessId m_id = 0;
    std::thread m_waiter;
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_exitCode{-1};
};

// An installation folder whose "TorvaneBatch.bat" appends "<user>/<job>" to
// "runs.txt" beside it before it runs the stand-in of the bin folder, so that
// a test counts how often each job was really started (even by a launcher
// killed meanwhile). The names must not hold characters that the command
// interpreter treats specially.
class CountingInstallation {
  public:
    explicit CountingInstallation(fs::path folder) : m_folder(std::move(folder)) {
        fs::create_directories(m_folder);
        const std::string sim = Program("torvane-sim");
        // A Windows build's programs end in ".exe" and its script is run by
        // the command interpreter; elsewhere it is a shell script.
        const std::string script =
            fs::path(sim).extension() == ".exe"
                ? "@>>\"%~dp0runs.txt\" echo %~3/%~5\r\n@\"" + sim + "\" %*\r\n"
                : "#!/bin/sh\nprintf '%s/%s\\n' \"$3\" \"$5\" >> \"$(dirname \"$0\")/runs.txt\"\n"
                  "exec \"" +
                      sim + "\" \"$@\"\n";
        testsupport::WriteBytes(m_folder / "TorvaneBatch.bat", script);
        fs::permissions(m_folder / "TorvaneBatch.bat", fs::perms(0755));
    }
    // The folder as the REPSOFTWARE setting names it.
    std::string Setting() const { return WithSeparator(m_folder); }
    // How often each "<user>/<job>" was started.
    std::map<std::string, int> Runs() const {
        std::map<std::string, int> runs;
        if (!fs::exists(m_folder / "runs.txt"))
            return runs;
        std::istringstream in(
            WithoutCarriageReturns(testsupport::ReadBytes(m_folder / "runs.txt")));
        for (std::string line; std::getline(in, line);) ++runs[line];
        return runs;
    }
    void ForgetRuns() const { fs::remove(m_folder / "runs.txt"); }

  private:
    fs::path m_folder;
};

// A temporary installation: the system catalogue and the test's user
// catalogue, a users list with "alice" (the current user, whose batch
// folder holds queue and report) and "bob", and the settings naming them.
// The installation folder is the bin folder, unless a test changes it.
class EndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        // Written for the programs; loading them here as well does no harm.
        users_test::LoadSystemCatalogue(m_dir);
        apptest::LoadTestCatalogue(m_dir);
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
    // The report with each line's time stamp replaced by the one the expected
    // blocks carry.
    std::string Report() const {
        std::string text = testsupport::ReadBytes(ReportPath());
        for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
            if (text.size() > at + 21 && text.compare(at + 17, 4, " -> ") == 0 &&
                text[at + 2] == '/')
                text.replace(at, 17, apptest::kStamp);
            if (text.find('\n', at) == std::string::npos)
                break;
        }
        return text;
    }

    void SetMachine(const std::string& name, const std::string& value) { m_machine[name] = value; }

    // A batch project file with one record per job: name and wait flag.
    void Project(const std::string& user, const std::vector<std::pair<std::string, int>>& jobs) {
        std::string text = "[[Projet batch]]\n\n[Version]\nVersion ft = 0.2\nVersion = 0.1\n";
        for (const auto& [name, wait] : jobs)
            text += "\n[element gamme gamme de gamme]\nm_waitForPrec = " + std::to_string(wait) +
                    "\nnom = " + name + "\n";
        testsupport::WriteBytes(Batch(user) / (user + "-BATCH.tvs"), text);
    }

    // Loads a job's log; false when there is none. Log paths stay narrow
    // strings in the program's code page: a file system path made of them
    // would take them for UTF-8 on Windows.
    bool LoadLog(const std::string& folder, const std::string& job, FichierLogBatch& log) const {
        return log.Load(WithSeparator(Batch(folder)) + job + ".log") == KvFile::kLoaded;
    }

    // The journal record of a launched job (its process known), as the
    // launcher wrote it before waiting: of `job` and `attempt` when named,
    // else the first; nullopt when none comes within 30 s.
    std::optional<JournalRecord> LaunchedRecord(const std::string& job = "",
                                                int attempt = 0) const {
        std::optional<JournalRecord> found;
        WaitUntil(30000, [&] {
            BatchJournal journal(WithSeparator(Batch("alice")));
            if (journal.Load())
                for (const JournalRecord& record : journal.Records())
                    if (record.process.id != 0 &&
                        (job.empty() || (record.name == CString(job) && record.attempt == attempt)))
                        found = record;
            return found.has_value();
        });
        return found;
    }

    // Writes the settings (or removes the product key) and gives what the
    // programs started by the test need in their environment to find them.
    platform::EnvironmentEntries Environment(bool productKey = true) {
        platform::EnvironmentEntries environment = {{kRootVariable, Root().string()}};
        const bool written = productKey ? WriteInstallationSettings(
                                              Root().string(), {m_machine.begin(), m_machine.end()},
                                              {{"LANGUAGE", "EN"}}, environment)
                                        : RemoveInstallationSettings(Root().string(), environment);
        EXPECT_TRUE(written);
        return environment;
    }

    platform::CapturedRun Run(const std::vector<std::string>& arguments = {},
                              bool productKey = true) {
        platform::CapturedRun run =
            platform::RunAndCapture(Program("torvane-batch"), arguments, Environment(productKey));
        EXPECT_TRUE(run.started) << run.reason;
        run.out = WithoutCarriageReturns(run.out);
        return run;
    }

    // For launchers started in the background: the counting installation in
    // <root>/install, and the settings' variables with the stand-in's job
    // length set in this process for the test's life, for them to inherit.
    void UseCountingInstallation(const std::string& simSleepMs) {
        m_install.emplace(Root() / "install");
        SetMachine("REPSOFTWARE", m_install->Setting());
        for (const auto& [name, value] : Environment()) m_variables.emplace_back(name, value);
        m_variables.emplace_back("TORVANE_SIM_SLEEP_MS", simSleepMs);
    }

    testsupport::TempDir m_dir;
    std::map<std::string, std::string> m_machine;
    const std::string m_banner = "Torvane Batch v1.1.6 - Release\n";
    std::optional<CountingInstallation> m_install;
    std::deque<ScopedVariable> m_variables;
};

}  // namespace e2e
