// A scripted host for the batch run's tests: jobs on a clock of their own that
// write their log once waited for long enough, and a record of what was asked.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/batch_fixture_test_support.h"
#include "app/batch_run.h"
#include "app/slurm_run.h"
#include "batchlog/fichier_log_batch.h"
#include "users/liste_users.h"

namespace apptest {

// kNotReleased: created held, and the host refuses to let it run.
enum class Outcome { kSucceeds, kFails, kWritesNoLog, kCannotStart, kThrows, kNotReleased };

class FakeJobHost {
  public:
    explicit FakeJobHost(ListeUsers& users) : m_users(users) {}

    // The fake clock (ms since 1970), and the time stamp of report lines.
    std::int64_t now = 1'765'000'000'000;
    std::string stamp = kStamp;
    // How each job ends (default: succeeds) and how long it runs (default 0).
    std::map<std::string, Outcome> outcomes;
    std::map<std::string, std::int64_t> durations;
    std::vector<std::string> launched;
    std::vector<std::uint32_t> pauses;
    std::vector<std::uint32_t> waitLimits;
    std::vector<std::string> endedGroups;
    // Called as a job is launched, as it is let run, and at each pause.
    std::function<void(const std::string& job)> duringJob;
    std::function<void(const std::string& job)> onRelease;
    std::function<void(std::uint32_t)> onPause;

    // A process left running by an earlier launcher.
    platform::ProcessIdentity LeaveRunning(const std::string& user, const std::string& job,
                                           std::int64_t leftMs) {
        const platform::ProcessId id = m_nextId++;
        m_processes[id] = Process{job, LogPath(user, job), Outcome::kSucceeds, leftMs};
        return {id, StartOf(id)};
    }
    // Writes a job's log now, on the fake clock.
    void WriteLog(const CString& path, bool succeeded, const std::string& event) {
        FichierLogBatch log;
        log.m_simuOK = succeeded;
        log.m_eventList.Add(event);
        log.Save(path);
        m_fileTimes[path.str()] = now;
    }

    BatchRunHost Host() {
        BatchRunHost host;
        host.clock = [this] { return stamp; };
        host.sleep = [this](std::uint32_t ms) {
            pauses.push_back(ms);
            if (onPause)
                onPause(ms);
        };
        host.launcher = std::bind_front(&FakeJobHost::Launch, this);
        host.isStillRunning = [this](const platform::ProcessIdentity& p) {
            return Find(p) != nullptr;
        };
        host.wait = std::bind_front(&FakeJobHost::Wait, this);
        host.release = [this](platform::ProcessId id) {
            Process& process = m_processes.at(id);
            if (onRelease)
                onRelease(process.job);
            if (process.outcome == Outcome::kNotReleased)
                return platform::Status::IoError("refused by the host");
            process.held = false;
            return platform::Status::Ok();
        };
        host.collect = [](platform::ProcessId) {};
        host.endGroup = [this](const platform::ProcessIdentity& p, std::uint32_t) {
            Process* process = Find(p);
            if (process == nullptr)
                return false;
            process->running = false;
            endedGroups.push_back(process->job);
            return true;
        };
        host.nowMs = [this] { return now; };
        host.fileTimeMs = [this](const CString& path) -> std::optional<std::int64_t> {
            auto found = m_fileTimes.find(path.str());
            return found == m_fileTimes.end() ? std::nullopt : std::optional(found->second);
        };
        host.jobEvent = [this](const CString& path, const CString& message) {
            FichierLogBatch().AddEvent(path, message);
            m_fileTimes[path.str()] = now;
        };
        return host;
    }

  private:
    struct Process {
        std::string job;
        CString logPath;
        Outcome outcome;
        std::int64_t leftMs;  // how long it still runs
        bool running = true;
        bool held = false;
    };

    static std::uint64_t StartOf(platform::ProcessId id) { return 7000 + id; }
    CString LogPath(const std::string& user, const std::string& job) {
        CUser* found = m_users.FindUser(CString(user));
        return found != nullptr ? found->GetJobLogPath(CString(job)) : CString();
    }
    // A running process of that identity, or null.
    Process* Find(const platform::ProcessIdentity& p) {
        auto found = m_processes.find(p.id);
        if (found == m_processes.end() || StartOf(p.id) != p.startTime || !found->second.running)
            return nullptr;
        return &found->second;
    }

    platform::LaunchResult Launch(std::string_view line, const platform::LaunchOptions& options) {
        EXPECT_FALSE(options.wait) << "a job is waited for under its time limit";
        EXPECT_TRUE(options.ownGroup && options.held) << "a job runs in a group of its own, "
                                                         "held until the journal names it";
        std::match_results<std::string_view::const_iterator> quoted;
        const bool parsed =
            std::regex_match(line.begin(), line.end(), quoted,
                             std::regex(R"re("[^"]*" -b -u "([^"]*)" -j "([^"]*)")re"));
        const std::string user = parsed ? quoted.str(1) : "";
        const std::string job = parsed ? quoted.str(2) : "";
        launched.push_back(job);
        if (duringJob)
            duringJob(job);
        platform::LaunchResult result;
        const Outcome outcome = outcomes.count(job) ? outcomes[job] : Outcome::kSucceeds;
        if (outcome == Outcome::kCannotStart) {
            result.reason = "not found";
            return result;
        }
        if (outcome == Outcome::kThrows)
            throw std::runtime_error("launcher broke");
        result.id = m_nextId++;
        m_processes[result.id] =
            Process{job, LogPath(user, job), outcome, durations[job], true, true};
        result.created = true;
        result.startTime = StartOf(result.id);
        return result;
    }

    platform::WaitOutcome Wait(const platform::ProcessIdentity& p, std::uint32_t limitMs) {
        waitLimits.push_back(limitMs);
        Process* process = Find(p);
        if (process == nullptr)
            return platform::WaitOutcome::kCannotOpen;
        EXPECT_FALSE(process->held) << process->job << " waited for while held";
        if (limitMs != platform::kNoTimeLimit && process->leftMs > limitMs) {
            now += limitMs;
            process->leftMs -= limitMs;
            return platform::WaitOutcome::kTimedOut;
        }
        now += process->leftMs;
        process->running = false;
        if (process->outcome != Outcome::kWritesNoLog)
            WriteLog(process->logPath, process->outcome == Outcome::kSucceeds,
                     "ran " + process->job);
        return platform::WaitOutcome::kEnded;
    }

    ListeUsers& m_users;
    platform::ProcessId m_nextId = 100;
    std::map<platform::ProcessId, Process> m_processes;
    std::map<std::string, std::int64_t> m_fileTimes;
};

// A batch folder shared by the users anne and bob, run on the scripted host.
class RunFixture : public BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        LoadUsers({"anne", "bob"});
    }

    // A record of anne's `name` as an earlier submitter or launcher left it.
    static JournalRecord Record(const std::string& name, unsigned position,
                                const std::string& job = "", const std::string& token = "") {
        JournalRecord record;
        record.user = "anne";
        record.name = CString(name);
        record.position = position;
        record.attempt = 1;
        record.clusterJob = job;
        if (!token.empty())
            record.otherFields = {{kClusterTokenField, token}};
        return record;
    }
    void LeaveJournal(const std::vector<JournalRecord>& records) {
        BatchJournal journal(batch);
        for (const JournalRecord& record : records) journal.Put(record);
        ASSERT_TRUE(journal.Save()) << journal.LastError().ToString();
    }

    FakeJobHost fake{users};
};

}  // namespace apptest
