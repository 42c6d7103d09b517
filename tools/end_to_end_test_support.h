// Shared by the tests that run the real torvane-batch and torvane-sim: the
// fixture EndToEnd (users "alice" and "bob") and the background launcher.
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
#include "app/install_paths.h"
#include "batchlog/fichier_log_batch.h"
#include "platform/child_process.h"
#include "platform/command_line.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/settings_store_testing.h"
#include "platform/sleep.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"
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
    return (BinFolder() / (name + fs::path(testsupport::TestExecutablePath()).extension().string()))
        .string();
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

// The report lines of a job of alice's that ran on the stand-in.
inline std::string Ran(const std::string& job, bool ok) {
    return apptest::RanBlock("alice", job, ok, {"Simulation of " + job + " finished"}, ok ? 0 : 1);
}

// Entries of bytes the launcher could have written (states up to 3, which
// tests use to keep a queue on disk); else a non-empty `error`.
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

// A whole number from the environment (a loop size, a seed to replay), or `fallback`.
inline std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return fallback;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' ? value : fallback;
}

// Polls `done` until it holds or `ms` have passed; its last answer.
template <typename Done>
bool WaitUntil(std::uint32_t ms, Done done) {
    for (std::uint32_t waited = 0; waited < ms && !done(); waited += 10) platform::SleepMs(10);
    return done();
}

// One start of the launcher, reaped by a thread of ours so that the test can
// ask at any moment whether it has ended. It inherits our environment.
class BackgroundLauncher {
  public:
    BackgroundLauncher() = default;
    BackgroundLauncher(const BackgroundLauncher&) = delete;
    BackgroundLauncher& operator=(const BackgroundLauncher&) = delete;
    ~BackgroundLauncher() {
        if (m_waiter.joinable())
            Kill();
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
    bool EndsWithin(std::uint32_t ms) {
        WaitUntil(ms, [this] { return m_ended.load(); });
        if (m_ended && m_waiter.joinable())
            m_waiter.join();
        return m_ended;
    }
    // Ends it as a crash would; false when it had ended by itself.
    bool Kill() {
        platform::TerminateLaunched(m_id);
        if (m_waiter.joinable())
            m_waiter.join();
        return m_exitCode == platform::kTerminatedExitCode;
    }
    int ExitCode() const { return m_exitCode; }
    platform::ProcessId Id() const { return m_id; }

  private:
    platform::ProcessId m_id = 0;
    std::thread m_waiter;
    std::atomic<bool> m_ended{false};
    std::atomic<int> m_exitCode{-1};
};

// Catalogues, users "alice" (current: queue and report are hers) and "bob",
// and the settings naming them; the installation folder is the bin folder.
class EndToEnd : public testing::Test {
  protected:
    void SetUp() override {
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
    // Base folder <root>/<folder> through the variable, batch folder "Batch".
    static UserChapter User(const std::string& name, const std::string& folder = "") {
        const std::string base = (folder.empty() ? name : folder) + "\\";
        return UserChapter(name)
            .Folder(0, 0, "%" + std::string(kRootVariable) + "%\\" + base)
            .Folder(17, 1, "");
    }
    void WriteUsers(const std::vector<UserChapter>& users) {
        testsupport::WriteBytes(Root() / "users.tvu", users_test::UsersFile(users));
    }
    fs::path Batch(const std::string& folder) const { return Root() / folder / "Batch"; }
    fs::path QueuePath() const { return Batch("alice") / "batchexec.txt"; }
    fs::path ReportPath() const { return Batch("alice") / "batchreport.txt"; }
    // The report with the expected blocks' time stamp on every line.
    std::string Report() const {
        std::string text = "\n" + testsupport::ReadBytes(ReportPath());
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; ++at)
            if (text.size() > at + 22 && text.compare(at + 18, 4, " -> ") == 0 &&
                text[at + 3] == '/')
                text.replace(at + 1, 17, apptest::kStamp);
        return text.substr(1);
    }

    void SetMachine(const std::string& name, const std::string& value) { m_machine[name] = value; }

    // A batch project file of {name, wait flag} records.
    void Project(const std::string& user, const std::vector<std::pair<std::string, int>>& jobs) {
        std::string text = "[[Projet batch]]\n\n[Version]\nVersion ft = 0.2\nVersion = 0.1\n";
        for (const auto& [name, wait] : jobs)
            text += "\n[element gamme gamme de gamme]\nm_waitForPrec = " + std::to_string(wait) +
                    "\nnom = " + name + "\n";
        testsupport::WriteBytes(Batch(user) / (user + "-BATCH.tvs"), text);
    }

    // The first record of a launched job in alice's journal that `match` takes.
    template <typename Match>
    std::optional<JournalRecord> JournalJob(Match match) const {
        BatchJournal journal(WithSeparator(Batch("alice")));
        if (journal.Load())
            for (const JournalRecord& record : journal.Records())
                if (record.process.id != 0 && match(record))
                    return record;
        return std::nullopt;
    }

