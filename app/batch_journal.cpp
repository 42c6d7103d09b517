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
constexpr std::string_view kStateEnd = "# state end ";

// FNV-1a, 64 bits: enough to tell a state torn by a crash from a whole one.
constexpr std::uint64_t kHashStart = 14695981039346656037ull;
void Hash(std::uint64_t& hash, unsigned char c) {
    hash = (hash ^ c) * 1099511628211ull;
}
std::uint64_t HashOf(std::string_view text) {
    std::uint64_t hash = kHashStart;
    for (const char c : text) Hash(hash, static_cast<unsigned char>(c));
    return hash;
}

// `text` followed by the closing line that carries its checksum.
std::string Closed(std::string text) {
    char line[40];
    std::snprintf(line, sizeof line, "%.*s%016llx\n", static_cast<int>(kStateEnd.size()),
                  kStateEnd.data(), static_cast<unsigned long long>(HashOf(text)));
    return text + line;
}

// Reads one line, its line feed folded into `hash` with every character
// read, also those past kMaxLineLength that are not kept, and counted in
// `count`.
bool ReadLine(std::FILE* stream, std::string& line, std::uint64_t& hash, std::size_t& count) {
    line.clear();
    bool any = false;
    for (int c; (c = std::fgetc(stream)) != EOF;) {
        any = true;
        ++count;
        Hash(hash, static_cast<unsigned char>(c));
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
    m_appendable = false;
    m_written = 0;
    std::FILE* stream = platform::OpenStream(GetPath().str(), "r");
    if (stream == nullptr) {
        if (errno == ENOENT) {
            m_appendable = true;  // the first append creates the file
            return true;
        }
        m_lastError = platform::ErrnoError(errno).WithContext(GetPath().str());
        return false;
    }
    // The state being read, and the last one whose checksum held.
    std::vector<JournalRecord> records;
    platform::ProcessId launcher = 0;
    bool closed = false;      // a closing line was seen
    bool wholeAtEnd = false;  // nothing follows the last state whose checksum held
    std::size_t count = 0;
    std::string line;
    std::uint64_t hash = kHashStart;
    for (std::uint64_t before = hash; ReadLine(stream, line, hash, count); before = hash) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        wholeAtEnd = false;
        if (line.starts_with(kStateEnd)) {
            closed = true;
            const std::string_view sum = std::string_view(line).substr(kStateEnd.size());
            std::uint64_t expected = 0;
            const auto [end, error] =
                std::from_chars(sum.data(), sum.data() + sum.size(), expected, 16);
            if (error == std::errc() && end == sum.data() + sum.size() && expected == before) {
                m_records = std::move(records);
                m_launcher = launcher;
                wholeAtEnd = true;
            }
            records.clear();
            launcher = 0;
            hash = kHashStart;
            continue;
        }
        if (line == kRecordStart) {
            records.emplace_back();
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
        if (records.empty()) {
            if (key == "launcher")
                launcher = ParseNumber<platform::ProcessId>(value);
            continue;
        }
        JournalRecord* record = &records.back();
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
    const bool readToTheEnd = std::ferror(stream) == 0;
    std::fclose(stream);
    // Further states can follow a file that ends with a whole one; a torn
    // append, an earlier version's file or one grown past kCompactAt is
    // written whole by the next save.
    m_appendable = readToTheEnd && wholeAtEnd && count <= kCompactAt;
    m_written = count;
    // A file of an earlier version has no closing line: it is one state. In
    // a file with closing lines, text after the last whole state is a torn
    // append; when no state is whole, nothing is known of the jobs.
    if (!closed) {
        m_records = std::move(records);
        m_launcher = launcher;
    }
    // A record that names no job cannot be matched with an entry.
    std::erase_if(m_records,
                  [](const JournalRecord& r) { return r.user.IsEmpty() && r.name.IsEmpty(); });
    return true;
}

std::string BatchJournal::StateText() const {
    std::string text = "launcher = " + Number(m_launcher) + "\n";
    for (const JournalRecord& r : m_records) {
        text += "\n";
        text += kRecordStart;
        text += "\n";
        auto field = [&](std::string_view key, const std::string& value) {
            text.append(key).append(" = ").append(value).append("\n");
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
        for (const auto& [key, value] : r.otherFields) field(key, value);
    }
    return text;
}

bool BatchJournal::Save(bool flushToDisk) {
    m_lastError = platform::Status::Ok();
    const std::string state = StateText();
    if (m_appendable && m_written + state.size() <= kCompactAt && Append(state, flushToDisk))
        return true;
    // Rewriting also mends a torn append.
    return Rewrite(state);
}

bool BatchJournal::Append(const std::string& state, bool flushToDisk) {
    const std::string path = GetPath().str();
    std::FILE* out = platform::OpenStream(path, "a");
    // A new file starts as a whole rewrite would write it.
    const std::string text =
        Closed(m_written == 0 ? std::string(kHeading) + "\n" + state : "\n" + state);
    bool written = out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
                   std::fflush(out) == 0 && (!flushToDisk || platform::FlushToDisk(out, path));
    if (out != nullptr)
        written = std::fclose(out) == 0 && written;
    if (!written) {
        m_appendable = false;
        return false;
    }
    m_written += text.size();
    return true;
}

bool BatchJournal::Rewrite(const std::string& state) {
    m_appendable = false;
    const CString staging = m_folder + kStagingFileName;
    SharedFileOpen opened = OpenSharedFile(staging, "w", m_sleeper);
    if (opened.stream == nullptr) {
        m_lastError = opened.status.WithContext(staging.str());
        return false;
    }
    std::FILE* out = opened.stream;
    const std::string text = Closed(std::string(kHeading) + "\n" + state);
    // Always on the disk before it replaces the file: a file moved into place
    // unflushed may be found empty after a crash, the state before it lost.
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
                   std::fflush(out) == 0 && std::ferror(out) == 0 &&
                   platform::FlushToDisk(out, staging.str());
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
    m_appendable = true;
    m_written = text.size();
    return true;
}

void BatchJournal::Remove() {
    m_records.clear();
    m_appendable = false;
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
