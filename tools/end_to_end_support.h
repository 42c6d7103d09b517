// Shared by the tests that run the real torvane-batch and torvane-sim: a
// temporary installation (catalogues, users list with "alice" and "bob",
// their batch folders, the settings where other processes read them) in the
// fixture EndToEnd, and helpers that write and read queue and report files
// as people and the simulator's tools see them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/app_test_support.h"
#include "batchlog/fichier_log_batch.h"
#include "platform/child_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"
#include "tools/installation_settings.h"
#include "users/users_test_support.h"

namespace e2e {

namespace fs = std::filesystem;
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

inline std::string WithoutCarriageReturns(std::string text) {
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

inline std::string QueueText(const std::vector<Job>& jobs) {
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
inline std::vector<std::string> ReportLines(const std::string& bytes) {
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
inline std::vector<std::string> JobBlock(const std::string& user, const std::string& job, bool ok,
                                         const std::vector<std::string>& events, int alerts,
                                         int errors) {
    std::vector<std::string> lines = {"User \"" + user + "\": starts job \"" + job + "\"",
                                      "User \"" + user + "\": ended job \"" + job + "\"",
                                      std::string("Simulation succeeded: ") + (ok ? "1" : "0")};
    for (const std::string& event : events) lines.push_back("Event: " + event);
    lines.push_back("Alerts: " + std::to_string(alerts));
    lines.push_back("Errors: " + std::to_string(errors));
    lines.push_back("");
    return lines;
}
inline std::vector<std::string> SkippedBlock(const std::string& user, const std::string& job) {
    return {"User \"" + user + "\": starts job \"" + job + "\"",
            "User \"" + user + "\": ended job \"" + job + "\"",
            "Skipped: the previous job did not succeed (100% sure)"};
}
inline std::string Finished(const std::string& job) {
    return "Simulation of " + job + " finished";
}
inline void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
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

    // Writes the settings (or removes the product key) and gives what the
    // programs started by the test need in their environment to find them.
    platform::EnvironmentEntries Environment(bool productKey = true) {
        platform::EnvironmentEntries environment = {{kRootVariable, Root().string()}};
        const bool written = productKey
                                 ? e2e::WriteInstallationSettings(Root().string(), m_machine,
                                                                  {{"LANGUAGE", "EN"}}, environment)
                                 : e2e::RemoveInstallationSettings(Root().string(), environment);
        EXPECT_TRUE(written);
        return environment;
    }

    platform::CapturedRun Run(const std::vector<std::string>& arguments = {},
                              bool productKey = true) {
        const platform::EnvironmentEntries environment = Environment(productKey);
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

}  // namespace e2e
