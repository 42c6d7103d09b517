#include "batchlog/written_log_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batchlog/fichier_log_batch.h"
#include "chapfile/kv_file_string.h"
#include "messages/paths.h"

namespace batchlog_detail {
namespace {

// The general reader reads lines through a 1000-byte buffer: a longer line
// would be cut into several, which this reader does not do.
constexpr std::size_t kLongestLine = 999;

struct StreamCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

// The whole of a file's bytes, read at once: the events are kept where they
// stand in them (TextList::Adopt), so the buffer lives on with the log.
struct WholeFile {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
};

bool ReadWhole(std::FILE* stream, WholeFile& file) {
    // The size is only a first guess: the file may grow while it is read.
    std::size_t capacity = 64 * 1024;
    if (std::fseek(stream, 0, SEEK_END) == 0) {
        const long end = std::ftell(stream);
        if (end > 0)
            capacity = static_cast<std::size_t>(end) + 1;
    }
    if (std::fseek(stream, 0, SEEK_SET) != 0)
        return false;
    file.data = std::make_unique_for_overwrite<char[]>(capacity);
    file.size = 0;
    for (;;) {
        file.size += std::fread(file.data.get() + file.size, 1, capacity - file.size, stream);
        if (file.size < capacity)
            return !std::ferror(stream);
        capacity *= 2;
        auto larger = std::make_unique_for_overwrite<char[]>(capacity);
        std::memcpy(larger.get(), file.data.get(), file.size);
        file.data = std::move(larger);
    }
}

// The non-blank lines of a file read in binary, trimmed of blanks, tabs and
// line ends as the general reader trims them. The general reader reads in
// text mode: "\r\n" becomes "\n", and on Windows a Ctrl-Z ends the file; a
// zero byte ends its line early. Trimming takes the "\r" of every "\r\n"
// away here as well; a file holding a zero byte or a Ctrl-Z, or a line of
// more than kLongestLine bytes, is left to the general reader.
class Lines {
  public:
    Lines(const char* data, std::size_t size) : m_data(data), m_end(size) {
        m_unusable =
            std::memchr(data, '\0', size) != nullptr || std::memchr(data, '\x1a', size) != nullptr;
    }

    // The next non-blank line; false at the end of the file and when the file
    // holds what this reader leaves to the general one (Unusable()).
    bool Next(std::string_view& line) {
        while (!m_unusable && m_pos < m_end) {
            const char* start = m_data + m_pos;
            const void* found = std::memchr(start, '\n', m_end - m_pos);
            const std::size_t length =
                found != nullptr ? static_cast<const char*>(found) - start : m_end - m_pos;
            m_pos += length + (found != nullptr ? 1 : 0);
            if (length > kLongestLine) {
                m_unusable = true;
                return false;
            }
            // By hand: find_first_not_of calls memchr for every byte.
            std::size_t first = 0;
            std::size_t last = length;
            while (first < last && IsTrimmed(start[first])) ++first;
            while (last > first && IsTrimmed(start[last - 1])) --last;
            if (first == last)
                continue;
            line = std::string_view(start + first, last - first);
            return true;
        }
        return false;
    }

    bool Unusable() const { return m_unusable; }

  private:
    static bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    const char* m_data;
    std::size_t m_pos = 0;
    std::size_t m_end;
    bool m_unusable = false;
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// A text value as KvFile reads it: "<saut>" stands for a line break. The
// string gets exactly the capacity it needs, which matters by the million.
CString TextValue(std::string_view value) {
    CString text{std::string(value)};
    if (value.find("<saut>") != std::string_view::npos)
        text.Replace("<saut>", "\r\n");
    return text;
}

// Reads what follows the header and the version chapter. Each step starts on
// its first line (m_line) and leaves m_line on the line after what it read.
class Body {
  public:
    Body(Lines& lines, WholeFile& file, FichierLogBatch& log)
        : m_lines(lines), m_file(file), m_log(log) {}

