// A scripted host for the batch run's tests: jobs that run in no time on a
// clock of their own, a table of processes that survive the launcher that
// started them, and a record of every launch, wait, pause and ending.
//
// A launched job is a fake process that ends when waited for long enough: it
// then writes its log (succeeded, failed, or none) at the fake clock's time.
// A process can also be put in the table as left running by an earlier
// launcher. The launcher's own process is never touched.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/batch_run.h"
#include "app/batch_fixture_test_support.h"
#include "app/slurm_run.h"
#include "batchlog/fichier_log_batch.h"
#include "users/liste_users.h"

namespace apptest {

enum class Outcome { kSucceeds, kFails, kWritesNoLog, kCannotStart, kThrows };

class FakeJobHost {
  public:
    struct Process {
        std::string user;
        std::string job;
        CString logPath;
        Outcome outcome = Outcome::kSucceeds;
        std::int64_t leftMs = 0;  // how long it still runs
        bool running = true;
        bool endedByGroup = false;
    };

    explicit FakeJobHost(ListeUsers& users) : m_users(users) {}

    // The fake clock (ms since 1970), and the time stamp of report lines.
    std::int64_t now = 1'765'000'000'000;
    std::string stamp = "12/05/26 18:27:30";
    // How each job ends (default: succeeds) and how long it runs (default 0).
    std::map<std::string, Outcome> outcomes;
    std::map<std::string, std::int64_t> durations;
    // The job names launched, their command lines, the pauses asked for.
    std::vector<std::string> launched;
    std::vector<std::string> commandLines;
    std::vector<std::uint32_t> pauses;
    // The waits asked for (the limit in ms) and the groups ended.
    std::vector<std::uint32_t> waitLimits;
    std::vector<std::string> endedGroups;
    // Called as a job is launched and at each pause.
    std::function<void(const std::string& job)> duringJob;
    std::function<void(std::uint32_t)> onPause;
    // Modification times of files, on the fake clock.
    std::map<std::string, std::int64_t> fileTimes;
    std::map<platform::ProcessId, Process> processes;

    // A process left running by an earlier launcher, for `user`'s `job`.
    platform::ProcessIdentity LeaveRunning(const std::string& user, const std::string& job,
                                           std::int64_t leftMs,
                                           Outcome outcome = Outcome::kSucceeds) {
        platform::ProcessId id = m_nextId++;
        processes[id] = Process{user, job, LogPath(user, job), outcome, leftMs};
        return {id, StartOf(id)};
    }
    CString LogPath(const std::string& user, const std::string& job) {
        CUser* found = m_users.FindUser(CString(user));
        return found != nullptr ? found->GetJobLogPath(CString(job)) : CString();
    }
    // Writes a job's log now, on the fake clock.
    void WriteLog(const CString& path, bool succeeded, const std::string& event) {
        FichierLogBatch log;
        log.m_simuOK = succeeded;
        log.m_eventList.Add(event);
        log.Save(path);
        fileTimes[path.str()] = now;
    }

    BatchRunHost Host() {
        BatchRunHost host;
        host.clock = [this] { return stamp; };
        host.sleep = [this](std::uint32_t ms) {
            pauses.push_back(ms);
            if (onPause)
                onPause(ms);
        };
        host.launcher = [this](std::string_view line, const platform::LaunchOptions& options) {
            return Launch(line, options);
        };
        host.isStillRunning = [this](const platform::ProcessIdentity& p) {
            const Process* process = Find(p);
            return process != nullptr && process->running;
        };
        host.wait = [this](const platform::ProcessIdentity& p, std::uint32_t limitMs) {
            return Wait(p, limitMs);
        };
        host.collect = [](platform::ProcessId) {};
        host.endGroup = [this](const platform::ProcessIdentity& p, std::uint32_t) {
            Process* process = Find(p);
            if (process == nullptr || !process->running)
                return false;
            process->running = false;
            process->endedByGroup = true;
            endedGroups.push_back(process->job);
            return true;
        };
        host.nowMs = [this] { return now; };
        host.fileTimeMs = [this](const CString& path) -> std::optional<std::int64_t> {
            auto found = fileTimes.find(path.str());
            if (found == fileTimes.end())
                return std::nullopt;
            return found->second;
        };
        host.jobEvent = [this](const CString& path, const CString& message) {
            FichierLogBatch log;
            log.AddEvent(path, message);
            fileTimes[path.str()] = now;
        };
        return host;
    }

  private:
    static std::uint64_t StartOf(platform::ProcessId id) { return 7000 + id; }

    // The quoted arguments of a job command line: script, user, job.
    static std::vector<std::string> Quoted(std::string_view line) {
        std::vector<std::string> parts;
        for (std::size_t begin = line.find('"'); begin != std::string_view::npos;) {
            std::size_t end = line.find('"', begin + 1);
            parts.emplace_back(line.substr(begin + 1, end - begin - 1));
            begin = line.find('"', end + 1);
        }
        return parts;
    }

    Process* Find(const platform::ProcessIdentity& p) {
        auto found = processes.find(p.id);
        if (found == processes.end() || StartOf(p.id) != p.startTime)
            return nullptr;
        return &found->second;
    }

    platform::LaunchResult Launch(std::string_view line, const platform::LaunchOptions& options) {
        EXPECT_FALSE(options.wait) << "a job is waited for under its time limit";
        EXPECT_TRUE(options.ownGroup) << "a job runs in a group of its own";
        std::vector<std::string> parts = Quoted(line);
        const std::string user = parts.size() == 3 ? parts[1] : std::string();
        const std::string job = parts.size() == 3 ? parts[2] : std::string();
        commandLines.emplace_back(line);
        launched.push_back(job);
        if (duringJob)
            duringJob(job);
        platform::LaunchResult result;
        Outcome outcome = outcomes.count(job) ? outcomes[job] : Outcome::kSucceeds;
        if (outcome == Outcome::kCannotStart) {
            result.reason = "not found";
            return result;
        }
        if (outcome == Outcome::kThrows)
            throw std::runtime_error("launcher broke");
        platform::ProcessId id = m_nextId++;
        processes[id] = Process{user, job, LogPath(user, job), outcome,
                                durations.count(job) ? durations[job] : 0};
        result.created = true;
        result.id = id;
        result.startTime = StartOf(id);
        return result;
    }

    platform::WaitOutcome Wait(const platform::ProcessIdentity& p, std::uint32_t limitMs) {
        waitLimits.push_back(limitMs);
        Process* process = Find(p);
        if (process == nullptr || !process->running)
            return platform::WaitOutcome::kCannotOpen;
        if (limitMs != platform::kNoTimeLimit && process->leftMs > limitMs) {
            now += limitMs;
            process->leftMs -= limitMs;
            return platform::WaitOutcome::kTimedOut;
        }
        now += process->leftMs;
        process->leftMs = 0;
        process->running = false;
        if (process->outcome != Outcome::kWritesNoLog)
            WriteLog(process->logPath, process->outcome == Outcome::kSucceeds,
                     "ran " + process->job);
        return platform::WaitOutcome::kEnded;
    }

    ListeUsers& m_users;
    platform::ProcessId m_nextId = 100;
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
