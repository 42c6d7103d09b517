// The Slurm client: submitting a job, asking the state of many jobs, and
// cancelling, through Slurm's own commands (sbatch, squeue, scancel).
//
// The cluster folder holds what the launcher needs to hand its jobs to a
// workload manager instead of starting them itself; it knows nothing of the
// queue file or the report, so that the batch run decides what a job is and
// this folder only speaks Slurm. The commands are run through the host
// layer (platform/child_process.h), each argument passed as it is, never
// through a shell, and each under a time limit, so that a cluster that does
// not answer gives an error instead of a hang.
//
// Every call blocks for at most SlurmCommands::timeLimitMs per command.
// Errors name the command and carry Slurm's own message; an answer that does
// not parse is an error of its own, never a guess.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/child_process.h"

namespace cluster {

using SlurmJobId = std::uint32_t;

// Where the Slurm commands are and how they are run. The programs are looked
// up in PATH unless given with a "/"; `environment` is added to ours (a test
// cluster is reached through SLURM_CONF).
struct SlurmCommands {
    std::string sbatch = "sbatch";
    std::string squeue = "squeue";
    std::string scancel = "scancel";
    platform::EnvironmentEntries environment;
    std::uint32_t timeLimitMs = 60000;
};

enum class SlurmError {
    kNone,
    kCannotRun,      // the command could not be started (missing, not executable)
    kTimedOut,       // no answer within the time limit; the command was ended
    kRefused,        // the command ended with a non-zero status
    kDamagedAnswer,  // it succeeded but its output does not parse
    kBadRequest,     // refused before anything ran (a script path taken for an option)
};

struct SlurmStatus {
    SlurmError error = SlurmError::kNone;
    std::string message;  // e.g. "sbatch: error: Batch job submission failed: ..."
    bool ok() const { return error == SlurmError::kNone; }
};

// One job to submit: `script` is run on a compute node with `arguments`,
// each reaching it as one argument (the job's names go here, never into a
// shell command line). `options` are sbatch options, given before the
// client's own, in the order given (the site's first, then the caller's).
// With `afterOk` set the job starts only after that job completed
// successfully, and Slurm cancels it when that job fails instead
// (--dependency=afterok:<id> --kill-on-invalid-dep=yes).
// A job is never requeued (--no-requeue): one that lost its node ends, and
// it is never started a second time behind its submitter's back.
// `name` (--job-name) lets a submitter that died between sbatch and writing
// down the id find its job again (FindJobsByName); it must be 1 to 200
// printable ASCII characters without blanks, "," or "|".
struct SlurmSubmission {
    std::string script;
    std::vector<std::string> arguments;
    std::vector<std::string> options;
    SlurmJobId afterOk = 0;  // 0: no dependency
    std::string name;        // "": Slurm names the job after the script
};

// Where a job is, as the submitter needs to know it.
enum class SlurmPhase {
    kWaiting,    // pending, configuring, requeued, held
    kRunning,    // running, suspended, completing, or a state this client does not know
    kEnded,      // completed, failed, cancelled, timeout, node failure...
    kForgotten,  // Slurm no longer knows the job (ended longer ago than MinJobAge)
};

struct SlurmJobState {
    SlurmJobId id = 0;
    SlurmPhase phase = SlurmPhase::kForgotten;
    std::string state;   // Slurm's word: "COMPLETED", "NODE_FAIL"; "" when forgotten
    std::string reason;  // Slurm's reason: "DependencyNeverSatisfied", "None"
    std::string name;    // only from FindJobsByName
};

// sbatch --parsable; `id` is set on success.
SlurmStatus SubmitJob(const SlurmCommands& commands, const SlurmSubmission& job, SlurmJobId* id);

// The state of every job of `ids`, in the same order, from one squeue call
// (squeue --states=all, so that ended jobs that Slurm still keeps are seen).
// A job that Slurm does not know is kForgotten.
SlurmStatus QueryJobs(const SlurmCommands& commands, const std::vector<SlurmJobId>& ids,
                      std::vector<SlurmJobState>* states);

// Every job that Slurm still knows under one of `names` (as SlurmSubmission
// checks them), in Slurm's order, from one squeue call; a name may have
// several jobs, or none.
SlurmStatus FindJobsByName(const SlurmCommands& commands, const std::vector<std::string>& names,
                           std::vector<SlurmJobState>* jobs);

// scancel, one call for all of `ids`. Cancelling a job that has already
// ended, or that Slurm has forgotten, is not an error.
SlurmStatus CancelJobs(const SlurmCommands& commands, const std::vector<SlurmJobId>& ids);

// Site options (BATCHSLURMOPTIONS) split as the program splits a command
// line (platform/command_line.h): blanks separate, double quotes group.
std::vector<std::string> SplitSlurmOptions(std::string_view text);

// The parsers, exposed for tests on recorded answers.
namespace parse {
// The standard output of sbatch --parsable: "<id>" or "<id>;<cluster>".
bool SubmittedJobId(std::string_view out, SlurmJobId* id);
// The output of squeue --noheader --format=%i|%T|%r for `ids`; false with
// `error` set when a line does not parse.
bool QueueAnswer(std::string_view out, const std::vector<SlurmJobId>& ids,
                 std::vector<SlurmJobState>* states, std::string* error);
// The output of squeue --noheader --format=%i|%T|%j|%r: every job listed.
bool NamedQueueAnswer(std::string_view out, std::vector<SlurmJobState>* jobs, std::string* error);
SlurmPhase PhaseOf(std::string_view state);
bool IsJobName(std::string_view name);
}  // namespace parse

}  // namespace cluster