    bool Read() {
        if (!Advance() || m_line != "[JOB INFORMATIONS]")
            return false;
        std::vector<std::pair<std::string, std::string>> values;
        while (Advance() && !m_atEnd && m_line.front() != '[') {
            if (values.size() == 64)
                return false;
            chapfile_detail::LineSplit split = chapfile_detail::SplitLine(m_line);
            values.emplace_back(split.key, split.value);
        }

        // From here on the general load would empty the lists whatever
        // follows.
        m_log.m_eventList.Reset();
        m_log.m_alertList.Reset();
        m_log.m_errorList.Reset();
        if (m_line != "[EVENTS]" || !Advance() || !ReadEvents())
            return false;
        if (m_line != "[ALERTS]" || !Advance() ||
            !ReadTexts("Alerts list", m_log.m_alertList, FichierLogBatch::kMaxListTexts, true))
            return false;
        if (m_line != "[ERRORS]" || !Advance() || !ReadErrors() || !m_atEnd)
            return false;

        // Every line was taken: the values go in as the general load puts
        // them, the first line of a key winning.
        auto find = [&](std::string_view key) -> const std::string* {
            for (const auto& [k, v] : values)
                if (EqualsNoCase(k, key))
                    return &v;
            return nullptr;
        };
        auto text = [&](std::string_view key, CString& field) {
            if (const std::string* v = find(key))
                field = TextValue(*v);
        };
        auto number = [&](std::string_view key, int& field) {
            if (const std::string* v = find(key))
                chapfile_detail::ScanInt(std::string_view(*v), field);
        };
        auto flag = [&](std::string_view key, bool& field) {
            int n = 0;
            if (const std::string* v = find(key);
                v != nullptr && chapfile_detail::ScanInt(std::string_view(*v), n))
                field = n != 0;
        };
        text("Job name", m_log.m_jobName);
        text("User name", m_log.m_userName);
        flag("IsGammeMachineComplexe", m_log.m_isGammeMachineComplexe);
        flag("SimuOK", m_log.m_simuOK);
        number("Errors", m_log.m_nbErrors);
        number("Alerts", m_log.m_nbAlerts);
        return true;
    }

  private:
    // The next line into m_line; at the end of the file m_atEnd is set and
    // m_line is empty. False when the file holds what the general reader
    // must read.
    bool Advance() {
        if (m_lines.Next(m_line))
            return true;
        m_line = std::string_view();
        m_atEnd = !m_lines.Unusable();
        return m_atEnd;
    }

    bool AtHead(const std::string& head) const { return !m_atEnd && m_line == head; }

    // m_line is "<name> taille = <count>".
    bool ReadCount(std::string_view name, unsigned& count) {
        if (m_atEnd || m_line.front() == '[')
            return false;
        chapfile_detail::LineSplit split = chapfile_detail::SplitLine(m_line);
        if (split.key.size() != name.size() + 7 || !split.key.starts_with(name) ||
            split.key.substr(name.size()) != " taille")
            return false;
        count = 0;
        chapfile_detail::ScanUInt(split.value, count);
        return true;
    }

    // The count line of a text list, then one line per text keyed
    // "<name> <i>" in order, each value handed to `add` as the file holds it
    // (add returns false when the list takes no more). The general load takes
    // no more than `limit` texts and looks no further: with `beyondLimit`,
    // the lines of a longer list after the first `limit` are passed over as
    // it passes them over (only lists outside object lists, where no budget
    // is shared).
    template <typename Add>
    bool ReadTexts(std::string_view name, unsigned limit, bool beyondLimit, Add add,
                   unsigned* counted = nullptr) {
        unsigned count = 0;
        if (!ReadCount(name, count) || (count > limit && !beyondLimit))
            return false;
        const bool skipRest = count > limit;
        count = std::min(count, limit);
        if (counted != nullptr)
            *counted = count;
        // The key of text i is the name and i in decimal, counted up in
        // place: formatting each index and building each key cost more than
        // the rest of the line's reading.
        std::string key(name);
        key += " 0";
        const std::size_t prefix = key.size() - 1;
        for (unsigned i = 0; i < count; ++i, Increment(key, prefix)) {
            if (!Advance() || m_atEnd || m_line.front() == '[')
                return false;
            // Save writes "<key> = <value>": the value is what follows, unless
            // it starts with what the split would trim.
            const std::size_t k = key.size();
            std::string_view value;
            if (m_line.size() > k + 3 && m_line[k] == ' ' && m_line[k + 1] == '=' &&
                m_line[k + 2] == ' ' && m_line[k + 3] != ' ' && m_line[k + 3] != '=' &&
                m_line[k + 3] != '\t' && m_line.starts_with(key)) {
                value = m_line.substr(k + 3);
            } else {
                chapfile_detail::LineSplit split = chapfile_detail::SplitLine(m_line);
                if (split.key != key)
                    return false;
                value = split.value;
            }
            if (!add(value))
                return false;
        }
        if (!Advance())
            return false;
        while (skipRest && !m_atEnd && m_line.front() != '[')
            if (!Advance())
                return false;
        return true;
    }

