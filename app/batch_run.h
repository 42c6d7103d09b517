// The batch run: every queued job, one at a time, in queue order, and an
// unattended run that always comes to an end.
//
// BatchRun drives one run over a queue file (KvBatchExecFile, whose RunBatch
// is the program's entry into it) in named steps: start (rebuild a missing
// queue, read it, take up the jobs an interrupted launcher left running),
// pick the next job, skip a job whose predecessor failed, run a job (JobRun,
// job_run.h), reopen-and-refresh the queue after each job, and retire the
// batch project files once every job has finished.
//
// The queue file is held only while it is read or written and re-read after
// every reopen, so that edits by the simulator's tools made while it was
// closed are taken over. A job whose predecessor must succeed first is passed
// over while that predecessor has not finished, and skipped once it has
// failed.
//
// An entry in state 1 (running) that this launcher did not start belongs to
// an interrupted run: the single-launcher lock proves that no other launcher
// runs this queue. Such entries are taken up at the start, and during the run
// as soon as the only jobs left wait for one of them (another program set it
// running), so the run never waits for ever. The batch journal
// (batch_journal.h) tells what became of each: its process still runs (it is
// waited for, under the time limit counted from its launch), it ended and
// wrote its log after its launch (that outcome is recorded), or it is run
// again from the start in its place; a job interrupted on its second attempt
// fails instead. Each case is one note in the report.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/batch_file.h"
#include "app/batch_journal.h"
#include "app/batch_report_file.h"
#include "app/launch.h"
#include "app/progress_line.h"
#include "containers/cstring.h"
#include "platform/process.h"
#include "platform/sleep.h"

class FichierLogBatch;
class KvBatchExecFile;

// What the batch run needs from the host, replaceable in tests. Every member
// has the real host's behaviour by default.
struct BatchRunHost {
    // The pauses: after each job (BatchRunSettings), and 500 ms between
    // attempts to open a busy file.
    platform::Sleeper sleep = platform::RealSleeper();
    // Starts a job's script; called without waiting and with its own group.
    // One that throws has started nothing: the job fails, with no event.
    ProcessLauncher launcher = HostProcessLauncher();
    // The time stamp of the report lines; empty means the local time.
    std::function<std::string()> clock;

    // The job processes, as platform/process.h describes them.
    std::function<bool(const platform::ProcessIdentity&)> isStillRunning;
    std::function<platform::WaitOutcome(const platform::ProcessIdentity&, std::uint32_t)> wait;
    // Lets a job launched held run (platform::ReleaseLaunched).
    std::function<platform::Status(platform::ProcessId)> release;
    // Collects a process this launcher started once it has ended
    // (platform::WaitForLaunched).
    std::function<void(platform::ProcessId)> collect;
    std::function<bool(const platform::ProcessIdentity&, std::uint32_t)> endGroup;
    // Milliseconds since 1970 UTC, and a file's modification time on that
    // clock (nullopt: no such file).
    std::function<std::int64_t()> nowMs;
    std::function<std::optional<std::int64_t>(const CString&)> fileTimeMs;
    // Appends an event to the batch log at `logPath`: how the launcher tells
    // a job's owner why the job failed without running (its log is all they
    // read after an unattended night).
    std::function<void(const CString& logPath, const CString& message)> jobEvent;
    // Told of each job that ran as its outcome is recorded; empty (the
    // default) tells no one. The program sets it when its output is a
    // terminal (progress_line.h).
    std::function<void(const JobProgress&)> jobEnded;

    BatchRunHost();
};

// The machine settings of a run, under the product key of the machine's
// settings.
struct BatchRunSettings {
    // BATCHJOBTIMEOUT: a job still running this many seconds after its launch
    // is ended with every process it started and fails. 0: no limit.
    std::uint32_t timeLimitSeconds = 0;
    // BATCHJOBPAUSE: the pause after each job, in milliseconds, which leaves
    // the queue and the report to other programs for a moment.
    std::uint32_t pauseAfterJobMs = 2000;
};

// Reads BATCHJOBTIMEOUT (seconds; a decimal string or a DWORD; missing, 0 or
// not a number: no limit) and BATCHJOBPAUSE (milliseconds, the same forms;
// missing or not a number: 2000).
BatchRunSettings ReadBatchRunSettings();
// A setting's number from its stored form: a DWORD (4 bytes, little-endian)
// or a string of decimal digits, blanks around allowed; nullopt otherwise.
std::optional<std::uint32_t> ParseSettingNumber(const char* data, std::size_t size,
                                                std::uint32_t type);

