#include "app/batch_run.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "app/batch_exec_file.h"
#include "app/install_paths.h"
#include "app/job_run.h"
#include "batchlog/fichier_log_batch.h"
#include "fsutil/file_system.h"
#include "platform/current_process.h"
#include "platform/file_ops.h"
#include "platform/settings_store.h"
#include "platform/timestamp.h"
#include "users/liste_users.h"

namespace {

std::optional<std::uint32_t> ReadMachineNumber(const char* name) {
    std::string key = GetRegistryKeyPath().str();
    if (!key.empty() && key.back() == '\\')
        key.pop_back();
    platform::SettingsKey opened =
        platform::OpenSettingsKey(platform::SettingsRoot::LocalMachine, key.c_str());
    if (opened == nullptr)
        return std::nullopt;
    char data[256] = {};
    std::size_t size = sizeof data;
    std::uint32_t type = platform::kRegNone;
    std::optional<std::uint32_t> number;
    if (platform::QuerySettingsValue(opened, name, data, &size, &type))
        number = ParseSettingNumber(data, size, type);
    platform::CloseSettingsKey(opened);
    return number;
}

}  // namespace

BatchRunHost::BatchRunHost()
    : isStillRunning(
          [](const platform::ProcessIdentity& p) { return platform::IsStillRunning(p); }),
      wait([](const platform::ProcessIdentity& p, std::uint32_t limitMs) {
          return platform::WaitForProcess(p, limitMs);
      }),
      release([](platform::ProcessId id) { return platform::ReleaseLaunched(id); }),
      collect([](platform::ProcessId id) { platform::WaitForLaunched(id); }),
      endGroup([](const platform::ProcessIdentity& p, std::uint32_t graceMs) {
          return platform::EndProcessGroup(p, graceMs);
      }),
      nowMs([] { return platform::NowMs(); }),
      fileTimeMs([](const CString& path) { return platform::ModificationTimeMs(path.str()); }),
      jobEvent([](const CString& logPath, const CString& message) {
          FichierLogBatch log;
          log.AddEvent(logPath, message);
      }) {}

