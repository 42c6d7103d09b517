#include "app/batch_status.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "app/batch_exec_file.h"
#include "app/batch_file.h"
#include "app/batch_journal.h"
#include "app/entry_point.h"
#include "platform/codepage.h"
#include "platform/file_ops.h"
#include "platform/shared_file.h"
#include "platform/timestamp.h"

namespace {

// Whether a file is there, asked without opening it: a file held with the
// exclusive open cannot be opened on Windows, even to look.
bool Exists(const CString& path) {
    unsigned attributes = 0;
    return platform::GetAttributes(path.str(), attributes);
}

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

// True when a launcher holds the lock file. The lock file is never created
// here: a missing one means no launcher has run on this folder.
bool LauncherHoldsLock(const CString& folder) {
    const CString lockPath = folder + kLauncherLockName;
    if (!Exists(lockPath))
        return false;
    platform::ExclusiveOpen attempt = platform::TryOpenExclusive(lockPath.str(), "r");
    if (attempt.stream != nullptr)
        std::fclose(attempt.stream);
    return attempt.status.IsBusy();
}

const char* StateName(int state) {
    switch (state) {
        case KvBatchExecGamme::kWaiting:
            return "waiting";
        case KvBatchExecGamme::kRunning:
            return "running";
        case KvBatchExecGamme::kFinished:
            return "finished";
        default:
            return "other";
    }
}

// Text of the program's code page as UTF-8; a lone surrogate (which no code
// page gives, but a damaged conversion might) becomes U+FFFD.
std::string ToUtf8(const CString& text) {
    const std::u16string wide = platform::AnsiToWide(text.str());
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// "YYYY-MM-DDTHH:MM:SSZ" of ms since 1970 UTC, computed without the host's
// time functions (whose UTC variants differ between the hosts).
std::string UtcIso(std::int64_t ms) {
    std::int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const std::int64_t ofDay = seconds - days * 86400;
    // Days to the civil date (proleptic Gregorian), after H. Hinnant.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(ofDay / 3600),
                  static_cast<long long>(ofDay % 3600 / 60), static_cast<long long>(ofDay % 60));
    return text;
}

nlohmann::json OrNull(bool present, nlohmann::json value) {
    return present ? std::move(value) : nlohmann::json(nullptr);
}

}  // namespace

StatusCounts BatchStatus::Counts() const {
    StatusCounts counts;
    for (const StatusEntry& entry : jobs) {
        ++counts.total;
        switch (entry.state) {
            case KvBatchExecGamme::kWaiting:
                ++counts.waiting;
                break;
            case KvBatchExecGamme::kRunning:
                ++counts.running;
                break;
            case KvBatchExecGamme::kFinished:
                ++counts.finished;
                ++(entry.status == KvBatchExecGamme::kSucceeded ? counts.succeeded : counts.failed);
                break;
            default:
                ++counts.other;
        }
    }
    return counts;
}

std::optional<std::size_t> BatchStatus::RunningJob() const {
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].state == KvBatchExecGamme::kRunning &&
            (!found || jobs[i].launchMs > jobs[*found].launchMs))
            found = i;
    return found;
}

StatusRead ReadBatchStatus(const CString& folder, const std::string& engine,
                           std::uint32_t maxWaitMs, const platform::Sleeper& sleeper) {
    StatusRead read;
    BatchStatus& status = read.status;
    status.folder = folder;
    status.engine = engine;
    status.launcherRunning = LauncherHoldsLock(folder);

    const CString queuePath = folder + KvBatchExecFile::kFileName;
    if (Exists(queuePath)) {
        platform::ExclusiveOpen opened =
            platform::OpenExclusiveWithin(queuePath.str(), "r", maxWaitMs, sleeper);
        std::unique_ptr<std::FILE, FileCloser> stream(opened.stream);
        if (opened.status.IsBusy()) {
            read.outcome = StatusOutcome::kQueueBusy;
            read.failure = opened.status.WithContext(queuePath.str());
            return read;
        }
        // A queue retired between the look and the open is no queue.
        if (!opened.status.ok() && Exists(queuePath)) {
            read.outcome = StatusOutcome::kQueueUnreadable;
            read.failure = opened.status.WithContext(queuePath.str());
            return read;
        }
        if (stream) {
            KvBatchExecFile queue(folder, nullptr);
            queue.ReadFrom(stream.get());
            // Released before anything else is done.
            stream.reset();
            status.queueFound = true;
            for (const KvBatchExecGamme& job : queue.Jobs()) {
                StatusEntry& entry = status.jobs.emplace_back();
                entry.user = job.m_user;
                entry.job = job.m_name;
                entry.state = job.m_state;
                entry.status = job.m_status;
                entry.wait = job.m_wait != 0;
            }
        }
    }

    BatchJournal journal(folder);
    journal.Load();
    if (status.launcherRunning)
        status.launcherPid = journal.Launcher();
    for (const JournalRecord& record : journal.Records()) {
        if (record.position >= status.jobs.size())
            continue;
        StatusEntry& entry = status.jobs[record.position];
        if (entry.user != record.user || entry.job != record.name)
            continue;
        entry.attempt = record.attempt;
        entry.launchMs = record.launchMs;
        entry.process = record.process.id;
        entry.clusterJob = record.clusterJob;
    }
    return read;
}

