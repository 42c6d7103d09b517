#include "app/slurm_run.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "app/batch_exec_file.h"
#include "app/job_run.h"
#include "batchlog/fichier_log_batch.h"
#include "platform/current_process.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"
#include "platform/host_path.h"
#include "users/liste_users.h"

namespace {

using cluster::SlurmJobId;
using cluster::SlurmJobState;
using cluster::SlurmPhase;

std::optional<SlurmJobId> ParseJobId(const std::string& text) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long long value = std::stoull(text);
    if (value == 0 || value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<SlurmJobId>(value);
}

std::string TokenOf(const JournalRecord& record) {
    for (const auto& [key, value] : record.otherFields)
        if (key == kClusterTokenField)
            return value;
    return {};
}

void SetToken(JournalRecord& record, const std::string& token) {
    for (auto& [key, value] : record.otherFields)
        if (key == kClusterTokenField) {
            value = token;
            return;
        }
    record.otherFields.emplace_back(kClusterTokenField, token);
}

KvBatchExecGamme* EntryAt(KvBatchExecFile& queue, unsigned position) {
    if (position >= queue.Jobs().GetCount())
        return nullptr;
    return queue.Jobs().GetAt(static_cast<int>(position));
}

bool CanBePassed(const CString& user, const CString& job, const CString& installFolder) {
    return !FindUnpassableCharacter(user) && !FindUnpassableCharacter(job) &&
           !FindUnpassableCharacter(installFolder);
}

class ClusterRun {
  public:
    ClusterRun(BatchRunContext& context, ClusterClient& cluster, const ClusterRunSettings& settings)
        : m_context(context), m_cluster(cluster), m_settings(settings) {}

    EngineOutcome Run();

  private:
    // Takes up the records of a submitter that died: a submission that may
    // have reached Slurm is found again by its name.
    bool TakeUpSubmissions();
    // Finishes what needs no cluster (unknown users, names that cannot be
    // passed, waiters of failed predecessors) and submits the entries that
    // may be submitted, in queue order. kFinished here means "go on".
    EngineOutcome SubmitWaiting();
    // One query for every unsettled job; their outcomes recorded.
    EngineOutcome Watch();
    bool WriteScript();
    bool Submit(unsigned position, const KvBatchExecGamme& job, SlurmJobId afterOk);
    // The skipped block, and the entry finished failed.
    bool Skip(unsigned position);
    // The whole failed block for a Slurm job that ended without recording
    // its outcome, with one event in the job's log.
    bool FailFromCluster(unsigned position, const SlurmJobState& state);
    bool SaveJournal();
    EngineOutcome Unreachable(const std::string& what, const cluster::SlurmStatus& status);