std::optional<std::uint32_t> ParseSettingNumber(const char* data, std::size_t size,
                                                std::uint32_t type) {
    if (type == platform::kRegDword) {
        if (size != 4)
            return std::nullopt;
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 |
               static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    if (type != platform::kRegSz && type != platform::kRegExpandSz)
        return std::nullopt;
    std::string_view text(data, size);
    text = text.substr(0, text.find('\0'));
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

BatchRunSettings ReadBatchRunSettings() {
    BatchRunSettings settings;
    if (std::optional<std::uint32_t> seconds = ReadMachineNumber("BATCHJOBTIMEOUT"))
        settings.timeLimitSeconds = *seconds;
    if (std::optional<std::uint32_t> pause = ReadMachineNumber("BATCHJOBPAUSE"))
        settings.pauseAfterJobMs = *pause;
    return settings;
}

BatchRunContext::BatchRunContext(KvBatchExecFile& queue, const BatchRunHost& host,
                                 BatchRunSettings settings)
    : queue(queue),
      host(host),
      settings(settings),
      report(queue.GetFolder() + "batchreport.txt"),
      journal(queue.GetFolder()),
      log(std::make_unique<FichierLogBatch>()) {
    queue.SetSleeper(host.sleep);
    report.SetSleeper(host.sleep);
    journal.SetSleeper(host.sleep);
    if (host.clock)
        report.SetClock(host.clock);
    m_failure = GetInstallFolder(&installFolder);
    script = JobScript(installFolder);
}

BatchRunContext::~BatchRunContext() = default;

bool BatchRunContext::Stop(const KvBatchFile& failed) {
    m_failure = failed.GetOpenFailure();
    queue.Close();
    report.Close();
    return false;
}

bool BatchRunContext::ReopenQueue() {
    if (!queue.Open("r+"))
        return Stop(queue);
    queue.Refresh();
    return true;
}

bool BatchRunContext::WriteNote(ReportText what, const CString& user, const CString& job) {
    if (!report.Open("a+"))
        return Stop(report);
    report.WriteNote(what, Printable(user), Printable(job));
    report.Close();
    return true;
}

BatchRun::BatchRun(KvBatchExecFile& queue, const BatchRunHost& host, BatchRunSettings settings)
    : m_context(queue, host, settings) {}

BatchRun::~BatchRun() = default;

bool BatchRun::Run() {
    if (!m_context.Failure().ok() || !Start())
        return false;
    for (;;) {
        Choice next = PickNext();
        bool going = true;
        switch (next.action) {
            case Action::kDone:
                m_context.queue.Close();
                Retire();
                return true;
            case Action::kSkip:
                going = Skip(next.position);
                break;
            case Action::kRun:
                going = RunJob(next.position);
                break;
            case Action::kTakeUp:
                going = TakeUp(next.position);
                break;
        }
        if (!going)
            return false;
        m_cursor = next.position;
    }
}

EngineOutcome BatchRun::RunWith(const BatchRunEngine& engine) {
    if (!Start())
        return EngineOutcome::kStopped;
    m_context.queue.Close();
    const EngineOutcome outcome = engine(m_context);
    m_context.queue.Close();
    if (outcome == EngineOutcome::kFinished) {
        if (!m_context.queue.Open("r+")) {
            m_context.Stop(m_context.queue);
            return EngineOutcome::kStopped;
        }
        m_context.queue.Read();
        m_context.queue.Close();
        Retire();
    }
    return outcome;
}

bool BatchRun::Start() {
    KvBatchExecFile& queue = m_context.queue;
    if (!KvFileSystem().Exists(queue.GetPath())) {
        // A new batch starts with a new report and an empty journal.
        m_context.report.Delete();
        m_context.journal.Remove();
        if (!queue.Rebuild())
            return m_context.Stop(queue);
    }
    if (!queue.Open("r+"))
        return m_context.Stop(queue);
    queue.Read();

    m_context.journal.Load();
    m_context.journal.SetLauncher(platform::CurrentProcessId());
    DropRecordsOfSettledEntries();
    // Not waited for on the disk: lost in a crash, this state is the one read
    // with the same records dropped again by the next launcher.
    m_context.journal.Save(false);

    // The entries an interrupted launcher left running, in queue order.
    std::vector<unsigned> running;
    unsigned position = 0;
    for (const KvBatchExecGamme& job : queue.Jobs()) {
        // A job that a cluster runs is the cluster engine's to watch.
        const JournalRecord* record = m_context.journal.Find(job.m_user, job.m_name, position);
        if (job.m_state == KvBatchExecGamme::kRunning &&
            (record == nullptr || record->clusterJob.empty()))
            running.push_back(position);
        ++position;
    }
    for (unsigned entry : running) {
        // An entry another program finished meanwhile needs nothing more.
        if (entry < queue.Jobs().GetCount() &&
            queue.Jobs().GetAt(static_cast<int>(entry))->m_state == KvBatchExecGamme::kRunning &&
            !TakeUp(entry))
            return false;
    }
    return true;
}

void BatchRun::DropRecordsOfSettledEntries() {
    // A record is kept only for an entry that is running, or waiting to run
    // again after an interruption (the record then counts its attempts).
    KvListeS<KvBatchExecGamme>& jobs = m_context.queue.Jobs();
    std::erase_if(m_context.journal.Records(), [&](const JournalRecord& record) {
        if (record.position >= jobs.GetCount())
            return true;
        const KvBatchExecGamme* job = jobs.GetAt(static_cast<int>(record.position));
        return job->m_user != record.user || job->m_name != record.name ||
               job->m_state == KvBatchExecGamme::kFinished;
    });
}

BatchRun::Choice BatchRun::PickNext() {
    KvListeS<KvBatchExecGamme>& jobs = m_context.queue.Jobs();
    const unsigned count = jobs.GetCount();
    Choice stuck{Action::kDone, 0};
    for (unsigned step = 0; step < count; ++step) {
        const unsigned index = (m_cursor + step) % count;
        KvBatchExecGamme* job = jobs.GetAt(static_cast<int>(index));
        if (job->m_state != KvBatchExecGamme::kWaiting)
            continue;
        if (job->m_wait != 0 && index == 0)
            job->m_wait = 0;  // the first entry never waits
        if (job->m_wait == 0)
            return {Action::kRun, index};
        const KvBatchExecGamme* previous = jobs.GetAt(static_cast<int>(index) - 1);
        if (previous->m_state == KvBatchExecGamme::kFinished)
            return {previous->m_status == KvBatchExecGamme::kFailed ? Action::kSkip : Action::kRun,
                    index};
        // Nothing of this launcher runs while it picks: a predecessor in
        // state 1 was set so by an interrupted run or another program.
        if (previous->m_state == KvBatchExecGamme::kRunning && stuck.action == Action::kDone)
            stuck = {Action::kTakeUp, index - 1};
    }
    // Every job left waits, each chain behind an entry in state 1 that no
    // launcher watches: that entry is taken up, so the run goes on.
    return stuck;
}

bool BatchRun::Skip(unsigned position) {
    KvBatchExecFile& queue = m_context.queue;
    KvBatchExecGamme* job = queue.Jobs().GetAt(static_cast<int>(position));
    job->m_state = KvBatchExecGamme::kFinished;
    job->m_status = KvBatchExecGamme::kFailed;
    queue.Save();
    KvBatchReportFile& report = m_context.report;
    if (!report.Open("a+"))
        return m_context.Stop(report);
    report.WriteJobStarted(Printable(job->m_user), Printable(job->m_name));
    report.WriteJobEnded(Printable(job->m_user), Printable(job->m_name));
    report.WriteJobSkipped();
    report.Close();
    if (m_context.journal.Erase(job->m_user, job->m_name, position))
        m_context.journal.Save();
    return true;
}

bool BatchRun::RunJob(unsigned position) {
    KvBatchExecFile& queue = m_context.queue;
    KvBatchExecGamme* job = queue.Jobs().GetAt(static_cast<int>(position));
    ListeUsers* users = queue.GetUsers();
    CUser* user = users != nullptr ? users->FindUser(job->m_user) : nullptr;
    if (user == nullptr) {
        // No launch and no report line.
        job->m_state = KvBatchExecGamme::kFinished;
        job->m_status = KvBatchExecGamme::kFailed;
        queue.Save();
        if (m_context.journal.Erase(job->m_user, job->m_name, position))
            m_context.journal.Save();
        return true;
    }
    const JournalRecord* previous = m_context.journal.Find(job->m_user, job->m_name, position);
    const int attempt = previous != nullptr ? previous->attempt + 1 : 1;
    JournalRecord kept = previous != nullptr ? *previous : JournalRecord{};
    JobRun run(m_context, position, job->m_user, job->m_name, user->GetJobLogPath(job->m_name));
    if (!run.Run(attempt, previous != nullptr ? &kept : nullptr))
        return false;
    return PauseAndRefresh();
}

bool BatchRun::TakeUp(unsigned position) {
    KvBatchExecFile& queue = m_context.queue;
    BatchJournal& journal = m_context.journal;
    KvBatchExecGamme* job = queue.Jobs().GetAt(static_cast<int>(position));
    const CString userName = job->m_user;
    const CString jobName = job->m_name;
    ListeUsers* users = queue.GetUsers();
    CUser* user = users != nullptr ? users->FindUser(userName) : nullptr;
    const JournalRecord* found = journal.Find(userName, jobName, position);
    // A copy: the journal's records move as it changes.
    const std::optional<JournalRecord> record =
        found != nullptr ? std::optional<JournalRecord>(*found) : std::nullopt;
    if (user == nullptr) {
        // As for any job of an unknown user: finished failed, no report line.
        job->m_state = KvBatchExecGamme::kFinished;
        job->m_status = KvBatchExecGamme::kFailed;
        queue.Save();
        if (journal.Erase(userName, jobName, position))
            journal.Save();
        return true;
    }
    JobRun run(m_context, position, userName, jobName, user->GetJobLogPath(jobName));

    if (record && record->process.id != 0 && m_context.host.isStillRunning(record->process)) {
        // Only the launcher died: the job is never started a second time.
        queue.Close();
        if (!m_context.WriteNote(kReportTakenOverRunning, userName, jobName))
            return false;
        return run.TakeOver(*record) && PauseAndRefresh();
    }
    if (record && record->launchMs != 0) {
        std::optional<std::int64_t> written =
            m_context.host.fileTimeMs(user->GetJobLogPath(jobName));
        if (written && *written >= record->launchMs) {
            queue.Close();
            if (!m_context.WriteNote(kReportTakenOverEnded, userName, jobName))
                return false;
            return run.RecordFromLog() && m_context.ReopenQueue();
        }
    }
    // Interrupted with its process. An entry without a record (set running
    // by another program, or left by a launcher without a journal) counts as
    // interrupted on its first attempt.
    const int attempt = record ? std::max(record->attempt, 1) : 1;
    if (attempt >= 2) {
        // A job that brings the machine down must not do so every night.
        queue.Close();
        if (!m_context.WriteNote(kReportInterruptedTwice, userName, jobName))
            return false;
        return run.FailWithEvent(ReportMessage(kEventInterruptedTwice)) && m_context.ReopenQueue();
    }
    // Back to waiting, in its place in the queue order; the record keeps the
    // attempt so that this job runs once more at most.
    JournalRecord again = record ? *record : JournalRecord{};
    again.user = userName;
    again.name = jobName;
    again.position = position;
    again.attempt = attempt;
    again.process = {};
    journal.Put(again);
    journal.Save();
    job->m_state = KvBatchExecGamme::kWaiting;
    job->m_status = KvBatchExecGamme::kFailed;
    queue.Save();
    queue.Close();
    if (!m_context.WriteNote(kReportRunAgain, userName, jobName))
        return false;
    return m_context.ReopenQueue();
}

bool BatchRun::PauseAndRefresh() {
    m_context.host.sleep(m_context.settings.pauseAfterJobMs);
    return m_context.ReopenQueue();
}

void BatchRun::Retire() {
    KvBatchExecFile& queue = m_context.queue;
    if (!queue.AllFinished()) {
        // An entry left running keeps the queue, the journal and the
        // project files.
        m_context.journal.Save();
        return;
    }
    KvFileSystem fileSystem;
    if (ListeUsers* users = queue.GetUsers()) {
        for (CUser& user : users->Users()) {
            CString project = user.GetBatchProjectPath();
            if (!fileSystem.Exists(project))
                continue;
            CString retired = user.GetBatchTempPath();
            if (fileSystem.Exists(retired))
                fileSystem.RemoveFile(retired);
            // SafeCopyFile never overwrites: should the old copy still be
            // there, the new one gets a numbered name.
            fileSystem.SafeCopyFile(project, retired);
            fileSystem.RemoveFile(project);
        }
    }
    platform::DeleteOneFile(queue.GetPath().str());
    m_context.journal.Remove();
}
