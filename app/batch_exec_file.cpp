#include "app/batch_exec_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "chapfile/kv_file_string.h"
#include "platform/file_ops.h"
#include "platform/file_stream.h"
#include "platform/shared_file.h"
#include "users/liste_users.h"

namespace {

// Lines are read whole, whatever their length, so that a very long job name
// never spills into the next line and shifts every later entry of the
// positional reading. Past this many characters the rest of a line is
// skipped: a damaged file of one endless line costs bounded memory.
constexpr std::size_t kMaxLineLength = 64 * 1024;

struct Line {
    std::string text;    // without its line end
    bool ended = false;  // a line end was read (false for a last line without one)
};

// Reads one line from a text stream; false at the end of the file with
// nothing read. The stream is left just past the line, for a reader that
// looks at a file a line at a time (a batch project file). The buffer is
// filled with line feeds first: the last zero byte in it is then the one
// fgets put after what it read, and a zero byte read from the file (which
// stays in the text) comes before it.
bool ReadLine(std::FILE* stream, Line& line) {
    line.text.clear();
    line.ended = false;
    bool any = false;
    std::array<char, 256> buffer;
    for (;;) {
        buffer.fill('\n');
        if (std::fgets(buffer.data(), static_cast<int>(buffer.size()), stream) == nullptr)
            return any;
        any = true;
        std::size_t end = buffer.size() - 1;
        while (buffer[end] != '\0') --end;
        const bool ended = end > 0 && buffer[end - 1] == '\n';
        const std::size_t length = ended ? end - 1 : end;
        if (line.text.size() < kMaxLineLength)
            line.text.append(buffer.data(), std::min(length, kMaxLineLength - line.text.size()));
        if (ended) {
            line.ended = true;
            return true;
        }
    }
}

// Hands out the lines of a text stream, read a block at a time: the queue is
// read after every reopen, so a line costs one search for its line end rather
// than a library call. A line is its text without the line end; a last line
// without one is a line too. Lines are whole whatever their length (see
// kMaxLineLength); zero bytes stay in the text. The stream is read ahead by up
// to one block.
class LineReader {
  public:
    // `read`: the stream's first bytes, already read by the caller.
    LineReader(std::FILE* stream, std::string read)
        : m_stream(stream), m_block(std::move(read)), m_length(m_block.size()) {}

    // The next line, valid until the next call; false at the end of the file
    // with nothing read.
    bool Next(std::string_view& line) {
        const char* start = m_block.data() + m_pos;
        if (const void* end = std::memchr(start, '\n', m_length - m_pos)) {
            const auto length = static_cast<std::size_t>(static_cast<const char*>(end) - start);
            line = std::string_view(start, std::min(length, kMaxLineLength));
            m_pos += length + 1;
            return true;
        }
        // The line goes on past this block.
        bool any = m_pos < m_length;
        m_long.assign(start, std::min(m_length - m_pos, kMaxLineLength));
        for (;;) {
            if (!Fill()) {
                line = m_long;
                return any;
            }
            any = true;
            const void* end = std::memchr(m_block.data(), '\n', m_length);
            const std::size_t run =
                end != nullptr
                    ? static_cast<std::size_t>(static_cast<const char*>(end) - m_block.data())
                    : m_length;
            if (m_long.size() < kMaxLineLength)
                m_long.append(m_block.data(), std::min(run, kMaxLineLength - m_long.size()));
            if (end != nullptr) {
                m_pos = run + 1;
                line = m_long;
                return true;
            }
        }
    }

  private:
    static constexpr std::size_t kBlockSize = 32 * 1024;

    bool Fill() {
        if (m_block.size() < kBlockSize)
            m_block.resize(kBlockSize);
        m_pos = 0;
        m_length = std::fread(m_block.data(), 1, kBlockSize, m_stream);
        return m_length > 0;
    }

