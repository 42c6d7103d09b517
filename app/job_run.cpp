#include "app/job_run.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "app/batch_exec_file.h"
#include "app/batch_run.h"
#include "batchlog/fichier_log_batch.h"
#include "messages/catalogue.h"
#include "platform/timestamp.h"
#include "users/liste_users.h"

namespace {

// Why a job cannot be passed to the script, or empty when it can: its user
// or job name, or the installation folder, holds a character that the
// command line cannot carry intact.
CString UnpassableReason(const CString& user, const CString& job, const CString& installFolder) {
    struct Part {
        const char* what;
        const CString& text;
    };
    const Part parts[] = {
        {"the job name", job}, {"the user name", user}, {"the installation folder", installFolder}};
    for (const Part& part : parts) {
        if (std::optional<char> bad = FindUnpassableCharacter(part.text)) {
            CString reason;
            reason.Format(
                "job \"%s\" of user \"%s\" not started: %s holds the character %s, which "
                "the command line cannot pass intact",
                Printable(job).c_str(), Printable(user).c_str(), part.what,
                DescribeCharacter(*bad).c_str());
            return reason;
        }
    }
    return CString();
}

// The catalogue's "cannot start" text, a blank and the detail.
CString CannotStart(const CString& detail) {
    return g_userMessages.GetMessage(3, 12, 1, 1) + " " + detail;
}

// Starts the job's command line through the host's launcher, a launch
// failure going to `errors`. The launcher is a std::function that the host or
// a test supplies, so its interface allows a throw (a stand-in that breaks,
// the host out of memory while it builds the child's arguments); nothing has
// been started then that the run could wait for. The catch stays here, around
// that one call, and turns the throw into a result (nullopt), so that one
// broken launch fails its job instead of ending the night with the queue left
// in state 1.
std::optional<platform::LaunchResult> TryLaunch(const ProcessLauncher& launcher,
                                                const CString& commandLine,
                                                const platform::LaunchOptions& options,
                                                const ErrorSink& errors) {
    try {
        return Launch(commandLine, options, launcher, errors);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

JobRun::JobRun(BatchRunContext& context, unsigned position, CString user, CString job,
               CString logPath)
    : m_context(context),
      m_position(position),
      m_user(std::move(user)),
      m_job(std::move(job)),
      m_logPath(std::move(logPath)) {}

bool JobRun::Run(int attempt, const JournalRecord* previous) {
    KvBatchExecFile& queue = m_context.queue;
    const BatchRunHost& host = m_context.host;
    queue.Jobs().GetAt(static_cast<int>(m_position))->m_state = KvBatchExecGamme::kRunning;
    queue.Save();
    queue.Close();  // other programs now see the job running

    // Recorded before the launch, so that a launcher that dies from here on
    // leaves the attempt counted.
    JournalRecord record = previous != nullptr ? *previous : JournalRecord{};
    record.user = m_user;
    record.name = m_job;
    record.position = m_position;
    record.attempt = attempt;
    record.launchMs = host.nowMs();
    if (record.firstLaunchMs == 0)
        record.firstLaunchMs = record.launchMs;
    record.process = {};
    m_launchMs = record.launchMs;
    if (m_context.keepJournal) {
        m_context.journal.Put(record);
        m_context.journal.Save();
    }

    KvBatchReportFile& report = m_context.report;
    if (m_context.wholeBlocks) {
        m_startStamp = host.clock ? host.clock() : platform::NowStamp();
    } else {
        if (!report.Open("a+"))
            return m_context.Stop(report);
        report.WriteJobStarted(Printable(m_user), Printable(m_job));
        report.Close();
    }

    FichierLogBatch& log = *m_context.log;
    const CString unpassable = UnpassableReason(m_user, m_job, m_context.installFolder);
    if (!unpassable.IsEmpty()) {
        // Such a job is never launched: the command line would not carry its
        // names intact, and through the command interpreter it could run
        // something else. It fails with one event saying why; a fresh log
        // object keeps an older job's events out of its summary.
        m_context.log = std::make_unique<FichierLogBatch>();
        host.jobEvent(m_logPath, CannotStart(unpassable));
        // Windows cannot name a log after a job holding '"' or a control
        // character: the report then carries the event all the same.
        if (m_context.log->Load(m_logPath) != KvFile::kLoaded)
            m_context.log->m_eventList.Add(CannotStart(unpassable));
        return Record(false);
    }

    const CString commandLine = JobCommandLine(m_context.script, m_user, m_job);
    platform::LaunchOptions options;
    options.wait = false;
    options.ownGroup = true;
    // Held until the journal names it (below).
    options.held = true;
    const std::optional<platform::LaunchResult> launched =
        TryLaunch(host.launcher, commandLine, options, JobLogErrorSink(host, m_logPath));
    bool succeeded = false;
    if (!launched) {
        // No event: the launcher said nothing about why.
        log.Load(m_logPath);
    } else if (!launched->created) {
        // The launch has told the job's log why.
        log.Load(m_logPath);
        succeeded = log.m_simuOK;
    } else {
        // At once and without waiting for the disk (a power cut ends the
        // process anyway).
        record.process = {launched->id, launched->startTime};
        if (m_context.keepJournal) {
            m_context.journal.Put(record);
            m_context.journal.Save(false);
        }
        // Only now does the job run: a launcher killed before this point
        // leaves a record naming a process that never ran its script, and
        // the next launcher runs the job again instead of a second copy
        // running beside the first.
        const platform::Status released = host.release(launched->id);
        if (!released.ok()) {
            host.endGroup(record.process, 0);
            host.collect(launched->id);
            host.jobEvent(m_logPath, CannotStart(CString(released.message())));
            log.Load(m_logPath);
            return Record(false);
        }
        const Ending ending = Wait(record.process, record.launchMs);
        host.collect(launched->id);
        log.Load(m_logPath);
        succeeded = ending == Ending::kEnded && log.m_simuOK;
    }
    return Record(succeeded);
}

bool JobRun::TakeOver(const JournalRecord& record) {
    m_launchMs = record.launchMs;
    const Ending ending = Wait(record.process, record.launchMs);
    FichierLogBatch& log = *m_context.log;
    log.Load(m_logPath);
    return Record(ending == Ending::kEnded && log.m_simuOK);
}

bool JobRun::RecordFromLog() {
    FichierLogBatch& log = *m_context.log;
    log.Load(m_logPath);
    return Record(log.m_simuOK);
}

bool JobRun::FailWithEvent(const CString& event) {
    m_context.host.jobEvent(m_logPath, event);
    m_context.log->Load(m_logPath);
    return Record(false);
}

JobRun::Ending JobRun::Wait(const platform::ProcessIdentity& process, std::int64_t launchMs) {
    const BatchRunHost& host = m_context.host;
    const std::uint32_t limitSeconds = m_context.settings.timeLimitSeconds;
    if (limitSeconds == 0) {
        host.wait(process, platform::kNoTimeLimit);
        return Ending::kEnded;
    }
    const std::int64_t limitMs = std::int64_t{limitSeconds} * 1000;
    const std::int64_t elapsed = std::max<std::int64_t>(host.nowMs() - launchMs, 0);
    // kNoTimeLimit itself means none: a longer limit waits in steps.
    std::int64_t remaining = std::max<std::int64_t>(limitMs - elapsed, 0);
    for (;;) {
        const auto step = static_cast<std::uint32_t>(
            std::min<std::int64_t>(remaining, platform::kNoTimeLimit - 1));
        const platform::WaitOutcome outcome = host.wait(process, step);
        if (outcome != platform::WaitOutcome::kTimedOut)
            return Ending::kEnded;
        remaining -= step;
        if (remaining <= 0)
            break;
    }
    host.endGroup(process, kEndGraceMs);
    host.jobEvent(m_logPath,
                  ReportMessage(kEventTimeLimit) +
                      CString::Formatted("%lu", static_cast<unsigned long>(limitSeconds)));
    return Ending::kTimedOut;
}

bool JobRun::Record(bool succeeded) {
    KvBatchReportFile& report = m_context.report;
    if (!report.Open("a+"))
        return m_context.Stop(report);
    if (!m_startStamp.empty()) {
        // The whole block in this one open, its started line stamped with
        // the time the job started.
        const std::string startStamp = m_startStamp;
        report.SetClock([startStamp] { return startStamp; });
        report.WriteJobStarted(Printable(m_user), Printable(m_job));
        report.SetClock(m_context.host.clock);
    }
    report.WriteJobEnded(Printable(m_user), Printable(m_job));
    report.WriteJobResult(succeeded);
    report.WriteJobSummary(*m_context.log);
    report.Close();

    KvBatchExecFile& queue = m_context.queue;
    if (!m_context.ReopenQueue())
        return false;
    if (m_position < queue.Jobs().GetCount()) {
        KvBatchExecGamme* job = queue.Jobs().GetAt(static_cast<int>(m_position));
        job->m_state = KvBatchExecGamme::kFinished;
        job->m_status = succeeded ? KvBatchExecGamme::kSucceeded : KvBatchExecGamme::kFailed;
        queue.Save();
    }
    const auto total = static_cast<unsigned>(queue.Jobs().GetCount());
    queue.Close();
    // The queue on the disk already says the entry finished, and a record of
    // a finished entry is dropped when the journal is read: this save need
    // not wait for the disk.
    if (m_context.keepJournal && m_context.journal.Erase(m_user, m_job, m_position))
        m_context.journal.Save(false);
    if (m_context.host.jobEnded) {
        JobProgress progress{m_position, total, m_user, m_job, succeeded, std::nullopt};
        if (m_launchMs)
            progress.elapsedMs = m_context.host.nowMs() - *m_launchMs;
        m_context.host.jobEnded(progress);
    }
    return true;
}

ErrorSink JobLogErrorSink(const BatchRunHost& host, CString logPath) {
    return [&host, logPath = std::move(logPath)](const CString& message) {
        host.jobEvent(logPath, message);
    };
}

QueuedJobResult RunQueuedJob(KvBatchExecFile& queue, unsigned position, const BatchRunHost& host,
                             const BatchRunSettings& settings, platform::Status& failure) {
    BatchRunContext context(queue, host, settings);
    if (!context.Failure().ok()) {
        failure = context.Failure();
        return QueuedJobResult::kFileFailure;
    }
    if (!queue.Open("r+")) {
        failure = queue.GetOpenFailure();
        return QueuedJobResult::kFileFailure;
    }
    queue.Read();
    if (position >= queue.Jobs().GetCount() ||
        queue.Jobs().GetAt(static_cast<int>(position))->m_state != KvBatchExecGamme::kWaiting) {
        queue.Close();
        return QueuedJobResult::kNotWaiting;
    }
    KvBatchExecGamme* job = queue.Jobs().GetAt(static_cast<int>(position));
    ListeUsers* users = queue.GetUsers();
    CUser* user = users != nullptr ? users->FindUser(job->m_user) : nullptr;
    if (user == nullptr) {
        job->m_state = KvBatchExecGamme::kFinished;
        job->m_status = KvBatchExecGamme::kFailed;
        queue.Save();
        queue.Close();
        return QueuedJobResult::kUnknownUser;
    }
    context.journal.Load();
    const JournalRecord* found = context.journal.Find(job->m_user, job->m_name, position);
    const std::optional<JournalRecord> previous =
        found != nullptr ? std::optional<JournalRecord>(*found) : std::nullopt;
    JobRun run(context, position, job->m_user, job->m_name, user->GetJobLogPath(job->m_name));
    if (!run.Run(previous ? previous->attempt + 1 : 1, previous ? &*previous : nullptr)) {
        failure = context.Failure();
        return QueuedJobResult::kFileFailure;
    }
    return QueuedJobResult::kRecorded;
}