// The grace that the processes of a job past its time limit get between the
// polite request to end and the forced end.
inline constexpr std::uint32_t kEndGraceMs = 3000;

// Everything one run works with, passed to each step and to JobRun: the
// queue and its folder's report and journal, the host, the settings, the
// script, and the one log object into which each finished job's log is read.
class BatchRunContext {
  public:
    BatchRunContext(KvBatchExecFile& queue, const BatchRunHost& host, BatchRunSettings settings);
    ~BatchRunContext();
    BatchRunContext(const BatchRunContext&) = delete;
    BatchRunContext& operator=(const BatchRunContext&) = delete;

    KvBatchExecFile& queue;
    const BatchRunHost& host;
    const BatchRunSettings settings;
    KvBatchReportFile report;
    BatchJournal journal;
    // False for a run of one job beside its submitter (a cluster node): the
    // journal then belongs to the submitter alone, which keeps it, and the
    // job's records are not written.
    bool keepJournal = true;
    // True where jobs run at the same time (a cluster): a job's whole block,
    // its started line stamped with the time it started, is appended in one
    // open of the report when it ends, so that blocks never interleave.
    bool wholeBlocks = false;
    CString installFolder;
    CString script;
    // One log object for the whole run: a job whose log cannot be read
    // reports what the previous job's log held, as it always has.
    std::unique_ptr<FichierLogBatch> log;

    // Records the failure of an open that waiting cannot cure and closes both
    // files; always false, so that a step can `return Stop(file)`.
    bool Stop(const KvBatchFile& failed);
    // Opens the queue "r+" and re-reads it; false (after Stop) when it cannot
    // be opened.
    bool ReopenQueue();
    // Opens the report "a+" and appends one note: <stamp> -> (4)"user"(what)"job".
    bool WriteNote(ReportText what, const CString& user, const CString& job);
    // Ok unless a step stopped, or the install folder could not be read
    // (SettingsMissing: the run then does nothing).
    const platform::Status& Failure() const { return m_failure; }

  private:
    platform::Status m_failure;
};

// What a run handed to another engine (RunWith) came to.
enum class EngineOutcome {
    kFinished,    // every entry finished: the batch is retired
    kStopped,     // a file could not be opened, or the settings cannot be read (the
                  // context's Failure says which)
    kLeftQueued,  // the engine gave up (its reason told): entries left as they are
};
// Runs the queue's jobs in place of the launcher's own loop, after the run's
// start; the queue is closed when it is called and must be on return.
using BatchRunEngine = std::function<EngineOutcome(BatchRunContext&)>;

class BatchRun {
  public:
    BatchRun(KvBatchExecFile& queue, const BatchRunHost& host, BatchRunSettings settings);
    ~BatchRun();

    // Runs every queued job, one at a time, and retires the batch project
    // files once every job has finished. False when the run had to stop
    // because a file could not be opened for a reason waiting cannot cure,
    // or before it began because the settings cannot be read (Failure says
    // which); nothing else has been touched after that moment.
    bool Run();
    // The same start (entries that an interrupted launcher left running are
    // taken up, except those a cluster runs, whose records name the cluster
    // job), then `engine` in place of the one-at-a-time loop, then the
    // retirement when it finished.
    EngineOutcome RunWith(const BatchRunEngine& engine);
    const platform::Status& Failure() const { return m_context.Failure(); }

  private:
    enum class Action { kRun, kSkip, kTakeUp, kDone };
    struct Choice {
        Action action = Action::kDone;
        unsigned position = 0;
    };

    // A missing queue is rebuilt (with a new report and journal); the queue
    // is read and the entries left running are taken up.
    bool Start();
    // The next thing to do, from the cursor on: a job that may run, a job to
    // skip, an entry in state 1 that the waiting jobs are stuck behind, or
    // nothing left.
    Choice PickNext();
    bool Skip(unsigned position);
    // Runs the job, or finishes it failed, without a launch or report line,
    // when its user is unknown.
    bool RunJob(unsigned position);
    // One entry found in state 1 that this launcher did not start.
    bool TakeUp(unsigned position);
    // After a job: the pause, then the queue opened and re-read.
    bool PauseAndRefresh();
    // Every job finished: the users' batch project files are retired and the
    // queue and the journal deleted.
    void Retire();
    void DropRecordsOfSettledEntries();

    BatchRunContext m_context;
    unsigned m_cursor = 0;
};