    BatchRunContext& m_context;
    ClusterClient& m_cluster;
    const ClusterRunSettings& m_settings;
    std::string m_scriptPath;
    int m_queryFailures = 0;
    unsigned m_tokens = 0;
};

EngineOutcome ClusterRun::Unreachable(const std::string& what, const cluster::SlurmStatus& status) {
    m_context.queue.Close();
    if (m_settings.errorLine)
        m_settings.errorLine("the Slurm cluster cannot be reached (" + what + ": " +
                             status.message + "); the waiting jobs are left in the queue");
    return EngineOutcome::kLeftQueued;
}

bool ClusterRun::SaveJournal() {
    return m_context.journal.Save();
}

bool ClusterRun::WriteScript() {
    const CString path = m_context.queue.GetFolder() + kClusterScriptName;
    std::FILE* out = platform::OpenStream(path.str(), "wb");
    if (out == nullptr)
        return false;
    // The names arrive as arguments and are passed on as they are: nothing
    // here is ever parsed by a shell.
    const char text[] = "#!/bin/sh\nexec \"$@\"\n";
    const bool written = std::fwrite(text, 1, sizeof text - 1, out) == sizeof text - 1;
    const bool closed = std::fclose(out) == 0;
    m_scriptPath = platform::ToHostPath(path.str());
    return written && closed;
}

EngineOutcome ClusterRun::Run() {
    if (!WriteScript()) {
        m_context.queue.Close();
        if (m_settings.errorLine)
            m_settings.errorLine("the batch script cannot be written in \"" +
                                 m_context.queue.GetFolder().str() + "\"");
        return EngineOutcome::kLeftQueued;
    }
    if (!TakeUpSubmissions())
        return EngineOutcome::kLeftQueued;
    int idlePasses = 0;
    for (;;) {
        EngineOutcome submitted = SubmitWaiting();
        if (submitted != EngineOutcome::kFinished)
            return submitted;
        EngineOutcome watched = Watch();
        if (watched != EngineOutcome::kFinished)
            return watched;
        if (!m_context.ReopenQueue())
            return EngineOutcome::kStopped;
        const bool allFinished = m_context.queue.AllFinished();
        m_context.queue.Close();
        // Nothing left in Slurm's hands: every entry finished, or, seen
        // twice (an entry appended meanwhile is submitted by the pass in
        // between), the ones left wait for an entry that no launcher runs
        // (set running by another program): the next launcher takes that
        // up, and the queue stays on disk.
        if (m_context.journal.Records().empty() && (allFinished || ++idlePasses >= 2)) {
            platform::DeleteOneFile((m_context.queue.GetFolder() + kClusterScriptName).str());
            return EngineOutcome::kFinished;
        }
        if (!m_context.journal.Records().empty())
            idlePasses = 0;
        m_context.host.sleep(m_settings.pollMs);
    }
}

bool ClusterRun::TakeUpSubmissions() {
    std::vector<std::string> names;
    for (const JournalRecord& record : m_context.journal.Records())
        if (record.clusterJob == kClusterSubmitting && !TokenOf(record).empty())
            names.push_back(TokenOf(record));
    if (names.empty())
        return true;
    std::vector<SlurmJobState> found;
    cluster::SlurmStatus status = m_cluster.FindByName(names, &found);
    if (!status.ok()) {
        Unreachable("squeue", status);
        return false;
    }
    std::vector<SlurmJobId> extra;
    auto& records = m_context.journal.Records();
    for (auto it = records.begin(); it != records.end();) {
        if (it->clusterJob != kClusterSubmitting) {
            ++it;
            continue;
        }
        const std::string token = TokenOf(*it);
        bool adopted = false;
        for (const SlurmJobState& job : found) {
            if (job.name != token)
                continue;
            if (!adopted) {
                it->clusterJob = std::to_string(job.id);
                adopted = true;
            } else {
                extra.push_back(job.id);  // cannot happen with unique tokens
            }
        }
        // Never reached Slurm: the entry is submitted again.
        it = adopted ? it + 1 : records.erase(it);
    }
    if (!extra.empty())
        m_cluster.Cancel(extra);
    SaveJournal();
    return true;
}

EngineOutcome ClusterRun::SubmitWaiting() {
    if (!m_context.ReopenQueue())
        return EngineOutcome::kStopped;
    KvBatchExecFile& queue = m_context.queue;
    BatchJournal& journal = m_context.journal;
    ListeUsers* users = queue.GetUsers();
    bool queueChanged = false;
    struct Pending {
        unsigned position;
        KvBatchExecGamme job;
        SlurmJobId afterOk;
        bool afterPrevious;  // depends on the job submitted just before it
    };
    std::vector<Pending> toSubmit;
    std::set<unsigned> submitting;
    const unsigned count = queue.Jobs().GetCount();
    for (unsigned position = 0; position < count; ++position) {
        KvBatchExecGamme* job = EntryAt(queue, position);
        // A record without a cluster job is a local launch's (an
        // interrupted run taken up to run again): the submission replaces it.
        const JournalRecord* record = journal.Find(job->m_user, job->m_name, position);
        if (job->m_state != KvBatchExecGamme::kWaiting ||
            (record != nullptr && !record->clusterJob.empty()))
            continue;
        CUser* user = users != nullptr ? users->FindUser(job->m_user) : nullptr;
        if (user == nullptr) {
            // As in a local run: finished failed, no launch and no report line.
            job->m_state = KvBatchExecGamme::kFinished;
            job->m_status = KvBatchExecGamme::kFailed;
            queueChanged = true;
            continue;
        }
        if (!CanBePassed(job->m_user, job->m_name, m_context.installFolder)) {
            // Refused as the local run refuses it, before any submission: the
            // job run notices the names and fails the job with its event
            // without launching anything.
            if (queueChanged)
                queue.Save();
            JobRun refused(m_context, position, job->m_user, job->m_name,
                           user->GetJobLogPath(job->m_name));
            if (!refused.Run(1, nullptr) || !m_context.ReopenQueue())
                return EngineOutcome::kStopped;
            queueChanged = false;
            continue;
        }
        SlurmJobId afterOk = 0;
        bool afterPrevious = false;
        if (position > 0 && job->m_wait != 0) {
            const KvBatchExecGamme* previous = EntryAt(queue, position - 1);
            const JournalRecord* previousRecord =
                journal.Find(previous->m_user, previous->m_name, position - 1);
            if (previous->m_state == KvBatchExecGamme::kFinished) {
                if (previous->m_status == KvBatchExecGamme::kFailed) {
                    if (queueChanged)
                        queue.Save();
                    if (!Skip(position) || !m_context.ReopenQueue())
                        return EngineOutcome::kStopped;
                    queueChanged = false;
                    continue;
                }
                // It succeeded: this one runs at once.
            } else if (previousRecord != nullptr && ParseJobId(previousRecord->clusterJob)) {
                afterOk = *ParseJobId(previousRecord->clusterJob);
            } else if (submitting.count(position - 1) != 0) {
                afterPrevious = true;
            } else {
                continue;  // its predecessor is not in Slurm's hands
            }
        }
        toSubmit.push_back({position, *job, afterOk, afterPrevious});
        submitting.insert(position);
    }
    if (queueChanged)
        queue.Save();
    queue.Close();

    std::map<unsigned, SlurmJobId> ids;
    for (Pending& pending : toSubmit) {
        const SlurmJobId afterOk =
            pending.afterPrevious ? ids[pending.position - 1] : pending.afterOk;
        if (!Submit(pending.position, pending.job, afterOk))
            return EngineOutcome::kLeftQueued;
        const JournalRecord* record =
            journal.Find(pending.job.m_user, pending.job.m_name, pending.position);
        ids[pending.position] = *ParseJobId(record->clusterJob);
    }
    return EngineOutcome::kFinished;
}

bool ClusterRun::Submit(unsigned position, const KvBatchExecGamme& job, SlurmJobId afterOk) {
    // Unique to this submission: the launcher, the entry and the time.
    const std::string token = "torvane-" + std::to_string(platform::CurrentProcessId()) + "-" +
                              std::to_string(m_context.host.nowMs()) + "-" +
                              std::to_string(position) + "-" + std::to_string(++m_tokens);
    JournalRecord record;
    record.user = job.m_user;
    record.name = job.m_name;
    record.position = position;
    record.attempt = 1;
    record.clusterJob = kClusterSubmitting;
    SetToken(record, token);
    m_context.journal.Put(record);
    SaveJournal();

    cluster::SlurmSubmission submission;
    submission.script = m_scriptPath;
    submission.arguments = {m_settings.launcherPath,
                            kRunJobArgument,
                            m_context.queue.GetFolder().str(),
                            job.m_user.str(),
                            job.m_name.str(),
                            std::to_string(position),
                            token};
    // The job's output is the launcher's, which writes nothing worth keeping
    // on a node; a site may send it elsewhere.
    submission.options = {"--output=/dev/null"};
    submission.options.insert(submission.options.end(), m_settings.siteOptions.begin(),
                              m_settings.siteOptions.end());
    submission.afterOk = afterOk;
    submission.name = token;
    SlurmJobId id = 0;
    cluster::SlurmStatus status = m_cluster.Submit(submission, &id);
    if (!status.ok()) {
        // Nothing reached Slurm (or, after a time-out, a restart finds it by
        // its name): the record is dropped only when sbatch refused.
        if (status.error != cluster::SlurmError::kTimedOut) {
            m_context.journal.Erase(job.m_user, job.m_name, position);
            SaveJournal();
        }
        Unreachable("sbatch", status);
        return false;
    }
    m_context.journal.Find(job.m_user, job.m_name, position)->clusterJob = std::to_string(id);
    SaveJournal();
    return true;
}

EngineOutcome ClusterRun::Watch() {
    BatchJournal& journal = m_context.journal;
    std::vector<SlurmJobId> ids;
    for (const JournalRecord& record : journal.Records())
        if (std::optional<SlurmJobId> id = ParseJobId(record.clusterJob))
            ids.push_back(*id);
    std::vector<SlurmJobState> states;
    if (!ids.empty()) {
        cluster::SlurmStatus status = m_cluster.Query(ids, &states);
        if (!status.ok()) {
            if (++m_queryFailures > m_settings.queryFailuresAllowed)
                return Unreachable("squeue", status);
            return EngineOutcome::kFinished;
        }
        m_queryFailures = 0;
    }
    std::map<SlurmJobId, SlurmJobState> byId;
    for (const SlurmJobState& state : states) byId[state.id] = state;

    // Read after the query: a job that Slurm reports ended has written its
    // outcome by then, if it ever does.
    if (!m_context.ReopenQueue())
        return EngineOutcome::kStopped;
    KvBatchExecFile& queue = m_context.queue;
    std::vector<SlurmJobId> toCancel;
    bool journalChanged = false;
    std::vector<JournalRecord> records = journal.Records();
    for (const JournalRecord& record : records) {
        KvBatchExecGamme* job = EntryAt(queue, record.position);
        if (job == nullptr || job->m_user != record.user || job->m_name != record.name) {
            journal.Erase(record.user, record.name, record.position);
            journalChanged = true;
            continue;
        }
        std::optional<SlurmJobId> id = ParseJobId(record.clusterJob);
        if (!id && record.clusterJob.empty() && job->m_state == KvBatchExecGamme::kFinished) {
            journal.Erase(record.user, record.name, record.position);
            journalChanged = true;
        }
        if (!id || byId.count(*id) == 0)
            continue;
        const SlurmJobState& state = byId[*id];
        const bool ended =
            state.phase == SlurmPhase::kEnded || state.phase == SlurmPhase::kForgotten;
        if (job->m_state == KvBatchExecGamme::kFinished) {
            if (state.phase == SlurmPhase::kWaiting)
                toCancel.push_back(*id);  // finished by another program
            else if (!ended)
                continue;  // its node records it when it ends
            journal.Erase(record.user, record.name, record.position);
            journalChanged = true;
            continue;
        }
        if (!ended)
            continue;
        const bool dependencyFailed = state.state == "CANCELLED" &&
                                      state.reason == "DependencyNeverSatisfied" &&
                                      job->m_state == KvBatchExecGamme::kWaiting;
        if (!(dependencyFailed ? Skip(record.position) : FailFromCluster(record.position, state)))
            return EngineOutcome::kStopped;
        if (!m_context.ReopenQueue())
            return EngineOutcome::kStopped;
        journal.Erase(record.user, record.name, record.position);
        journalChanged = true;
    }
    queue.Close();
    if (!toCancel.empty())
        m_cluster.Cancel(toCancel);
    if (journalChanged)
        SaveJournal();
    return EngineOutcome::kFinished;
}

bool ClusterRun::Skip(unsigned position) {
    KvBatchExecFile& queue = m_context.queue;
    KvBatchExecGamme* job = EntryAt(queue, position);
    job->m_state = KvBatchExecGamme::kFinished;
    job->m_status = KvBatchExecGamme::kFailed;
    const CString user = job->m_user;
    const CString name = job->m_name;
    queue.Save();
    queue.Close();
    KvBatchReportFile& report = m_context.report;
    if (!report.Open("a+"))
        return m_context.Stop(report);
    report.WriteJobStarted(Printable(user), Printable(name));
    report.WriteJobEnded(Printable(user), Printable(name));
    report.WriteJobSkipped();
    report.Close();
    return true;
}

bool ClusterRun::FailFromCluster(unsigned position, const SlurmJobState& state) {
    KvBatchExecFile& queue = m_context.queue;
    KvBatchExecGamme* job = EntryAt(queue, position);
    const CString user = job->m_user;
    const CString name = job->m_name;
    job->m_state = KvBatchExecGamme::kFinished;
    job->m_status = KvBatchExecGamme::kFailed;
    queue.Save();
    queue.Close();

    ListeUsers* users = queue.GetUsers();
    CUser* owner = users != nullptr ? users->FindUser(user) : nullptr;
    const CString slurmState = state.state.empty() ? CString("FORGOTTEN") : CString(state.state);
    const CString event =
        CString::Formatted("Slurm job %lu ended %s (%s) without recording its outcome",
                           static_cast<unsigned long>(state.id), slurmState.c_str(),
                           state.reason.empty() ? "no reason given" : state.reason.c_str());
    m_context.log = std::make_unique<FichierLogBatch>();
    if (owner != nullptr) {
        const CString logPath = owner->GetJobLogPath(name);
        m_context.host.jobEvent(logPath, event);
        if (m_context.log->Load(logPath) != KvFile::kLoaded)
            m_context.log->m_eventList.Add(event);
    } else {
        m_context.log->m_eventList.Add(event);
    }
    KvBatchReportFile& report = m_context.report;
    if (!report.Open("a+"))
        return m_context.Stop(report);
    report.WriteJobStarted(Printable(user), Printable(name));
    report.WriteJobEnded(Printable(user), Printable(name));
    report.WriteJobResult(false);
    report.WriteJobSummary(*m_context.log);
    report.Close();
    return true;
}

}  // namespace