    bool ReadTexts(std::string_view name, KvListe<CString>& list, unsigned limit,
                   bool beyondLimit = false) {
        return ReadTexts(name, limit, beyondLimit, [&list](std::string_view value) {
            CString* element = list.NewElement();
            if (element == nullptr)
                return false;
            *element = TextValue(value);
            return true;
        });
    }

    // The events stay where they are in the file's bytes, which the log's
    // text list adopts; one with "<saut>", read as a line break, is copied.
    bool ReadEvents() {
        TextList& events = m_log.m_eventList;
        const char* const fileEnd = m_file.data.get() + m_file.size;
        events.Adopt(std::move(m_file.data));
        // The first "<" at or after the last place searched (fileEnd: none):
        // one search runs over many events at once, where most hold none.
        const char* mark = nullptr;
        std::string decoded;
        return ReadTexts(
            "Event list", FichierLogBatch::kMaxListTexts, true,
            [&](std::string_view value) {
                // One place more: a failed launch appends its event to the log
                // it has just read, and a full index would double to take it.
                if (events.IsEmpty())
                    events.Reserve(std::size_t{m_eventCount} + 1);
                // An empty value may have no place in the file at all.
                if (value.empty()) {
                    events.AddView(value);
                    return true;
                }
                if (mark == nullptr || mark < value.data()) {
                    const void* found = std::memchr(
                        value.data(), '<', static_cast<std::size_t>(fileEnd - value.data()));
                    mark = found != nullptr ? static_cast<const char*>(found) : fileEnd;
                }
                if (mark >= value.data() + value.size() ||
                    value.find("<saut>") == std::string_view::npos) {
                    events.AddView(value);
                    return true;
                }
                decoded.assign(value);
                CString text{std::move(decoded)};
                text.Replace("<saut>", "\r\n");
                events.Add(text);
                decoded = std::move(text.str());
                return true;
            },
            &m_eventCount);
    }

    // Adds one to the decimal number that `text` holds from `first` on.
    static void Increment(std::string& text, std::size_t first) {
        for (std::size_t i = text.size(); i-- > first;) {
            if (text[i] != '9') {
                ++text[i];
                return;
            }
            text[i] = '0';
        }
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(first), '1');
    }

    // The error tree: machines, channels, messages, each machine and channel
    // in its own section chapter, in order.
    bool ReadErrors() {
        unsigned machines = 0;
        if (!ReadCount("Machine list", machines) || !Advance())
            return false;
        for (unsigned m = 0; m < machines; ++m) {
            const std::string section = "Machine list " + std::to_string(m);
            unsigned channels = 0;
            if (!AtHead("[" + section + ":nouvelle_section]") || !Advance() ||
                !ReadCount("Machine errors", channels) || !Advance())
                return false;
            KvListeErreurMachine* machine = m_log.m_errorList.NewElement();
            if (machine == nullptr)
                return false;
            for (unsigned c = 0; c < channels; ++c) {
                const std::string head =
                    "[" + section + ":Machine errors " + std::to_string(c) + ":nouvelle_section]";
                KvListeErreurCanal* channel = machine->NewElement();
                if (!AtHead(head) || !Advance() || channel == nullptr ||
                    !ReadTexts("Channel errors", *channel, KvListeErreurCanal::kMaxMessages))
                    return false;
            }
        }
        return true;
    }

    Lines& m_lines;
    WholeFile& m_file;
    FichierLogBatch& m_log;
    std::string_view m_line;
    bool m_atEnd = false;
    unsigned m_eventCount = 0;
};

}  // namespace

WrittenLogRead ReadWrittenLog(const CString& path, FichierLogBatch& log) {
    if (path.IsEmpty())
        return WrittenLogRead::kNotAsWritten;
    std::unique_ptr<std::FILE, StreamCloser> stream(OpenFileLinked(path, "rb"));
    if (!stream)
        return WrittenLogRead::kNotAsWritten;
    WholeFile file;
    if (!ReadWhole(stream.get(), file))
        return WrittenLogRead::kNotAsWritten;
    stream.reset();
    Lines lines(file.data.get(), file.size);
    std::string_view line;
    // The header and the version chapter, as Save writes them; a file of
    // another version goes through the general load and its conversion.
    const std::string expected[] = {"[[" + log.GetTitle().str() + "]]", "[Version]",
                                    "Version ft = " + log.GetFormatVersion().str(),
                                    "Version = " + log.GetVersion().str()};
    for (const std::string& want : expected)
        if (!lines.Next(line) || line != want)
            return WrittenLogRead::kNotAsWritten;
    Body body(lines, file, log);
    return body.Read() ? WrittenLogRead::kLoaded : WrittenLogRead::kNotAsWritten;
}

}  // namespace batchlog_detail
