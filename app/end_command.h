// The finish command: a machine setting, BATCHENDCOMMAND, naming a command
// line that is run once when a batch has ended (every entry finished and the
// batch retired; a run that found nothing queued counts, with totals of 0),
// so that a site can send itself the night's outcome every morning.
//
// It is started without a shell by the program's launch rules, in a process
// group of its own, with three variables in its environment:
//   TORVANE_REPORT          the report's path (a host path)
//   TORVANE_JOBS_SUCCEEDED  the number of entries that succeeded
//   TORVANE_JOBS_FAILED     the number that failed
// and is waited for under the job time limit (BATCHJOBTIMEOUT; none when 0),
// past which it is ended with every process it started. Any failure (it
// cannot be started, ends with a status other than 0, or reaches the limit)
// is one line on standard error and changes nothing else.
#pragma once

#include <cstdint>
#include <string>

#include "containers/cstring.h"

class KvBatchExecFile;

enum class EndCommandOutcome {
    kNotRun,       // no command set, or the batch has not ended
    kSucceeded,    // it ended with status 0
    kCannotStart,  // the program could not be started
    kFailed,       // it ended with another status
    kTimedOut,     // ended at the time limit
};

struct BatchTotals {
    unsigned succeeded = 0;
    unsigned failed = 0;
};

// Runs `commandLine` for a batch whose report is `reportPath` (Windows form)
// with `totals`, under `limitSeconds` (0: none). Failures are written to
// standard error, naming the command.
EndCommandOutcome RunEndCommand(const CString& commandLine, const CString& reportPath,
                                BatchTotals totals, std::uint32_t limitSeconds);

// After a run of `queue`: when every entry has finished and BATCHENDCOMMAND
// is set, runs it with the queue's totals under BATCHJOBTIMEOUT.
EndCommandOutcome RunBatchEndCommand(KvBatchExecFile& queue);
