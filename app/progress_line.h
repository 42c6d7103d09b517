// The line a person watching the console sees as each job ends, for example
// "[3/12] alice shaft.gam succeeded in 4m12s". Written only when standard
// output is a terminal (platform/console.h); a run whose output goes to a
// file, a pipe or a scheduled task prints exactly what it always has.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "containers/cstring.h"

struct JobProgress {
    unsigned position = 0;  // the entry's place in the queue, from 0
    unsigned total = 0;     // entries in the queue
    CString user;
    CString job;
    bool succeeded = false;
    // From the job's launch to its end; none for a job that was not launched
    // by a launcher that timed it.
    std::optional<std::int64_t> elapsedMs;
};

// "[position+1/total] user job succeeded|failed[ in DURATION]". Control
// characters in the names become "?", so that a name cannot drive the
// terminal.
std::string FormatProgressLine(const JobProgress& progress);
// "12s", "4m12s", "1h02m05s"; whole seconds, rounded down; never negative.
std::string FormatElapsed(std::int64_t milliseconds);

// Writes the line and a line end to standard output, at once.
void PrintProgressLine(const JobProgress& progress);
