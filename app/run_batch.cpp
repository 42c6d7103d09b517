// The batch run: every queued job, one at a time, in queue order.
//
// The queue file is held only while it is read or written and re-read
// (Refresh) after every reopen, so that edits by the simulator's tools made
// while it was closed are taken over. A job whose predecessor must succeed
// first is passed over while that predecessor has not finished, and skipped
// once it has failed; the cursor wraps around until no job is waiting. Only
// when every job has finished are the users' batch project files retired and
// the queue deleted: a job left running by an interrupted run keeps both.
#include <memory>
#include <string>

#include "app/batch_exec_file.h"
#include "app/batch_report_file.h"
#include "app/install_paths.h"
#include "app/launch.h"
#include "batchlog/fichier_log_batch.h"
#include "fsutil/file_system.h"
#include "messages/catalogue.h"
#include "platform/file_ops.h"
#include "users/liste_users.h"

namespace {

constexpr std::uint32_t kPredecessorPollMs = 1000;
constexpr std::uint32_t kAfterJobMs = 2000;

// Names as the report and the events show them: a control character (which
// only a hostile name holds) would break the line, so it shows as "?".
CString Printable(const CString& text) {
    std::string shown = text.str();
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return CString(shown);
}

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

}  // namespace

bool KvBatchExecFile::RunBatch(const BatchRunHost& host) {
    m_runFailure = OpenFailure{};
    SetSleeper(host.sleep);
    KvBatchReportFile report(m_folder + "batchreport.txt");
    report.SetSleeper(host.sleep);
    if (host.clock)
        report.SetClock(host.clock);
    const CString installFolder = GetInstallFolder();
    const CString script = JobScript(installFolder);
    // One log object for the whole run: a job whose log cannot be read
    // reports what the previous job's log held, as it always has.
    auto log = std::make_unique<FichierLogBatch>();
    KvFileSystem fileSystem;

    // An open that waiting cannot cure stops the run where it stands.
    auto stop = [&](const KvBatchFile& failed) {
        m_runFailure = failed.GetOpenFailure();
        Close();
        report.Close();
        return false;
    };
    auto openReport = [&]() { return report.Open("a+"); };

    if (!fileSystem.Exists(GetPath())) {
        // A new batch starts with a new report.
        report.Delete();
        if (!Rebuild())
            return stop(*this);
    }
    if (!Open("r+"))
        return stop(*this);
    Read();

    unsigned index = 0;
    auto advance = [&]() { index = index + 1 < m_jobs.GetCount() ? index + 1 : 0; };

    while (!AllStarted()) {
        // Refresh may have appended entries but never removes any, so the
        // cursor always names an entry here.
        if (index >= m_jobs.GetCount())
            index = 0;
        KvBatchExecGamme* job = m_jobs.GetAt(static_cast<int>(index));
        if (job->m_state != KvBatchExecGamme::kWaiting) {
            advance();
            continue;
        }
        if (job->m_wait != 0 && index == 0)
            job->m_wait = 0;  // the first entry never waits
        if (job->m_wait != 0) {
            const KvBatchExecGamme* previous = m_jobs.GetAt(static_cast<int>(index) - 1);
            if (previous->m_state != KvBatchExecGamme::kFinished) {
                advance();
                Save();
                Close();
                host.sleep(kPredecessorPollMs);
                if (!Open("r+"))
                    return stop(*this);
                Refresh();
                continue;
            }
            if (previous->m_status == KvBatchExecGamme::kFailed) {
                job->m_state = KvBatchExecGamme::kFinished;
                job->m_status = KvBatchExecGamme::kFailed;
                Save();
                if (!openReport())
                    return stop(report);
                report.WriteJobStarted(Printable(job->m_user), Printable(job->m_name));
                report.WriteJobEnded(Printable(job->m_user), Printable(job->m_name));
                report.WriteJobSkipped();
                report.Close();
                advance();
                continue;
            }
        }

        job->m_state = KvBatchExecGamme::kRunning;
        CUser* user = m_users != nullptr ? m_users->FindUser(job->m_user) : nullptr;
        if (user == nullptr) {
            // No launch and no report line; the next pass finds the entry
            // finished and moves on.
            job->m_state = KvBatchExecGamme::kFinished;
            job->m_status = KvBatchExecGamme::kFailed;
            Save();
            continue;
        }
        Save();
        Close();  // other programs now see the job running

        const CString userName = job->m_user;
        const CString jobName = job->m_name;
        const CString logPath = user->GetJobLogPath(jobName);
        g_currentJobLogPath = logPath;
        if (!openReport())
            return stop(report);
        report.WriteJobStarted(Printable(userName), Printable(jobName));
        report.Close();

        bool succeeded = false;
        const CString unpassable = UnpassableReason(userName, jobName, installFolder);
        if (!unpassable.IsEmpty()) {
            // Such a job is never launched: the command line would not carry
            // its names intact, and through the command interpreter it could
            // run something else. It fails with one event saying why; a fresh
            // log object keeps an older job's events out of its summary.
            log = std::make_unique<FichierLogBatch>();
            ReportError(1, 1, unpassable);
            // Windows cannot name a log after a job holding '"' or a control
            // character: the report then carries the event all the same.
            if (log->Load(logPath) != 0)
                *log->m_eventList.NewElement() =
                    g_userMessages.GetMessage(3, 12, 1, 1) + " " + unpassable;
        } else {
            try {
                LaunchProcess(JobCommandLine(script, userName, jobName), 1, 0, nullptr, 1,
                              host.launcher);
                log->Load(logPath);
                succeeded = log->m_simuOK;
            } catch (...) {
                log->Load(logPath);
                succeeded = false;
            }
        }

        if (!openReport())
            return stop(report);
        report.WriteJobEnded(Printable(userName), Printable(jobName));
        report.WriteJobResult(succeeded);
        report.WriteJobSummary(*log);
        report.Close();

        if (!Open("r+"))
            return stop(*this);
        Refresh();
        job = m_jobs.GetAt(static_cast<int>(index));
        job->m_state = KvBatchExecGamme::kFinished;
        job->m_status = succeeded ? KvBatchExecGamme::kSucceeded : KvBatchExecGamme::kFailed;
        Save();
        Close();
        host.sleep(kAfterJobMs);
        if (!Open("r+"))
            return stop(*this);
        Refresh();
    }

    Close();
    if (!AllFinished())
        return true;  // a job left running keeps the queue and the project files
    if (m_users != nullptr) {
        for (CUser& user : m_users->Users()) {
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
    platform::DeleteOneFile(GetPath().str());
    return true;
}
