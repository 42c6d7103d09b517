#include "app/batch_journal.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/batch_file.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"
#include "platform/shared_file.h"

namespace {

// A damaged file of one endless line costs bounded memory: past this many
// characters the rest of a line is skipped.
constexpr std::size_t kMaxLineLength = 64 * 1024;
// Attempts to put the staged file in place while a reader holds the old one
// (Windows), as for a rebuilt queue.
constexpr int kMoveAttempts = 20;

constexpr const char* kHeading =
    "# torvane-batch journal: the jobs launched from this queue that have not finished";
constexpr const char* kRecordStart = "[job]";

bool ReadLine(std::FILE* stream, std::string& line) {
    line.clear();
    bool any = false;
    for (int c; (c = std::fgetc(stream)) != EOF;) {
        any = true;
        if (c == '\n')
            return true;
        if (line.size() < kMaxLineLength)
            line.push_back(static_cast<char>(c));
    }
    return any;
}

template <typename Number>
Number ParseNumber(std::string_view text) {
    Number value{};
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string Number(std::int64_t value) {
    return std::to_string(value);
}

bool SameJob(const JournalRecord& record, const CString& user, const CString& name) {
    return record.user == user && record.name == name;
}

}  // namespace

BatchJournal::BatchJournal(CString folder) : m_folder(std::move(folder)) {}

bool BatchJournal::Load() {
    m_records.clear();
    m_launcher = 0;
    m_lastError = platform::Status::Ok();
    std::FILE* stream = platform::OpenStream(GetPath().str(), "r");
    if (stream == nullptr) {
        if (errno == ENOENT)
            return true;
        m_lastError = platform::ErrnoError(errno).WithContext(GetPath().str());
        return false;
    }
    std::string line;
    JournalRecord* record = nullptr;
    while (ReadLine(stream, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == kRecordStart) {
            record = &m_records.emplace_back();
            continue;
        }
        std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos)
            continue;
        std::string_view key(line.data(), equals);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
        std::string_view value(line);
        value.remove_prefix(equals + 1);
        if (!value.empty() && value.front() == ' ')
            value.remove_prefix(1);
        if (record == nullptr) {
            if (key == "launcher")
                m_launcher = ParseNumber<platform::ProcessId>(value);
            continue;
        }
        if (key == "user")
            record->user = CString(value);
        else if (key == "name")
            record->name = CString(value);
        else if (key == "position")
            record->position = ParseNumber<unsigned>(value);
        else if (key == "attempt")
            record->attempt = ParseNumber<int>(value);
        else if (key == "first launch")
            record->firstLaunchMs = ParseNumber<std::int64_t>(value);
        else if (key == "launch")
            record->launchMs = ParseNumber<std::int64_t>(value);
        else if (key == "process")
            record->process.id = ParseNumber<platform::ProcessId>(value);
        else if (key == "process start")
            record->process.startTime = ParseNumber<std::uint64_t>(value);
        else if (key == "cluster job")
            record->clusterJob = std::string(value);
        else
            record->otherFields.emplace_back(std::string(key), std::string(value));
    }
    std::fclose(stream);
    // A record that names no job cannot be matched with an entry.
    std::erase_if(m_records,
                  [](const JournalRecord& r) { return r.user.IsEmpty() && r.name.IsEmpty(); });
    return true;
}

bool BatchJournal::Save(bool flushToDisk) {
    m_lastError = platform::Status::Ok();
    const CString staging = m_folder + kStagingFileName;
    SharedFileOpen opened = OpenSharedFile(staging, "w", m_sleeper);
    if (opened.stream == nullptr) {
        m_lastError = opened.status.WithContext(staging.str());
        return false;
    }
    std::FILE* out = opened.stream;
    std::fprintf(out, "%s\nlauncher = %lu\n", kHeading, static_cast<unsigned long>(m_launcher));
    for (const JournalRecord& r : m_records) {
        std::fprintf(out, "\n%s\n", kRecordStart);
        auto field = [&](const char* key, const std::string& value) {
            std::fprintf(out, "%s = %s\n", key, value.c_str());
        };
        field("user", r.user.str());
        field("name", r.name.str());
        field("position", Number(r.position));
        field("attempt", Number(r.attempt));
        field("first launch", Number(r.firstLaunchMs));
        field("launch", Number(r.launchMs));
        field("process", Number(r.process.id));
        field("process start", std::to_string(r.process.startTime));
        field("cluster job", r.clusterJob);
        for (const auto& [key, value] : r.otherFields) field(key.c_str(), value);
    }
    bool written = std::fflush(out) == 0 && std::ferror(out) == 0 &&
                   (!flushToDisk || platform::FlushToDisk(out, staging.str()));
    written = std::fclose(out) == 0 && written;
    if (!written) {
        platform::DeleteOneFile(staging.str());
        m_lastError = CannotOpen(staging, "cannot be written (disk full?)");
        return false;
    }
    for (int attempt = 0; !platform::MoveIntoPlace(staging.str(), GetPath().str()); ++attempt) {
        if (attempt == kMoveAttempts) {
            platform::DeleteOneFile(staging.str());
            m_lastError = CannotOpen(GetPath(), "the new journal cannot be put in place");
            return false;
        }
        m_sleeper(platform::kSharedRetryMs);
    }
    return true;
}

void BatchJournal::Remove() {
    m_records.clear();
    platform::DeleteOneFile(GetPath().str());
}

JournalRecord* BatchJournal::Find(const CString& user, const CString& name, unsigned position) {
    for (JournalRecord& record : m_records)
        if (record.position == position && SameJob(record, user, name))
            return &record;
    return nullptr;
}

JournalRecord& BatchJournal::Put(const JournalRecord& record) {
    if (JournalRecord* existing = Find(record.user, record.name, record.position)) {
        *existing = record;
        return *existing;
    }
    return m_records.emplace_back(record);
}

bool BatchJournal::Erase(const CString& user, const CString& name, unsigned position) {
    JournalRecord* record = Find(user, name, position);
    if (record == nullptr)
        return false;
    m_records.erase(m_records.begin() + (record - m_records.data()));
    return true;
}