    // A background launcher killed while alice's `job` runs its `attempt`
    // in the counting installation, alone or with the job's tree.
    void KillDuring(const std::string& job, int attempt, bool withTheJob,
                    JournalRecord* killed = nullptr) {
        BackgroundLauncher launcher;
        ASSERT_TRUE(launcher.Start());
        std::optional<JournalRecord> found;
        WaitUntil(30000, [&] {
            found = JournalJob([&](const JournalRecord& record) {
                return record.name == CString(job) && record.attempt == attempt;
            });
            return found.has_value();
        });
        ASSERT_TRUE(found) << job << " was not launched";
        // Once its script has begun (slow under a Windows interpreter).
        WaitUntil(20000, [&] { return Runs()["alice/" + job] >= attempt; });
        ASSERT_TRUE(launcher.Kill()) << "the launcher ended before it was killed";
        ASSERT_TRUE(platform::IsStillRunning(found->process)) << "the job died with its launcher";
        if (withTheJob) {
            ASSERT_TRUE(platform::EndProcessGroup(found->process, 0));
            WaitUntil(2000, [&] { return !platform::IsStillRunning(found->process); });
        }
        if (killed != nullptr)
            *killed = *found;
    }

    // The children's environment and settings (under Wine the leg's own
    // registry), replaced as a whole, or no product key at all.
    platform::EnvironmentEntries Environment(bool productKey = true) {
        platform::EnvironmentEntries environment = {{kRootVariable, Root().string()}};
        platform::ScopedChildSettings store(Root().string(), environment);
        std::string key = GetRegistryKeyPath().str();
        key.pop_back();  // the final backslash
        using enum platform::SettingsRoot;
        for (auto root : {LocalMachine, CurrentUser}) platform::DeleteSettingsKey(root, key);
        if (productKey) {
            bool written = platform::CreateSettingsKey(LocalMachine, key) &&
                           platform::SetSettingsString(CurrentUser, key, "LANGUAGE", "EN");
            for (const auto& [name, value] : m_machine)
                written = written && platform::SetSettingsString(LocalMachine, key, name, value);
            EXPECT_TRUE(written) << "settings not written";
        }
        return environment;
    }

    // Settings for background launchers are written once and inherited.
    platform::CapturedRun Run(const std::vector<std::string>& arguments = {},
                              bool productKey = true) {
        platform::CapturedRun run = platform::RunAndCapture(
            Program("torvane-batch"), arguments,
            m_variables.empty() ? Environment(productKey) : platform::EnvironmentEntries{});
        EXPECT_TRUE(run.started) << run.reason;
        run.out = WithoutCarriageReturns(run.out);
        return run;
    }
    // A background launcher left to end by itself; its exit code.
    static int RunToTheEnd(std::uint32_t ms = 60000) {
        BackgroundLauncher launcher;
        EXPECT_TRUE(launcher.Start());
        EXPECT_TRUE(launcher.EndsWithin(ms)) << "the launcher did not end";
        return launcher.ExitCode();
    }

    // For background launchers: a script that notes "<user>/<job>" (plain
    // names) in runs.txt and runs the stand-in; settings in our environment.
    void UseCountingInstallation(const std::string& simSleepMs) {
        const std::string sim = Program("torvane-sim");
        fs::create_directories(Root() / "install");
        testsupport::WriteBytes(
            Root() / "install" / "TorvaneBatch.bat",
            fs::path(sim).extension() == ".exe"
                ? "@>>\"%~dp0runs.txt\" echo %~3/%~5\r\n@\"" + sim + "\" %*\r\n"
                : "#!/bin/sh\nprintf '%s/%s\\n' \"$3\" \"$5\" >> \"$(dirname \"$0\")/runs.txt\"\n"
                  "exec \"" +
                      sim + "\" \"$@\"\n");
        fs::permissions(Root() / "install" / "TorvaneBatch.bat", fs::perms(0755));
        SetMachine("REPSOFTWARE", WithSeparator(Root() / "install"));
        for (const auto& [name, value] : Environment()) m_variables.emplace_back(name, value);
        m_variables.emplace_back("TORVANE_SIM_SLEEP_MS", simSleepMs);
    }
    // How often each "<user>/<job>" was started in the counting installation.
    std::map<std::string, int> Runs() const {
        std::map<std::string, int> runs;
        std::istringstream in(WithoutCarriageReturns(testsupport::ReadBytes(RunsPath())));
        for (std::string line; std::getline(in, line);) ++runs[line];
        return runs;
    }
    fs::path RunsPath() const { return Root() / "install" / "runs.txt"; }

    testsupport::TempDir m_dir;
    std::map<std::string, std::string> m_machine;
    const std::string m_banner = "Torvane Batch v1.1.6 - Release\n";
    std::deque<testsupport::ScopedEnv> m_variables;  // for the children
};

}  // namespace e2e