    std::FILE* m_stream;
    std::string m_block;
    std::size_t m_pos = 0;
    std::size_t m_length = 0;
    std::string m_long;  // a line that spans blocks
};

// Reads up to `limit` bytes of the stream into `text`; true when that reached
// the end of the file.
bool ReadUpTo(std::FILE* stream, std::string& text, std::size_t limit) {
    constexpr std::size_t kStep = 32 * 1024;
    while (text.size() <= limit) {
        const std::size_t had = text.size();
        text.resize(had + kStep);
        const std::size_t got = std::fread(text.data() + had, 1, kStep, stream);
        text.resize(had + got);
        if (got < kStep)
            return std::feof(stream) != 0;
    }
    return false;
}

// A value that a write and a read give back unchanged: no line end, no zero
// byte (writing stops at one), nothing that reading trims at either end.
bool ReadsBack(const CString& value) {
    const std::string& text = value.str();
    if (text.empty())
        return true;
    if (std::strlen(text.c_str()) != text.size() ||
        std::memchr(text.data(), '\n', text.size()) != nullptr)
        return false;
    const char first = text.front();
    const char last = text.back();
    return first != ' ' && first != '\t' && first != '=' && last != ' ' && last != '\t' &&
           last != '\r';
}

// The value of a queue line: what follows its first "=", without the blanks,
// tabs and "=" before it and the blanks, tabs and line ends after it.
std::string_view ValueOf(std::string_view text) {
    const char* const end = text.data() + text.size();
    const char* p = text.data();
    while (p != end && *p != '=') ++p;
    if (p == end)
        return {};
    while (p != end && (*p == ' ' || *p == '\t' || *p == '=')) ++p;
    const char* last = end;
    while (last != p &&
           (last[-1] == ' ' || last[-1] == '\t' || last[-1] == '\r' || last[-1] == '\n'))
        --last;
    return std::string_view(p, static_cast<std::size_t>(last - p));
}

// A decimal integer after optional blanks; `field` is left alone (and the
// answer is false) when the value holds none.
bool ParseNumber(std::string_view value, int& field) {
    return chapfile_detail::ScanInt(value, field);
}

// The queue's text, with "\n" line ends (the stream writes the host's). A
// name is written up to its first zero byte, as a C string would be.
void AppendField(std::string& text, std::string_view key, const CString& value) {
    text.append(key);
    text.append(std::string_view(value.c_str()));
    text.push_back('\n');
}

void AppendField(std::string& text, std::string_view key, int value) {
    char digits[16];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    text.append(key);
    text.append(digits, written.ptr);
    text.push_back('\n');
}

std::string WriteEntries(std::FILE* stream, KvListeS<KvBatchExecGamme>& jobs) {
    std::string text;
    text.reserve(32 + jobs.GetCount() * 64);
    AppendField(text, "nb = ", static_cast<int>(jobs.GetCount()));
    for (const KvBatchExecGamme& job : jobs) {
        AppendField(text, "user = ", job.m_user);
        AppendField(text, "name = ", job.m_name);
        AppendField(text, "state = ", job.m_state);
        AppendField(text, "status = ", job.m_status);
        AppendField(text, "wait = ", job.m_wait);
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    return text;
}

// The text after the first `prefixLength` characters of a record line.
CString CutPrefix(const std::string& text, std::size_t prefixLength) {
    return CString(text.size() > prefixLength ? text.substr(prefixLength) : std::string());
}

}  // namespace

std::vector<ScannedJob> ScanBatchProject(std::FILE* stream) {
    std::vector<ScannedJob> jobs;
    if (stream == nullptr)
        return jobs;
    Line line;
    // A last line without a line end is not examined.
    auto next = [&]() { return ReadLine(stream, line) && line.ended; };
    while (next()) {
        if (line.text.find("[element gamme gamme de gamme]") == std::string::npos)
            continue;
        bool found = false;
        while ((found = next()) && line.text.find("m_waitForPrec = ") == std::string::npos) {
        }
        if (!found)
            break;
        ScannedJob job;
        // Leading digits, as atoi reads them; 0 when there are none.
        chapfile_detail::ScanInt(std::string_view(CutPrefix(line.text, 16).str()), job.wait);
        while ((found = next()) && line.text.find("nom = ") == std::string::npos) {
        }
        if (!found)
            break;
        job.name = CutPrefix(line.text, 6);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

KvBatchExecFile::KvBatchExecFile(CString folder, ListeUsers* users)
    : KvBatchFile(folder + kFileName), m_folder(std::move(folder)), m_users(users) {}

KvBatchExecFile::~KvBatchExecFile() = default;

void KvBatchExecFile::Read() {
    ReadGroups(Stream(), true);
}

void KvBatchExecFile::Refresh() {
    ReadGroups(Stream(), false);
}

void KvBatchExecFile::ReadFrom(std::FILE* stream) {
    ReadGroups(stream, true);
}

void KvBatchExecFile::ReadGroups(std::FILE* stream, bool rebuildList) {
    if (rebuildList)
        m_jobs.Reset();
    if (stream == nullptr)
        return;
    std::string text;
    const bool whole = ReadUpTo(stream, text, kKnownTextLimit);
    if (whole && m_known && text == m_known->text) {
        Apply(m_known->groups);
        return;
    }
    KnownText known{whole ? text : std::string(), {}};
    LineReader lines(stream, std::move(text));
    std::string_view line;
    int count = 0;
    if (lines.Next(line))
        ParseNumber(ValueOf(line), count);
    for (int i = 0; i < count; ++i) {
        // A group that lies wholly past the end of the file is not made up:
        // a count larger than the file holds (a damaged or hostile file)
        // would otherwise queue jobs out of nothing. A group cut short is
        // completed with empty values, which leave the numbers unchanged.
        if (!lines.Next(line))
            break;
        KnownGroup group;
        group.user = ValueOf(line);
        bool more = lines.Next(line);
        if (more)
            group.name = ValueOf(line);
        for (int n = 0; n < 3; ++n) {
            more = more && lines.Next(line);
            if (more && ParseNumber(ValueOf(line), group.numbers[n]))
                group.set |= 1u << n;
        }
        known.groups.push_back(std::move(group));
    }
    Apply(known.groups);
    if (whole)
        m_known = std::move(known);
    else
        m_known.reset();
}

void KvBatchExecFile::Apply(const std::vector<KnownGroup>& groups) {
    // The entries are a linked list: walked alongside the groups, never
    // indexed.
    auto existing = m_jobs.begin();
    for (const KnownGroup& group : groups) {
        KvBatchExecGamme* job = nullptr;
        if (existing != m_jobs.end())
            job = &*existing++;
        else
            // A group that another program appended while the file was
            // closed (or a list being rebuilt): a new entry, so that its job
            // runs too.
            job = m_jobs.NewElement();
        job->m_user.str().assign(group.user);
        job->m_name.str().assign(group.name);
        int* fields[] = {&job->m_state, &job->m_status, &job->m_wait};
        for (int n = 0; n < 3; ++n)
            if (group.set & (1u << n))
                *fields[n] = group.numbers[n];
    }
}

void KvBatchExecFile::Write() {
    m_known.reset();
    if (!IsOpen() && !OpenWithoutRecording("wt"))
        return;
    WriteEntries(Stream(), m_jobs);
}

void KvBatchExecFile::Save() {
    m_known.reset();
    Rewind();
    if (!IsOpen() && !OpenWithoutRecording("wt"))
        return;
    std::string text = WriteEntries(Stream(), m_jobs);
    platform::FlushToDisk(Stream(), GetPath().str());
    // Reading these bytes back gives the entries as they are, when every
    // name reads back as written: the next reopen need not parse them.
    KnownText known{std::move(text), {}};
    known.groups.reserve(m_jobs.GetCount());
    for (const KvBatchExecGamme& job : m_jobs) {
        if (!ReadsBack(job.m_user) || !ReadsBack(job.m_name))
            return;
        known.groups.push_back(
            {job.m_user.str(), job.m_name.str(), {job.m_state, job.m_status, job.m_wait}, 7u});
    }
    m_known = std::move(known);
}

bool KvBatchExecFile::Rebuild() {
    Close();
    m_jobs.Reset();
    if (m_users != nullptr) {
        for (CUser& user : m_users->Users()) {
            std::FILE* project = platform::OpenStream(user.GetBatchProjectPath().str(), "r");
            if (project == nullptr)
                continue;
            for (ScannedJob& scanned : ScanBatchProject(project)) {
                KvBatchExecGamme* job = m_jobs.NewElement();
                job->m_user = user.GetName();
                job->m_name = std::move(scanned.name);
                job->m_wait = m_jobs.GetCount() == 1 ? 0 : scanned.wait;
            }
            std::fclose(project);
        }
    }

    // Written beside the queue and put in place whole, so that a run killed
    // while rebuilding never leaves a torn queue that the next run would take
    // for a short one (and then retire every batch project file).
    CString staging = m_folder + kRebuildFileName;
    SharedFileOpen opened = OpenSharedFile(staging, "w", GetSleeper());
    if (opened.stream == nullptr) {
        SetOpenFailure(opened.status.WithContext(staging.str()));
        return false;
    }
    WriteEntries(opened.stream, m_jobs);
    bool written = platform::FlushToDisk(opened.stream, staging.str());
    written = std::fclose(opened.stream) == 0 && written;
    if (!written) {
        platform::DeleteOneFile(staging.str());
        SetOpenFailure(CannotOpen(staging, "cannot be written (disk full?)"));
        return false;
    }
    // On Windows the move fails while another program holds a queue that
    // appeared meanwhile: wait for it as an open would, but not forever.
    for (int attempt = 0; !platform::MoveIntoPlace(staging.str(), GetPath().str()); ++attempt) {
        if (attempt == 20) {
            platform::DeleteOneFile(staging.str());
            SetOpenFailure(CannotOpen(GetPath(), "the rebuilt queue cannot be put in place"));
            return false;
        }
        GetSleeper()(platform::kSharedRetryMs);
    }
    return true;
}

bool KvBatchExecFile::AllStarted() {
    for (const KvBatchExecGamme& job : m_jobs)
        if (job.m_state == KvBatchExecGamme::kWaiting)
            return false;
    return true;
}

bool KvBatchExecFile::AllFinished() {
    for (const KvBatchExecGamme& job : m_jobs)
        if (job.m_state != KvBatchExecGamme::kFinished)
            return false;
    return true;
}

std::optional<char> FindUnpassableCharacter(const CString& text) {
    for (char c : text.str()) {
        if (c == '"' || c == '%' || c == '!' || (static_cast<unsigned char>(c) < 0x20))
            return c;
    }
    return std::nullopt;
}

std::string DescribeCharacter(char c) {
    if (static_cast<unsigned char>(c) < 0x20) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
        return hex;
    }
    return std::string("'") + c + "'";
}
