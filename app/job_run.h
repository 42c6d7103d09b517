// One job of the queue, run and recorded: the piece of the batch run that
// also runs on its own (a cluster node runs one job of a queue at a time).
//
// JobRun works on one queue entry through the run's context: the queue, the
// report and the journal are opened exclusively and for short moments, as by
// the whole run. Run takes the road of a new launch: the entry saved in state
// 1 and its journal record written, the started line, the script launched for
// the user and job in a process group of its own, the wait under the time
// limit, the log read, then the ended, result and summary lines, the entry
// saved in state 2 with its status and its journal record removed. The other
// operations end a job that an earlier launcher left running, with the same
// records.
//
// On entry the queue is open and freshly read; on return it is closed. Each
// operation answers false when a file could not be opened for a reason that
// waiting cannot cure (the context's Failure says which).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/batch_file.h"
#include "app/batch_journal.h"
#include "app/launch.h"
#include "containers/cstring.h"
#include "platform/process.h"

class BatchRunContext;
class KvBatchExecFile;
struct BatchRunHost;
struct BatchRunSettings;

class JobRun {
  public:
    // The entry at `position`, its user and job names as the queue holds
    // them, and the job's log (the user's GetJobLogPath).
    JobRun(BatchRunContext& context, unsigned position, CString user, CString job, CString logPath);

    // Launches the job as its `attempt`-th attempt (1 for a new job) and
    // records its outcome. `previous`, when not null, is the record of the
    // interrupted attempt: its first launch time and cluster id are kept.
    bool Run(int attempt, const JournalRecord* previous);
    // Waits for the process of `record`, which an earlier launcher started and
    // which still runs, under the time limit counted from its launch, and
    // records its outcome as if this launcher had started it.
    bool TakeOver(const JournalRecord& record);
    // The job ended while no launcher watched it: records the outcome its log
    // holds.
    bool RecordFromLog();
    // Fails the job without launching it: `event` is appended to its log and
    // the usual ended, result and summary lines follow.
    bool FailWithEvent(const CString& event);

  private:
    enum class Ending { kEnded, kTimedOut };
    // Waits for `process`, launched at `launchMs`, under the time limit; a
    // process past it is ended with its whole group.
    Ending Wait(const platform::ProcessIdentity& process, std::int64_t launchMs);
    // The log read into the run's log object, then the report's ended,
    // result and summary lines, the entry finished with `succeeded` and its
    // journal record removed.
    bool Record(bool succeeded);

    BatchRunContext& m_context;
    unsigned m_position;
    CString m_user;
    CString m_job;
    CString m_logPath;
    // The started line's stamp, kept for a whole block (wholeBlocks).
    std::string m_startStamp;
    // When the job's process was launched, for the progress line.
    std::optional<std::int64_t> m_launchMs;
};

// The error sink of a running job: each text becomes an event appended to the
// job's log at `logPath` (host.jobEvent), so that a launch that fails while
// nobody watches is told to the job's owner and shows no message box. The
// sink refers to `host`, which must outlive it.
ErrorSink JobLogErrorSink(const BatchRunHost& host, CString logPath);

// What RunQueuedJob did.
enum class QueuedJobResult {
    kRecorded,     // the job ran (or failed to start) and its outcome is recorded
    kNotWaiting,   // no entry at that position, or it is not waiting: nothing done
    kUnknownUser,  // finished failed without a launch, as in a whole run
    kFileFailure,  // a file could not be opened, or the settings cannot be read:
                   // `failure` says which, nothing was touched
};

// One job of `queue` on its own, for a process that runs just that job: the
// queue is opened and read, and the entry at `position`, when it is waiting,
// is run as its next attempt (the journal counts them) and recorded. The
// queue is closed on return.
QueuedJobResult RunQueuedJob(KvBatchExecFile& queue, unsigned position, const BatchRunHost& host,
                             const BatchRunSettings& settings, platform::Status& failure);
