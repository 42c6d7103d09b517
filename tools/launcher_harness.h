// Shared by the tests that run the real launcher while they break things on
// purpose (killing it, editing its queue under it): the launcher started in
// the background where it can be ended at any moment, an installation script
// that counts every job it starts, the queue read strictly as the launcher
// must leave it, and numbers and seeds taken from the environment so that a
// short run stays in the test suite and a long one is a script away.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "platform/command_line.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "testsupport/temp_dir.h"
#include "tools/end_to_end_support.h"

namespace harness {

namespace fs = std::filesystem;

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

// Variables of this process set for the life of the object, so that the
// programs it starts (and theirs) inherit them; the old values come back.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const platform::EnvironmentEntries& entries) {
        for (const auto& [name, value] : entries) {
            const char* old = std::getenv(name.c_str());
            m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            EXPECT_TRUE(platform::SetEnv(name, value)) << name;
        }
    }
    ~ScopedEnvironment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                platform::SetEnv(it->first, *it->second);
            else
                platform::UnsetEnv(it->first);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// One start of the launcher, not waited for: a thread of ours waits for its
// end, so that the test can ask at any moment whether it has ended and end
// it if not.
class BackgroundLauncher {
  public:
    // Starts torvane-batch from the bin folder with this process's
    // environment. False (with the reason in the failure) when it cannot.
    bool Start() {
        const platform::LaunchResult started = platform::LaunchCommandLine(
            platform::JoinCommandLine(e2e::Program("torvane-batch"), {}),
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
    ~BackgroundLauncher() {
        if (m_waiter.joinable()) {
            platform::TerminateLaunched(m_id);
            m_waiter.join();
        }
    }
    BackgroundLauncher() = default;
    BackgroundLauncher(const BackgroundLauncher&) = delete;
    BackgroundLauncher& operator=(const BackgroundLauncher&) = delete;

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
        const std::string sim = e2e::Program("torvane-sim");
        std::string script;
        // A Windows build's programs end in ".exe" and its script is run by
        // the command interpreter; elsewhere it is a shell script.
        if (fs::path(sim).extension() == ".exe") {
            script = "@>>\"%~dp0runs.txt\" echo %~3/%~5\r\n@\"" + sim + "\" %*\r\n";
        } else {
            script =
                "#!/bin/sh\nprintf '%s/%s\\n' \"$3\" \"$5\" >> \"$(dirname \"$0\")/runs.txt\"\n"
                "exec \"" +
                sim + "\" \"$@\"\n";
        }
        testsupport::WriteBytes(m_folder / "TorvaneBatch.bat", script);
        fs::permissions(m_folder / "TorvaneBatch.bat", fs::perms(0755));
    }
    // The folder as the REPSOFTWARE setting names it.
    std::string Setting() const { return e2e::WithSeparator(m_folder); }
    // How often each "<user>/<job>" was started.
    std::map<std::string, int> Runs() const {
        std::map<std::string, int> runs;
        if (!fs::exists(m_folder / "runs.txt"))
            return runs;
        const std::string text =
            e2e::WithoutCarriageReturns(testsupport::ReadBytes(m_folder / "runs.txt"));
        std::size_t begin = 0;
        for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
            ++runs[text.substr(begin, end - begin)];
        return runs;
    }
    void ForgetRuns() const { fs::remove(m_folder / "runs.txt"); }

  private:
    fs::path m_folder;
};

// The queue as the launcher must always leave it: "nb = N" and five lines
// per entry with their keys in order, every line ended by "\r\n", numbers
// that are single digits in range, and nothing after the last entry. Empty
// `error` when the bytes are such a queue.
struct StrictQueue {
    std::vector<e2e::Job> jobs;
    std::string error;
};

inline StrictQueue ParseQueueStrictly(const std::string& bytes) {
    StrictQueue queue;
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = bytes.find("\r\n", begin)) != std::string::npos; begin = end + 2)
        lines.push_back(bytes.substr(begin, end - begin));
    if (begin != bytes.size()) {
        queue.error = "the last line has no line end (a torn file?)";
        return queue;
    }
    auto value = [&](std::size_t line, const std::string& key, std::string& out) {
        const std::string prefix = key + " = ";
        if (line >= lines.size() || lines[line].rfind(prefix, 0) != 0) {
            queue.error = "line " + std::to_string(line + 1) + " is not \"" + prefix + "...\"";
            return false;
        }
        out = lines[line].substr(prefix.size());
        return true;
    };
    auto digit = [&](std::size_t line, const std::string& key, int max, int& out) {
        std::string text;
        if (!value(line, key, text))
            return false;
        if (text.size() != 1 || text[0] < '0' || text[0] - '0' > max) {
            queue.error = "line " + std::to_string(line + 1) + " has " + key + " \"" + text + "\"";
            return false;
        }
        out = text[0] - '0';
        return true;
    };
    std::string count;
    if (!value(0, "nb", count))
        return queue;
    if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos ||
        count.size() > 6) {
        queue.error = "the count is \"" + count + "\"";
        return queue;
    }
    const std::size_t n = std::stoul(count);
    if (lines.size() != 1 + 5 * n) {
        queue.error = std::to_string(lines.size()) + " lines for " + count + " entries";
        return queue;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = 1 + 5 * i;
        e2e::Job job;
        if (!value(at, "user", job.user) || !value(at + 1, "name", job.name) ||
            !digit(at + 2, "state", 2, job.state) || !digit(at + 3, "status", 1, job.status) ||
            !digit(at + 4, "wait", 9, job.wait))
            return queue;
        queue.jobs.push_back(job);
    }
    return queue;
}

}  // namespace harness
