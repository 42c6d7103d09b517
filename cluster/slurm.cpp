#include "cluster/slurm.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "platform/command_line.h"

namespace cluster {
namespace {

// squeue's answer for a single job id that it does not know: an error
// status, where for several ids it leaves the unknown ones out.
constexpr std::string_view kUnknownJobId = "Invalid job id specified";

// A command line is one argument of at most 128 KiB on Linux: longer id
// lists are asked in several calls.
constexpr std::size_t kIdsPerQuery = 4000;

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Slurm's message from a command's error output: its lines joined, so that
// it fits the one line of an event or of standard error.
std::string OneLine(std::string_view text) {
    std::string line;
    for (char c : Trim(text)) {
        if (c == '\r')
            continue;
        if (c == '\n')
            line += "; ";
        else
            line += c;
    }
    return line;
}

std::string Shorten(std::string_view text) {
    constexpr std::size_t kMax = 200;
    std::string line = OneLine(text);
    if (line.size() > kMax)
        line = line.substr(0, kMax) + "...";
    return line;
}

SlurmStatus Fail(SlurmError error, std::string message) {
    return SlurmStatus{error, std::move(message)};
}

std::string CommandName(const std::string& program) {
    std::size_t slash = program.find_last_of("/\\");
    return slash == std::string::npos ? program : program.substr(slash + 1);
}

// Runs a Slurm command and turns what can go wrong into a status naming it.
SlurmStatus Run(const SlurmCommands& commands, const std::string& program,
                const std::vector<std::string>& arguments, platform::CapturedRun* run) {
    std::string name = CommandName(program);
    *run = platform::RunAndCapture(program, arguments, commands.environment, commands.timeLimitMs);
    if (!run->started)
        return Fail(SlurmError::kCannotRun, "cannot run " + name + ": " + run->reason);
    if (run->timedOut)
        return Fail(SlurmError::kTimedOut, name + " did not answer within " +
                                               std::to_string(commands.timeLimitMs / 1000) + " s");
    if (run->exitCode != 0) {
        std::string said = OneLine(run->err);
        if (said.empty())
            said = OneLine(run->out);
        return Fail(SlurmError::kRefused, name + " failed (exit status " +
                                              std::to_string(run->exitCode) + ")" +
                                              (said.empty() ? "" : ": " + said));
    }
    return {};
}

std::string JoinIds(std::vector<SlurmJobId>::const_iterator first,
                    std::vector<SlurmJobId>::const_iterator last) {
    std::string list;
    for (auto it = first; it != last; ++it) {
        if (!list.empty())
            list += ',';
        list += std::to_string(*it);
    }
    return list;
}

bool ParseId(std::string_view text, SlurmJobId* id) {
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > 0xFFFFFFFFu)
        return false;
    *id = static_cast<SlurmJobId>(value);
    return true;
}

bool IsStateWord(std::string_view state) {
    return !state.empty() && std::all_of(state.begin(), state.end(),
                                         [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
}

}  // namespace

namespace parse {

bool SubmittedJobId(std::string_view out, SlurmJobId* id) {
    std::string_view line = Trim(out);
    if (line.find('\n') != std::string_view::npos)
        return false;
    // "<id>;<cluster>" on a federation or with --clusters.
    return ParseId(line.substr(0, line.find(';')), id);
}

SlurmPhase PhaseOf(std::string_view state) {
    static const std::map<std::string_view, SlurmPhase> kPhases = {
        {"PENDING", SlurmPhase::kWaiting},     {"CONFIGURING", SlurmPhase::kWaiting},
        {"REQUEUED", SlurmPhase::kWaiting},    {"REQUEUE_HOLD", SlurmPhase::kWaiting},
        {"REQUEUE_FED", SlurmPhase::kWaiting}, {"RESV_DEL_HOLD", SlurmPhase::kWaiting},
        {"COMPLETED", SlurmPhase::kEnded},     {"FAILED", SlurmPhase::kEnded},
        {"CANCELLED", SlurmPhase::kEnded},     {"TIMEOUT", SlurmPhase::kEnded},
        {"NODE_FAIL", SlurmPhase::kEnded},     {"OUT_OF_MEMORY", SlurmPhase::kEnded},
        {"PREEMPTED", SlurmPhase::kEnded},     {"BOOT_FAIL", SlurmPhase::kEnded},
        {"DEADLINE", SlurmPhase::kEnded},      {"SPECIAL_EXIT", SlurmPhase::kEnded},
        {"REVOKED", SlurmPhase::kEnded},
    };
    auto found = kPhases.find(state);
    // RUNNING, COMPLETING, SUSPENDED, STOPPED, SIGNALING, STAGE_OUT, RESIZING
    // and any state of a later Slurm: the job is still in Slurm's hands, and
    // it is watched until it ends or is forgotten.
    return found != kPhases.end() ? found->second : SlurmPhase::kRunning;
}

bool IsJobName(std::string_view name) {
    return !name.empty() && name.size() <= 200 && std::all_of(name.begin(), name.end(), [](char c) {
        return c > ' ' && c < 0x7F && c != ',' && c != '|';
    });
}

// The lines of an squeue answer, "id|STATE|reason" or, `withName`,
// "id|STATE|name|reason"; false with `error` set at the first that does not
// parse.
bool QueueLines(std::string_view out, bool withName, std::vector<SlurmJobState>* jobs,
                std::string* error) {
    jobs->clear();
    std::size_t lineNumber = 0;
    while (!out.empty()) {
        std::size_t end = out.find('\n');
        if (end == std::string_view::npos) {
            *error = "the answer ends in the middle of a line";
            return false;
        }
        std::string_view line = out.substr(0, end);
        out.remove_prefix(end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::vector<std::string_view> fields;
        std::string_view rest = line;
        for (int i = withName ? 3 : 2; i > 0; --i) {
            std::size_t bar = rest.find('|');
            if (bar == std::string_view::npos)
                break;
            fields.push_back(rest.substr(0, bar));
            rest.remove_prefix(bar + 1);
        }
        SlurmJobState job;
        if (fields.size() != (withName ? 3u : 2u) || !ParseId(fields[0], &job.id) ||
            !IsStateWord(fields[1]) || (withName && !IsJobName(fields[2]))) {
            *error =
                "line " + std::to_string(lineNumber) + " does not parse: \"" + Shorten(line) + "\"";
            return false;
        }
        job.state = std::string(fields[1]);
        job.phase = PhaseOf(job.state);
        if (withName)
            job.name = std::string(fields[2]);
        job.reason = std::string(Trim(rest));
        jobs->push_back(std::move(job));
    }
    return true;
}

bool QueueAnswer(std::string_view out, const std::vector<SlurmJobId>& ids,
                 std::vector<SlurmJobState>* states, std::string* error) {
    std::vector<SlurmJobState> listed;
    if (!QueueLines(out, false, &listed, error))
        return false;
    std::map<SlurmJobId, SlurmJobState> seen;
    for (SlurmJobState& job : listed) seen[job.id] = std::move(job);
    states->clear();
    for (SlurmJobId id : ids) {
        auto found = seen.find(id);
        if (found != seen.end()) {
            states->push_back(found->second);
        } else {
            SlurmJobState forgotten;
            forgotten.id = id;
            states->push_back(forgotten);
        }
    }
    return true;
}

bool NamedQueueAnswer(std::string_view out, std::vector<SlurmJobState>* jobs, std::string* error) {
    return QueueLines(out, true, jobs, error);
}

}  // namespace parse

std::vector<std::string> SplitSlurmOptions(std::string_view text) {
    // SplitCommandLine takes its first argument for a program: an empty
    // quoted one is put in front and dropped.
    std::vector<std::string> all = platform::SplitCommandLine("\"\" " + std::string(text));
    if (!all.empty())
        all.erase(all.begin());
    return all;
}

SlurmStatus SubmitJob(const SlurmCommands& commands, const SlurmSubmission& job, SlurmJobId* id) {
    // sbatch reads options up to the script: a script named like an option
    // would be taken for one, and its arguments for the script.
    if (job.script.empty() || job.script.front() == '-')
        return Fail(SlurmError::kBadRequest,
                    "sbatch: not a batch script path: \"" + Shorten(job.script) + "\"");
    if (!job.name.empty() && !parse::IsJobName(job.name))
        return Fail(SlurmError::kBadRequest,
                    "sbatch: not a job name for this client: \"" + Shorten(job.name) + "\"");
    std::vector<std::string> arguments{"--parsable"};
    arguments.insert(arguments.end(), job.options.begin(), job.options.end());
    arguments.push_back("--no-requeue");
    if (!job.name.empty())
        arguments.push_back("--job-name=" + job.name);
    if (job.afterOk != 0) {
        arguments.push_back("--dependency=afterok:" + std::to_string(job.afterOk));
        arguments.push_back("--kill-on-invalid-dep=yes");
    }
    arguments.push_back(job.script);
    arguments.insert(arguments.end(), job.arguments.begin(), job.arguments.end());

    platform::CapturedRun run;
    SlurmStatus status = Run(commands, commands.sbatch, arguments, &run);
    if (!status.ok())
        return status;
    if (!parse::SubmittedJobId(run.out, id))
        return Fail(SlurmError::kDamagedAnswer,
                    CommandName(commands.sbatch) + " gave no job id: \"" + Shorten(run.out) + "\"");
    return {};
}

SlurmStatus QueryJobs(const SlurmCommands& commands, const std::vector<SlurmJobId>& ids,
                      std::vector<SlurmJobState>* states) {
    states->clear();
    for (std::size_t first = 0; first < ids.size(); first += kIdsPerQuery) {
        auto begin = ids.begin() + static_cast<std::ptrdiff_t>(first);
        auto end =
            ids.begin() + static_cast<std::ptrdiff_t>(std::min(first + kIdsPerQuery, ids.size()));
        std::vector<SlurmJobId> part(begin, end);
        platform::CapturedRun run;
        SlurmStatus status = Run(
            commands, commands.squeue,
            {"--noheader", "--states=all", "--jobs=" + JoinIds(begin, end), "--format=%i|%T|%r"},
            &run);
        std::vector<SlurmJobState> partStates;
        if (!status.ok()) {
            // One id that Slurm has forgotten is an error of squeue's own.
            if (status.error != SlurmError::kRefused || part.size() != 1 ||
                run.err.find(kUnknownJobId) == std::string::npos)
                return status;
            SlurmJobState forgotten;
            forgotten.id = part.front();
            partStates.push_back(forgotten);
        } else {
            std::string error;
            if (!parse::QueueAnswer(run.out, part, &partStates, &error))
                return Fail(SlurmError::kDamagedAnswer,
                            CommandName(commands.squeue) + " answer damaged: " + error);
        }
        states->insert(states->end(), partStates.begin(), partStates.end());
    }
    return {};
}

SlurmStatus FindJobsByName(const SlurmCommands& commands, const std::vector<std::string>& names,
                           std::vector<SlurmJobState>* jobs) {
    jobs->clear();
    if (names.empty())
        return {};
    std::string list;
    for (const std::string& name : names) {
        if (!parse::IsJobName(name))
            return Fail(SlurmError::kBadRequest,
                        "squeue: not a job name for this client: \"" + Shorten(name) + "\"");
        list += (list.empty() ? "" : ",") + name;
    }
    platform::CapturedRun run;
    SlurmStatus status =
        Run(commands, commands.squeue,
            {"--noheader", "--states=all", "--name=" + list, "--format=%i|%T|%j|%r"}, &run);
    if (!status.ok())
        return status;
    std::string error;
    if (!parse::NamedQueueAnswer(run.out, jobs, &error))
        return Fail(SlurmError::kDamagedAnswer,
                    CommandName(commands.squeue) + " answer damaged: " + error);
    return {};
}

SlurmStatus CancelJobs(const SlurmCommands& commands, const std::vector<SlurmJobId>& ids) {
    if (ids.empty())
        return {};
    std::vector<std::string> arguments;
    for (SlurmJobId id : ids) arguments.push_back(std::to_string(id));
    platform::CapturedRun run;
    return Run(commands, commands.scancel, arguments, &run);
}

}  // namespace cluster