std::string StatusText(const BatchStatus& status) {
    std::string text;
    auto line = [&](const char* label, const std::string& value) {
        char head[32];
        std::snprintf(head, sizeof head, "%-14s", label);
        text += head + value + "\n";
    };
    line("Batch folder:", status.folder.str());
    line("Launcher:", !status.launcherRunning ? std::string("not running")
                      : status.launcherPid != 0
                          ? "running (process " + std::to_string(status.launcherPid) + ")"
                          : std::string("running"));
    line("Engine:", status.engine);
    if (!status.queueFound) {
        line("Queue:", "none (no " + std::string(KvBatchExecFile::kFileName) + ")");
        return text;
    }
    if (std::optional<std::size_t> running = status.RunningJob()) {
        const StatusEntry& entry = status.jobs[*running];
        std::string value = entry.user.str() + " " + entry.job.str();
        if (entry.launchMs != 0)
            value +=
                " since " + platform::LocalStamp(static_cast<std::time_t>(entry.launchMs / 1000));
        if (entry.attempt > 1)
            value += " (attempt " + std::to_string(entry.attempt) + ")";
        line("Running job:", value);
    } else {
        line("Running job:", "none");
    }
    const StatusCounts counts = status.Counts();
    std::string summary = std::to_string(counts.total) + " (" + std::to_string(counts.waiting) +
                          " waiting, " + std::to_string(counts.running) + " running, " +
                          std::to_string(counts.finished) +
                          " finished: " + std::to_string(counts.succeeded) + " succeeded, " +
                          std::to_string(counts.failed) + " failed";
    if (counts.other != 0)
        summary += "; " + std::to_string(counts.other) + " in another state";
    line("Jobs:", summary + ")");
    if (status.jobs.empty())
        return text;

    // The table, its columns as wide as their widest cell.
    const bool slurm = status.engine == "slurm";
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"#", "user", "job", "state", "status", "wait"});
    if (slurm)
        rows.back().push_back("slurm job");
    for (std::size_t i = 0; i < status.jobs.size(); ++i) {
        const StatusEntry& entry = status.jobs[i];
        const bool finished = entry.state == KvBatchExecGamme::kFinished;
        rows.push_back({std::to_string(i + 1), entry.user.str(), entry.job.str(),
                        entry.state >= 0 && entry.state <= 2
                            ? StateName(entry.state)
                            : "state " + std::to_string(entry.state),
                        !finished                                      ? "-"
                        : entry.status == KvBatchExecGamme::kSucceeded ? "succeeded"
                                                                       : "failed",
                        entry.wait ? "yes" : "no"});
        if (slurm)
            rows.back().push_back(entry.clusterJob.empty() ? "-" : entry.clusterJob);
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    text += "\n";
    for (const auto& row : rows) {
        std::string out = "  ";
        for (std::size_t c = 0; c < row.size(); ++c) {
            out += row[c];
            if (c + 1 < row.size())
                out += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        text += out + "\n";
    }
    return text;
}

std::string StatusJson(const BatchStatus& status) {
    nlohmann::ordered_json root;
    root["batch_folder"] = ToUtf8(status.folder);
    root["queue_found"] = status.queueFound;
    root["engine"] = status.engine;
    root["launcher"] = {{"running", status.launcherRunning},
                        {"pid", OrNull(status.launcherPid != 0, status.launcherPid)}};
    nlohmann::ordered_json running = nullptr;
    if (std::optional<std::size_t> index = status.RunningJob()) {
        const StatusEntry& entry = status.jobs[*index];
        running = {{"position", *index},
                   {"user", ToUtf8(entry.user)},
                   {"job", ToUtf8(entry.job)},
                   {"attempt", OrNull(entry.attempt != 0, entry.attempt)},
                   {"since", OrNull(entry.launchMs != 0, UtcIso(entry.launchMs))},
                   {"since_ms", OrNull(entry.launchMs != 0, entry.launchMs)},
                   {"process", OrNull(entry.process != 0, entry.process)}};
    }
    root["running_job"] = running;
    nlohmann::ordered_json jobs = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < status.jobs.size(); ++i) {
        const StatusEntry& entry = status.jobs[i];
        const bool finished = entry.state == KvBatchExecGamme::kFinished;
        jobs.push_back(
            {{"position", i},
             {"user", ToUtf8(entry.user)},
             {"job", ToUtf8(entry.job)},
             {"state", StateName(entry.state)},
             {"state_code", entry.state},
             {"status", OrNull(finished, entry.status == KvBatchExecGamme::kSucceeded ? "succeeded"
                                                                                      : "failed")},
             {"wait", entry.wait},
             {"cluster_job",
              OrNull(!entry.clusterJob.empty(), ToUtf8(CString(entry.clusterJob)))}});
    }
    root["jobs"] = std::move(jobs);
    const StatusCounts counts = status.Counts();
    root["counts"] = {{"total", counts.total},         {"waiting", counts.waiting},
                      {"running", counts.running},     {"finished", counts.finished},
                      {"succeeded", counts.succeeded}, {"failed", counts.failed},
                      {"other", counts.other}};
    return root.dump(2) + "\n";
}

int ShowBatchStatus(const CString& folder, const std::string& engine, bool json, std::FILE* out,
                    std::FILE* err, const platform::Sleeper& sleeper) {
    StatusRead read = ReadBatchStatus(folder, engine, kStatusQueueWaitMs, sleeper);
    const CString queuePath = folder + KvBatchExecFile::kFileName;
    if (read.outcome == StatusOutcome::kQueueBusy) {
        std::fprintf(err, "torvane-batch: the queue \"%s\" stayed busy for %u s; try again later\n",
                     queuePath.c_str(), static_cast<unsigned>(kStatusQueueWaitMs / 1000));
        return kStatusQueueBusyExitStatus;
    }
    if (read.outcome == StatusOutcome::kQueueUnreadable) {
        const std::string line = CannotOpenLine(read.failure) + "\n";
        std::fputs(line.c_str(), err);
        return kOpenFailureExitStatus;
    }
    const std::string text = json ? StatusJson(read.status) : StatusText(read.status);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fflush(out) == 0 && written ? 0 : 1;
}
