// The status view (torvane-batch --status [--json]): a read-only look at the
// current user's batch for people and for programs, taken while a launcher
// may be working on it.
//
// It reads three things in the batch folder and changes none of them, nor
// creates any file:
//   - the launcher's lock file: one non-blocking exclusive open attempt tells
//     whether a launcher holds it (a missing lock file: none does);
//   - the queue, under the same exclusive open as every other program of the
//     suite, for one read, waiting a few seconds at most: a launcher that
//     wants the queue meanwhile waits for that one read only;
//   - the journal, for the launcher's process id and the running job's
//     launch time, attempt and cluster job id (read without a lock, as the
//     journal is always replaced whole).
// A cluster's own live view of its jobs is not asked for: the view shows the
// cluster job id the journal recorded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "containers/cstring.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "platform/status.h"

// How long the view waits for the queue in all before it gives up.
inline constexpr std::uint32_t kStatusQueueWaitMs = 3000;
// The exit status of a view that gave up on a queue held all that time.
inline constexpr int kStatusQueueBusyExitStatus = 3;

struct StatusEntry {
    CString user;
    CString job;
    int state = 0;   // the queue's number: 0 waiting, 1 running, 2 finished
    int status = 0;  // 1 succeeded, 0 failed; meaningful once finished
    bool wait = false;
    // From the journal, when it has a record of this entry.
    int attempt = 0;
    std::int64_t launchMs = 0;  // this attempt's launch, ms since 1970 UTC; 0: unknown
    platform::ProcessId process = 0;
    std::string clusterJob;
};

struct StatusCounts {
    unsigned total = 0, waiting = 0, running = 0, finished = 0, succeeded = 0, failed = 0;
    unsigned other = 0;  // states this view does not know (left by another program)
};

struct BatchStatus {
    CString folder;      // the batch folder, ending with a separator
    std::string engine;  // the BATCHENGINE setting, "local" when unset
    bool queueFound = false;
    bool launcherRunning = false;
    platform::ProcessId launcherPid = 0;  // 0 when no launcher runs or its id is unknown
    std::vector<StatusEntry> jobs;        // in queue order

    StatusCounts Counts() const;
    // The position of the running job: the entry in the running state that
    // was launched last (an interrupted night may leave others in that
    // state); nothing when none is running.
    std::optional<std::size_t> RunningJob() const;
};

enum class StatusOutcome {
    kRead,
    kQueueBusy,        // another program held the queue for the whole wait
    kQueueUnreadable,  // the queue exists but cannot be opened; `failure` says why
};

struct StatusRead {
    StatusOutcome outcome = StatusOutcome::kRead;
    BatchStatus status;  // complete when kRead
    platform::Status failure;
};

// Reads the batch in `folder` (Windows form, ending with a separator). The
// pauses while the queue is held go through `sleeper`.
StatusRead ReadBatchStatus(const CString& folder, const std::string& engine,
                           std::uint32_t maxWaitMs = kStatusQueueWaitMs,
                           const platform::Sleeper& sleeper = platform::RealSleeper());

// A few aligned lines for people, in the program's code page. Times are the
// local time stamps of the report.
std::string StatusText(const BatchStatus& status);
// One JSON object (see the README for its keys), text in UTF-8, ended by a
// line end.
std::string StatusJson(const BatchStatus& status);

// The whole --status command: reads, prints on `out` (or one line on `err`
// when the queue cannot be read) and gives the exit status: 0, 2 for a queue
// that cannot be opened, kStatusQueueBusyExitStatus for a busy one.
int ShowBatchStatus(const CString& folder, const std::string& engine, bool json,
                    std::FILE* out = stdout, std::FILE* err = stderr,
                    const platform::Sleeper& sleeper = platform::RealSleeper());