cluster::SlurmStatus SlurmClusterClient::Submit(const cluster::SlurmSubmission& job,
                                                cluster::SlurmJobId* id) {
    return cluster::SubmitJob(m_commands, job, id);
}

cluster::SlurmStatus SlurmClusterClient::Query(const std::vector<cluster::SlurmJobId>& ids,
                                               std::vector<cluster::SlurmJobState>* states) {
    return cluster::QueryJobs(m_commands, ids, states);
}

cluster::SlurmStatus SlurmClusterClient::FindByName(const std::vector<std::string>& names,
                                                    std::vector<cluster::SlurmJobState>* jobs) {
    return cluster::FindJobsByName(m_commands, names, jobs);
}

cluster::SlurmStatus SlurmClusterClient::Cancel(const std::vector<cluster::SlurmJobId>& ids) {
    return cluster::CancelJobs(m_commands, ids);
}

EngineOutcome RunOnCluster(BatchRunContext& context, ClusterClient& cluster,
                           const ClusterRunSettings& settings) {
    return ClusterRun(context, cluster, settings).Run();
}

int RunClusterJob(ListeUsers& users, const CString& folder, const CString& user, const CString& job,
                  const std::string& position, const std::string& token, const BatchRunHost& host,
                  const BatchRunSettings& settings, platform::Status& failure) {
    if (position.empty() || position.size() > 9 ||
        !std::all_of(position.begin(), position.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 1;
    const auto index = static_cast<unsigned>(std::stoul(position));
    KvBatchExecFile queue(folder, &users);
    BatchRunContext context(queue, host, settings);
    if (!context.Failure().ok()) {
        failure = context.Failure();
        return 1;
    }
    context.keepJournal = false;
    context.wholeBlocks = true;

    context.journal.Load();
    const JournalRecord* record = context.journal.Find(user, job, index);
    if (record == nullptr || TokenOf(*record) != token)
        return 1;  // not the submission this job was made for
    if (!queue.Open("r+"))
        return 1;
    queue.Read();
    KvBatchExecGamme* entry = EntryAt(queue, index);
    if (entry == nullptr || entry->m_user != user || entry->m_name != job) {
        queue.Close();
        return 1;
    }
    if (entry->m_state != KvBatchExecGamme::kWaiting) {
        // Already done (or taken by another program): its waiter follows
        // the outcome the queue holds.
        const bool succeeded = entry->m_state == KvBatchExecGamme::kFinished &&
                               entry->m_status == KvBatchExecGamme::kSucceeded;
        queue.Close();
        return succeeded ? 0 : 1;
    }
    CUser* owner = users.FindUser(user);
    if (owner == nullptr) {
        entry->m_state = KvBatchExecGamme::kFinished;
        entry->m_status = KvBatchExecGamme::kFailed;
        queue.Save();
        queue.Close();
        return 1;
    }
    JobRun run(context, index, user, job, owner->GetJobLogPath(job));
    if (!run.Run(1, nullptr))
        return 1;
    if (!queue.Open("r+"))
        return 1;
    queue.Read();
    entry = EntryAt(queue, index);
    const bool succeeded = entry != nullptr && entry->m_state == KvBatchExecGamme::kFinished &&
                           entry->m_status == KvBatchExecGamme::kSucceeded;
    queue.Close();
    return succeeded ? 0 : 1;
}
