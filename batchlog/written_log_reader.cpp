#include "batchlog/written_log_reader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "batchlog/fichier_log_batch.h"
#include "chapfile/kv_file_string.h"
#include "messages/paths.h"
#include "platform/file_stream.h"

namespace batchlog_detail {
namespace {

// The general reader reads lines through a 1000-byte buffer: a longer line
// would be cut into several, which this reader does not do.
constexpr std::size_t kLongestLine = 999;
constexpr std::size_t kBufferSize = 1024 * 1024;

// The first line feed in [from, to), or null; `angle` tells whether a "<"
// comes before it (or anywhere, when there is none), which few lines hold,
// so that they alone are searched for "<saut>". A log's lines are short: a
// call to memchr for each costs more than the search itself. (Without SSE2,
// byte by byte: the compiler vectorises what it can.)
const char* FindLineFeed(const char* from, const char* to, bool& angle) {
    angle = false;
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    const __m128i open = _mm_set1_epi8('<');
    for (; to - from >= 16; from += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const auto feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feed)));
        const auto opens = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, open)));
        if (feeds != 0) {
            angle = angle || (opens & ((feeds & (0u - feeds)) - 1)) != 0;
            return from + std::countr_zero(feeds);
        }
        angle = angle || opens != 0;
    }
#endif
    for (; from < to; ++from) {
        if (*from == '\n')
            return from;
        angle = angle || *from == '<';
    }
    return nullptr;
}

// The first `size` bytes of `a` and `b` are the same: inline, eight at a
// time, as a key of some twenty bytes is compared a million times.
bool SameBytes(const char* a, const char* b, std::size_t size) {
    for (; size >= 8; size -= 8, a += 8, b += 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y)
            return false;
    }
    for (; size > 0; --size)
        if (*a++ != *b++)
            return false;
    return true;
}

// The non-blank lines of a file read in binary, trimmed of blanks, tabs and
// line ends as the general reader trims them. The general reader reads in
// text mode: "\r\n" becomes "\n", and on Windows a Ctrl-Z ends the file; a
// zero byte ends its line early. Trimming takes the "\r" of every "\r\n"
// away here as well; a file holding a zero byte or a Ctrl-Z, or a line of
// more than kLongestLine bytes, is left to the general reader.
class Lines {
  public:
    explicit Lines(std::FILE* stream)
        : m_stream(stream), m_buffer(std::make_unique_for_overwrite<char[]>(kBufferSize)) {}

    // The next non-blank line; false at the end of the file and when the file
    // holds what this reader leaves to the general one (Unusable()).
    bool Next(std::string_view& line) {
        for (;;) {
            const char* start = m_buffer.get() + m_pos;
            const char* end = FindLineFeed(start, m_buffer.get() + m_end, m_angle);
            std::string_view raw;
            if (end != nullptr) {
                raw = std::string_view(start, static_cast<std::size_t>(end - start));
                m_pos += raw.size() + 1;
            } else if (!m_eof) {
                if (!Refill())
                    return false;
                continue;
            } else if (m_pos < m_end) {
                raw = std::string_view(start, m_end - m_pos);
                m_pos = m_end;
            } else {
                return false;
            }
            if (raw.size() > kLongestLine) {
                m_unusable = true;
                return false;
            }
            // By hand: find_first_not_of calls memchr for every byte.
            std::size_t first = 0;
            std::size_t last = raw.size();
            while (first < last && IsTrimmed(raw[first])) ++first;
            while (last > first && IsTrimmed(raw[last - 1])) --last;
            if (first == last)
                continue;
            line = raw.substr(first, last - first);
            return true;
        }
    }

    bool Unusable() const { return m_unusable; }
    // The line Next gave last may hold a "<" (it surely does not when false).
    bool MayHoldAngle() const { return m_angle; }

  private:
    // Most bytes are above the blank: one comparison for them.
    static bool IsTrimmed(char c) {
        return static_cast<unsigned char>(c) <= ' ' &&
               (c == ' ' || c == '\t' || c == '\n' || c == '\r');
    }

    bool Refill() {
        std::size_t kept = m_end - m_pos;
        if (kept > kLongestLine) {
            m_unusable = true;
            return false;
        }
        std::memmove(m_buffer.get(), m_buffer.get() + m_pos, kept);
        m_pos = 0;
        m_end = kept;
        std::size_t got = std::fread(m_buffer.get() + m_end, 1, kBufferSize - m_end, m_stream);
        if (got < kBufferSize - m_end) {
            m_eof = true;
            if (std::ferror(m_stream)) {
                m_unusable = true;
                return false;
            }
        }
        const char* fresh = m_buffer.get() + m_end;
        if (std::memchr(fresh, '\0', got) != nullptr ||
            std::memchr(fresh, '\x1a', got) != nullptr) {
            m_unusable = true;
            return false;
        }
        m_end += got;
        return true;
    }

    std::FILE* m_stream;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
    bool m_unusable = false;
    bool m_angle = false;
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
    Body(Lines& lines, FichierLogBatch& log) : m_lines(lines), m_log(log) {}

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
                m_line[k + 3] != '\t' && SameBytes(m_line.data(), key.data(), k)) {
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

    // The events go end to end into the log's text list, "<saut>" read as
    // a line break.
    bool ReadEvents() {
        TextList& events = m_log.m_eventList;
        std::string decoded;
        return ReadTexts(
            "Event list", FichierLogBatch::kMaxListTexts, true,
            [&](std::string_view value) {
                // One place more: a failed launch appends its event to the log
                // it has just read, and a full index would double to take it.
                if (events.IsEmpty())
                    events.Reserve(std::size_t{m_eventCount} + 1);
                // Only a line that holds a "<" is searched for the whole word.
                if (value.empty() || !m_lines.MayHoldAngle() ||
                    value.find("<saut>") == std::string_view::npos) {
                    events.AddLine(value);
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
    FichierLogBatch& m_log;
    std::string_view m_line;
    bool m_atEnd = false;
    unsigned m_eventCount = 0;
};

}  // namespace

WrittenLogRead ReadWrittenLog(const CString& path, FichierLogBatch& log) {
    if (path.IsEmpty())
        return WrittenLogRead::kNotAsWritten;
    platform::UniqueStream stream(OpenFileLinked(path, "rb"));
    if (!stream)
        return WrittenLogRead::kNotAsWritten;
    Lines lines(stream.get());
    std::string_view line;
    // The header and the version chapter, as Save writes them; a file of
    // another version goes through the general load and its conversion.
    const std::string expected[] = {"[[" + log.GetTitle().str() + "]]", "[Version]",
                                    "Version ft = " + log.GetFormatVersion().str(),
                                    "Version = " + log.GetVersion().str()};
    for (const std::string& want : expected)
        if (!lines.Next(line) || line != want)
            return WrittenLogRead::kNotAsWritten;
    Body body(lines, log);
    return body.Read() ? WrittenLogRead::kLoaded : WrittenLogRead::kNotAsWritten;
}

}  // namespace batchlog_detail
