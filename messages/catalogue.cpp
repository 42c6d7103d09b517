#include "messages/catalogue.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "messages/paths.h"
#include "platform/codepage.h"
#include "platform/file_stream.h"

CMessage g_userMessages;
CMessage g_systemMessages;

namespace {

constexpr std::uint32_t kLanguageBlockSize = 10;
constexpr std::uint32_t kSystemLanguageBlockSize = 1;
constexpr std::uint32_t kPendingBlockSize = 1000;

template <typename Char>
bool IsScanSpace(Char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// The header scan forms of a message line, tried in this order:
//   "[ %d %d %d %d", "[%d,%d,%d,%d", "[ %d %d", "[%d,%d".
// Scanning follows the rules of the runtime's scanf: a blank of the form
// matches any run of whitespace (also none), "%d" skips whitespace and takes
// an optional sign and at least one digit, "," must be the very next
// character. Returns how many numbers were converted before the first
// mismatch; the header never includes the "]".
template <typename Char>
int ScanHeader(std::basic_string_view<Char> header, bool commas, int wanted,
               std::int64_t* numbers) {
    std::size_t pos = 1;  // past "["
    const auto skipSpace = [&] {
        while (pos < header.size() && IsScanSpace(header[pos])) ++pos;
    };
    for (int n = 0; n < wanted; ++n) {
        if (n > 0 && commas) {
            if (pos >= header.size() || header[pos] != ',')
                return n;
            ++pos;
        }
        skipSpace();
        bool negative = false;
        if (pos < header.size() && (header[pos] == '+' || header[pos] == '-')) {
            negative = header[pos] == '-';
            ++pos;
        }
        std::size_t digits = 0;
        std::int64_t value = 0;
        while (pos < header.size() && header[pos] >= '0' && header[pos] <= '9') {
            // Saturate: anything this large is refused by the caller anyway.
            if (value <= CMessage::kMaxKeyNumber)
                value = value * 10 + (header[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0)
            return n;
        numbers[n] = negative ? -value : value;
    }
    return wanted;
}

// A header made only of numbers and the commas between them, the form the
// installation's catalogues use, read in one pass from just past the "[" to
// the first "]" (its place in `close`): how many numbers it holds (the first
// four in `numbers`), or -1 for any other header, which the scan forms then
// read. The numbers saturate as the scan's do. It answers as the forms do: no
// blank or sign can make a blank form take more numbers.
template <typename Char>
int ScanPlainHeader(std::basic_string_view<Char> line, std::int64_t* numbers, std::size_t& close) {
    int count = 0;
    std::int64_t value = 0;
    bool digits = false;
    for (std::size_t pos = 1;; ++pos) {  // past "["
        if (pos >= line.size())
            return -1;
        const Char c = line[pos];
        if (c >= '0' && c <= '9') {
            if (value <= CMessage::kMaxKeyNumber)
                value = value * 10 + (c - '0');
            digits = true;
        } else if (c == ',' && digits) {
            if (count < 4)
                numbers[count] = value;
            ++count;
            value = 0;
            digits = false;
        } else if (c == ']') {
            close = pos;
            break;
        } else {
            return -1;
        }
    }
    if (!digits)
        return -1;
    if (count < 4)
        numbers[count] = value;
    return count + 1;
}

}  // namespace

// The sizes of every table level, kept while lines are read so that the
// table can be built without searching the messages, and so that a line
// that would take the table past kMaxPlaces can be refused as it comes.
// Every level-1 place costs at least four places (itself, one level-2
// place, one level-3 place, one string), every further level-2 place three,
// and so on.
class CMessage::TableExtent {
  public:
    bool Admit(const CMessage::TYPE_MsgIndexe& m) {
        const std::uint64_t key1 = m.k1;
        const std::uint64_t key2 = (key1 << 16) | m.k2;
        const std::uint64_t key3 = (key2 << 16) | m.k3;
        const std::uint32_t old2 = Size(m_n2, key1);
        const std::uint32_t old3 = Size(m_n3, key2);
        const std::uint32_t old4 = Size(m_n4, key3);
        std::uint64_t added = 0;
        if (m.k1 >= m_n1)
            added += (std::uint64_t{m.k1} + 1 - m_n1) * 4;
        if (m.k2 >= old2)
            added += (std::uint64_t{m.k2} + 1 - old2) * 3;
        if (m.k3 >= old3)
            added += (std::uint64_t{m.k3} + 1 - old3) * 2;
        if (m.k4 >= old4)
            added += std::uint64_t{m.k4} + 1 - old4;
        if (m_places + added > CMessage::kMaxPlaces)
            return false;
        m_places += added;
        if (m.k1 >= m_n1)
            m_n1 = m.k1 + 1;
        if (m.k2 >= old2)
            m_n2[key1] = m.k2 + 1;
        if (m.k3 >= old3)
            m_n3[key2] = m.k3 + 1;
        if (m.k4 >= old4)
            m_n4[key3] = m.k4 + 1;
        return true;
    }

    // Sizes of the tables; a prefix no message uses has one place.
    std::uint32_t Size1() const { return m_n1 == 0 ? 1 : m_n1; }
    std::uint32_t Size2(std::uint32_t i) const { return Size(m_n2, i); }
    std::uint32_t Size3(std::uint32_t i, std::uint32_t j) const {
        return Size(m_n3, (std::uint64_t{i} << 16) | j);
    }
    std::uint32_t Size4(std::uint32_t i, std::uint32_t j, std::uint32_t k) const {
        return Size(m_n4, (((std::uint64_t{i} << 16) | j) << 16) | k);
    }

  private:
    using SizeMap = std::unordered_map<std::uint64_t, std::uint32_t>;
    static std::uint32_t Size(const SizeMap& map, std::uint64_t key) {
        const auto found = map.find(key);
        return found == map.end() ? 1 : found->second;
    }

    std::uint32_t m_n1 = 0;  // largest k1 + 1, 0 while there is no message
    SizeMap m_n2, m_n3, m_n4;
    std::uint64_t m_places = 0;
};

namespace {

// Answers whether a catalogue file is UTF-16: its first byte is 0xFF. The
// file is opened plainly, without looking for shortcuts; a file that does not
// open or is empty is not Unicode.
bool IsUnicodeFile(const CString& path) {
    std::FILE* stream = platform::OpenStream(path.str(), "r");
    if (stream == nullptr)
        return false;
    const int first = std::fgetc(stream);
    std::fclose(stream);
    return first == 0xFF;
}

// The single-byte catalogue lines as ReadCatalogueLine reads them, their
// bytes kept as they are, read a block at a time from a stream opened in
// platform::LineReadMode(): the pieces that fgets with a buffer of
// kLineBufferSize bytes would give (at most kLineBufferSize - 1 bytes, through
// a line feed), each up to its first zero byte, of which the first kLineKept
// bytes are kept, without the final line feed of a piece kept whole.
// Where that mode keeps a "\r\n" as it is, the "\r" stays before the line
// feed that ends its piece. The messages are the same as from the text
// stream: a text drops a "\r" at its end as it drops the line feed, and the
// pieces still start where the text stream's do (one cut just before a
// line feed leaves an empty piece, which is no message).
class ByteLines {
  public:
    explicit ByteLines(std::FILE* stream)
        : m_stream(stream), m_buffer(std::make_unique_for_overwrite<char[]>(kSize)) {}

    bool Next(std::string_view& line) {
        std::string_view piece;
        if (!NextPiece(piece))
            return false;
        const void* zero = m_zeros ? std::memchr(piece.data(), '\0', piece.size()) : nullptr;
        std::size_t length =
            zero != nullptr
                ? static_cast<std::size_t>(static_cast<const char*>(zero) - piece.data())
                : piece.size();
        if (length >= static_cast<std::size_t>(CMessage::kLineKept))
            length = CMessage::kLineKept;
        else if (length > 0 && piece[length - 1] == '\n')
            --length;
        line = piece.substr(0, length);
        return true;
    }

    // The position in the file of a byte of the last line.
    std::uint64_t PositionOf(const char* byte) const {
        return m_consumed + static_cast<std::uint64_t>(byte - m_buffer.get());
    }

  private:
    static constexpr std::size_t kSize = 64 * 1024;
    static constexpr std::size_t kLongest = CMessage::kLineBufferSize - 1;

    bool NextPiece(std::string_view& piece) {
        for (;;) {
            const char* start = m_buffer.get() + m_pos;
            const std::size_t available = m_end - m_pos;
            const std::size_t window = std::min(available, kLongest);
            if (const void* feed = std::memchr(start, '\n', window)) {
                piece = std::string_view(start, static_cast<const char*>(feed) - start + 1);
                m_pos += piece.size();
                return true;
            }
            if (available >= kLongest || (m_eof && available > 0)) {
                piece = std::string_view(start, window);
                m_pos += window;
                return true;
            }
            if (m_eof)
                return false;
            const std::size_t kept = m_end - m_pos;
            std::memmove(m_buffer.get(), start, kept);
            m_consumed += m_pos;
            m_pos = 0;
            m_end = kept;
            const std::size_t wanted = kSize - m_end;
            const std::size_t got = std::fread(m_buffer.get() + m_end, 1, wanted, m_stream);
            m_end += got;
            m_eof = got < wanted;  // the end of the file, or an error
            m_zeros = std::memchr(m_buffer.get(), '\0', m_end) != nullptr;
        }
    }

    std::FILE* m_stream;
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    std::uint64_t m_consumed = 0;  // the file's bytes before the buffer's
    bool m_eof = false;
    bool m_zeros = false;  // the buffer holds a zero byte
};

void StripLineEnd(std::string& line) {
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
}

template <typename Char>
bool ParseHeader(std::basic_string_view<Char> line, CMessage::TYPE_MsgIndexe& message,
                 std::basic_string_view<Char>& text);
std::uint64_t PackedKey(std::uint32_t k1, std::uint32_t k2, std::uint32_t k3, std::uint32_t k4);
// Key number `level` (0 to 3, k1 to k4) of a packed key.
std::uint32_t KeyPart(std::uint64_t key, int level) {
    return static_cast<std::uint32_t>((key >> (48 - 16 * level)) & 0xFFFF);
}
void MessageText(std::string_view raw, CString& out);

}  // namespace

CMessage::CMessage() = default;
CMessage::~CMessage() = default;

bool CMessage::LoadSystemCatalogue(const CString& path) {
    m_languages = std::make_unique<KvListeTabFixe<TYPE_Langue>>(kSystemLanguageBlockSize);
    TYPE_Langue* language = m_languages->NewElement();
    language->id = 0;
    language->name = "Systeme";
    language->file = path;
    return LoadLanguage(0);
}

bool CMessage::LoadLanguageList(const CString& listPath) {
    m_fallback = "Unknown message";
    m_languages = std::make_unique<KvListeTabFixe<TYPE_Langue>>(kLanguageBlockSize);
    Forget();

    std::FILE* stream = OpenFileLinked(listPath, "r");
    if (stream == nullptr)
        return false;

    // The catalogue files lie beside the list. A list path without any
    // separator names a list in the current folder, so its files are taken
    // from there too (bare names, not "\name", which would mean the root).
    const std::string& list = listPath.str();
    const std::size_t separator = list.find_last_of("\\/");
    const std::string folder =
        separator == std::string::npos ? std::string() : list.substr(0, separator) + "\\";

    char buffer[kLanguageLineBufferSize];
    std::int32_t lineNumber = 0;
    while (std::fgets(buffer, sizeof buffer, stream) != nullptr) {
        std::string line(buffer, std::strlen(buffer));
        TYPE_Langue* language = m_languages->NewElement();
        if (language == nullptr)
            break;  // beyond the list's own limit of places
        language->id = lineNumber++;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) {
            // Still a language, so that the positions follow the lines, but
            // one without a file: selecting it loads nothing.
            StripLineEnd(line);
            language->name = line;
            continue;
        }
        language->name = line.substr(0, equals);
        // The file name ends at the first control byte. Bytes from 0x80 up
        // are letters of the code page ("Fran\xE7ais.txt") and stay.
        std::size_t end = equals + 1;
        while (end < line.size() && static_cast<unsigned char>(line[end]) >= 0x20) ++end;
        language->file = folder + line.substr(equals + 1, end - equals - 1);
    }
    std::fclose(stream);
    return true;
}

bool CMessage::SelectLanguage(const CString& name) {
    if (m_languages == nullptr)
        return false;
    const std::uint32_t count = m_languages->GetCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (m_languages->GetAt(static_cast<int>(i))->name.str() == name.str())
            return LoadLanguage(static_cast<int>(i));
    }
    return false;
}

void CMessage::Forget() {
    m_texts.reset();
    m_loaded = false;
    m_extent.reset();
    m_rawSource.reset();
    m_rawTexts = std::string();
    m_rawIndex = std::vector<RawText>();
    m_looked.clear();
}

bool CMessage::LoadLanguage(int index) {
    m_currentLanguage = index;
    Forget();
    // The list grows when it is indexed past its end; an index outside it
    // (a negative one would be a huge unsigned index) loads nothing instead.
    if (m_languages == nullptr || index < 0 ||
        static_cast<std::uint32_t>(index) >= m_languages->GetCount())
        return false;
    const CString file = m_languages->GetAt(index)->file;
    if (file.IsEmpty())
        return false;

    const bool unicode = IsUnicodeFile(ResolveLinkedPath(file));
    std::FILE* stream = OpenFileWide(file, unicode ? "rb" : platform::LineReadMode());
    if (stream == nullptr)
        return false;

    if (!unicode) {
        // Parsed as bytes: the same messages as their widened form gives,
        // without widening every line and narrowing it back. The texts are
        // kept raw until they are looked up. The table's budget is checked
        // once for all keys: the places only grow line by line, so when all
        // keys fit, no line was over the budget when it came. A file that
        // does not fit is read again, line by line against the budget.
        LoadBytes(stream, false);
        if (m_rawIndex.empty() || PlacesOf(m_rawIndex) <= kMaxPlaces) {
            m_loaded = true;
            return true;
        }
        m_rawIndex.clear();
        m_rawTexts.clear();
        stream = OpenFileWide(file, platform::LineReadMode());
        if (stream == nullptr)
            return false;
        m_extent = std::make_unique<TableExtent>();
        LoadBytes(stream, true);
        m_loaded = true;
        return true;
    }

    m_extent = std::make_unique<TableExtent>();
    m_pending = std::make_unique<KvListeTabFixe<TYPE_MsgIndexe>>(kPendingBlockSize);
    std::uint32_t count = 0;
    std::u16string line;
    TYPE_MsgIndexe message;
    for (bool first = true; ReadCatalogueLine(stream, true, first, line); first = false) {
        if (!ParseMessageLine(line, message) || !m_extent->Admit(message))
            continue;
        // The list refuses places beyond its own limit (16 Mi lines).
        TYPE_MsgIndexe* stored = m_pending->GetAt(static_cast<int>(count));
        if (stored == nullptr)
            break;
        ++count;
        stored->k1 = message.k1;
        stored->k2 = message.k2;
        stored->k3 = message.k3;
        stored->k4 = message.k4;
        stored->text.str().swap(message.text.str());
    }
    std::fclose(stream);
    BuildTable();
    // In file order, so that the last line of a key wins.
    for (std::uint32_t n = 0; n < count; ++n) {
        TYPE_MsgIndexe* m = m_pending->GetAt(static_cast<int>(n));
        CString* place = GetTextPlace(*m_texts, static_cast<int>(m->k1), static_cast<int>(m->k2),
                                      static_cast<int>(m->k3), static_cast<int>(m->k4));
        place->str().swap(m->text.str());
    }
    m_pending.reset();
    m_loaded = true;
    return true;
}

void CMessage::LoadBytes(std::FILE* stream, bool admitEach) {
    // Texts left in the file are read again when looked up; copied ones take
    // at most the file's size: one allocation for them instead of a string
    // that doubles (and copies itself) as they come. The index has room for
    // lines of 32 bytes and more (message lines are longer). Never more than
    // for 16 MiB: a huge file of anything but messages takes no more than
    // that ahead.
    const bool leftInFile = platform::LineReadKeepsPositions();
    constexpr long kReservedUpTo = 16L << 20;
    if (std::fseek(stream, 0, SEEK_END) == 0) {
        const long size = std::ftell(stream);
        std::rewind(stream);
        if (size > 0) {
            const auto expected = static_cast<std::size_t>(std::min(size, kReservedUpTo));
            if (!leftInFile)
                m_rawTexts.reserve(expected);
            m_rawIndex.reserve(expected / 32);
        }
    }
    ByteLines lines(stream);
    std::string_view line;
    std::string_view raw;
    TYPE_MsgIndexe message;
    while (lines.Next(line)) {
        if (!ParseHeader(line, message, raw) || (admitEach && !m_extent->Admit(message)))
            continue;
        m_rawIndex.push_back(
            RawText::Of(PackedKey(message.k1, message.k2, message.k3, message.k4),
                        leftInFile ? lines.PositionOf(raw.data()) : m_rawTexts.size(), raw.size()));
        if (!leftInFile)
            m_rawTexts.append(raw);
    }
    if (leftInFile)
        m_rawSource.reset(stream);
    else
        std::fclose(stream);
    // By key, the last line of a key winning as it would in file order. An
    // installation's catalogue comes in key order, each key once: one pass
    // finds that there is nothing to do.
    const auto notBefore = [](const RawText& a, const RawText& b) { return a.key >= b.key; };
    if (std::adjacent_find(m_rawIndex.begin(), m_rawIndex.end(), notBefore) == m_rawIndex.end())
        return;
    const auto byKey = [](const RawText& a, const RawText& b) { return a.key < b.key; };
    if (!std::is_sorted(m_rawIndex.begin(), m_rawIndex.end(), byKey))
        std::stable_sort(m_rawIndex.begin(), m_rawIndex.end(), byKey);
    std::size_t kept = 0;
    for (std::size_t n = 0; n < m_rawIndex.size(); ++n) {
        if (kept > 0 && m_rawIndex[kept - 1].key == m_rawIndex[n].key)
            --kept;
        m_rawIndex[kept++] = m_rawIndex[n];
    }
    m_rawIndex.resize(kept);
}

// The places the table of these keys (sorted, each once) takes, counted as
// TableExtent counts them: four for each level-1 place, and for each prefix
// three, two or one for every place of its level-2, -3 or -4 table past the
// first. In key order, the last key of a prefix holds the largest number of
// the level below it.
std::uint64_t CMessage::PlacesOf(const std::vector<RawText>& index) {
    std::uint64_t places = ((index.back().key >> 48) + 1) * 4;
    for (std::size_t n = 0; n < index.size(); ++n) {
        const std::uint64_t key = index[n].key;
        const std::uint64_t next = n + 1 < index.size() ? index[n + 1].key : ~key;
        if ((key >> 16) != (next >> 16))
            places += key & 0xFFFF;
        if ((key >> 32) != (next >> 32))
            places += ((key >> 16) & 0xFFFF) * 2;
        if ((key >> 48) != (next >> 48))
            places += ((key >> 32) & 0xFFFF) * 3;
    }
    return places;
}

void CMessage::BuildTable() {
    // Every table is exactly as long as the largest number used under its
    // prefix plus one, and never grows afterwards. A single-byte catalogue
    // that fitted its budget has its extent counted only now.
    if (m_extent == nullptr) {
        m_extent = std::make_unique<TableExtent>();
        for (const RawText& entry : m_rawIndex) {
            TYPE_MsgIndexe message;
            message.k1 = KeyPart(entry.key, 0);
            message.k2 = KeyPart(entry.key, 1);
            message.k3 = KeyPart(entry.key, 2);
            message.k4 = KeyPart(entry.key, 3);
            m_extent->Admit(message);
        }
    }
    const TableExtent& extent = *m_extent;
    auto texts = std::make_unique<TextTable>();
    const std::uint32_t n1 = extent.Size1();
    texts->Allocate(n1);
    for (std::uint32_t i = 0; i < n1; ++i) {
        auto* level2 = texts->GetAt(i);
        const std::uint32_t n2 = extent.Size2(i);
        level2->Allocate(n2);
        for (std::uint32_t j = 0; j < n2; ++j) {
            auto* level3 = level2->GetAt(j);
            const std::uint32_t n3 = extent.Size3(i, j);
            level3->Allocate(n3);
            for (std::uint32_t k = 0; k < n3; ++k)
                level3->GetAt(k)->Allocate(extent.Size4(i, j, k));
        }
    }
    m_texts = std::move(texts);
    m_extent.reset();
    // The texts looked up so far go into their places as they stand now.
    for (auto& [key, text] : m_looked) {
        CString* place = GetTextPlace(
            *m_texts, static_cast<int>(KeyPart(key, 0)), static_cast<int>(KeyPart(key, 1)),
            static_cast<int>(KeyPart(key, 2)), static_cast<int>(KeyPart(key, 3)));
        place->str().swap(text.str());
    }
    m_looked.clear();
}

const CMessage::TextTable* CMessage::GetTexts() {
    if (m_loaded && m_texts == nullptr)
        BuildTable();
    return m_texts.get();
}

CMessage::RawText* CMessage::FindRawText(std::uint64_t key) {
    const auto found = std::lower_bound(
        m_rawIndex.begin(), m_rawIndex.end(), key,
        [](const RawText& entry, std::uint64_t wanted) { return entry.key < wanted; });
    return found == m_rawIndex.end() || found->key != key ? nullptr : &*found;
}

void CMessage::TakeRawText(std::uint64_t key, CString& place) {
    RawText* found = FindRawText(key);
    if (found == nullptr || found->Taken())
        return;
    if (m_rawSource == nullptr) {
        MessageText(std::string_view(m_rawTexts).substr(found->Offset(), found->Length()), place);
    } else {
        // A file changed since its load gives what now stands there, or less.
        char bytes[kLineKept];
        std::size_t got = 0;
        if (std::fseek(m_rawSource.get(), static_cast<long>(found->Offset()), SEEK_SET) == 0)
            got = std::fread(bytes, 1, found->Length(), m_rawSource.get());
        MessageText(std::string_view(bytes, got), place);
    }
    found->Take();
}

CString* CMessage::LookedUp(std::uint64_t key) {
    // By key, so that a caller asking for the same few dozen keys again and
    // again (a users list, record after record) finds each in a few steps.
    const auto found = std::lower_bound(m_looked.begin(), m_looked.end(), key,
                                        [](const std::pair<std::uint64_t, CString>& entry,
                                           std::uint64_t wanted) { return entry.first < wanted; });
    if (found != m_looked.end() && found->first == key)
        return &found->second;
    // A key the file does not hold has an empty place, or none: no text.
    if (FindRawText(key) == nullptr)
        return nullptr;
    CString& text = m_looked.emplace(found, key, CString())->second;
    TakeRawText(key, text);
    return &text;
}

CString CMessage::GetMessage(std::uint32_t k1, std::uint32_t k2, std::uint32_t k3,
                             std::uint32_t k4) {
    if (!m_loaded || k1 > kMaxKeyNumber || k2 > kMaxKeyNumber || k3 > kMaxKeyNumber ||
        k4 > kMaxKeyNumber)
        return m_fallback;
    const std::uint64_t key = PackedKey(k1, k2, k3, k4);
    // A catalogue asked for many messages is better served by its table.
    if (m_texts == nullptr && m_looked.size() >= kLookedUpBeforeTable)
        BuildTable();
    CString* text = nullptr;
    if (m_texts == nullptr) {
        text = LookedUp(key);
    } else {
        // The tables never grow (increment 0), so a key beyond them has no
        // place.
        text = GetTextPlace(*m_texts, static_cast<int>(k1), static_cast<int>(k2),
                            static_cast<int>(k3), static_cast<int>(k4));
        if (text != nullptr && !m_rawIndex.empty())
            TakeRawText(key, *text);
    }
    if (text == nullptr)
        return m_fallback;
    // The quotes go from the stored text itself, which is how a text keeps
    // the blanks inside its quotes and why a doubly quoted text loses one
    // pair per lookup.
    std::string& s = text->str();
    if (!s.empty() && s.front() == '"')
        s.erase(0, 1);
    if (!s.empty() && s.back() == '"')
        s.pop_back();
    return s.empty() ? m_fallback : *text;
}

bool CMessage::ReadCatalogueLine(std::FILE* stream, bool unicode, bool first,
                                 std::u16string& line) {
    line.clear();
    if (!unicode) {
        char buffer[kLineBufferSize];
        if (std::fgets(buffer, sizeof buffer, stream) == nullptr)
            return false;
        int length = 0;
        while (length < kLineKept && buffer[length] != '\0') ++length;
        const bool zeroFound = length < kLineKept;
        if (zeroFound && length > 0 && buffer[length - 1] == '\n')
            --length;
        line.resize(static_cast<std::size_t>(length));
        for (int i = 0; i < length; ++i)
            line[static_cast<std::size_t>(i)] =
                static_cast<char16_t>(static_cast<unsigned char>(buffer[i]));
        return true;
    }

    if (first && (std::fgetc(stream) == EOF || std::fgetc(stream) == EOF))
        return false;
    int low = std::fgetc(stream);
    if (low == EOF)
        return false;
    // Cut like a single-byte line: at most kLineBufferSize - 1 units per line
    // (the rest goes on as the next line), of which the first kLineKept are
    // kept, so both encodings give the same messages.
    char16_t kept[kLineKept];
    int read = 0;
    for (;;) {
        const int high = std::fgetc(stream);
        if (high == EOF)
            break;
        const auto unit = static_cast<char16_t>(high * 256 + low);
        if (unit == u'\n' || unit == u'\r')
            break;
        if (read < kLineKept)
            kept[read] = unit;
        if (++read == kLineBufferSize - 1)
            break;
        low = std::fgetc(stream);
        if (low == EOF)
            break;
    }
    line.assign(kept, static_cast<std::size_t>(read < kLineKept ? read : kLineKept));
    return true;
}

namespace {

// The text of a message, `raw` with every "\\t" turned into a tab, in the
// ANSI code page. Single-byte lines take each byte as the character of the
// same code, as UTF-16 lines take each unit, so both go through the same
// conversion; bytes below 0x80 and from 0xA0 up are their own ANSI bytes and
// need none, so a single-byte text is built in place.
template <typename Char>
void Unescape(std::basic_string_view<Char> raw, std::basic_string<Char>& text) {
    text.resize(raw.size());
    std::size_t length = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 't') {
            text[length++] = '\t';
            ++i;
        } else {
            text[length++] = raw[i];
        }
    }
    text.resize(length);
}

void MessageText(std::u16string_view raw, CString& out) {
    std::u16string text;
    Unescape(raw, text);
    out = platform::WideToAnsi(text);
}

void MessageText(std::string_view raw, CString& out) {
    std::string text;
    text.reserve(raw.size());
    Unescape(raw, text);
    for (char ch : text) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x80 && byte < 0xA0) {
            std::u16string units(text.size(), u'\0');
            for (std::size_t i = 0; i < text.size(); ++i)
                units[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
            text = platform::WideToAnsi(units);
            break;
        }
    }
    out.str().swap(text);
}

// The keys of a message line and its raw text (the part after "]", without
// the blanks and tabs before it and the tabs and line ends after it); false
// for every line that is not a message.
template <typename Char>
bool ParseHeader(std::basic_string_view<Char> line, CMessage::TYPE_MsgIndexe& message,
                 std::basic_string_view<Char>& text) {
    if (line.empty() || line.front() != '[')
        return false;
    std::int64_t numbers[4] = {0, 0, 0, 0};
    std::size_t close = 0;
    const int plain = ScanPlainHeader(line, numbers, close);
    if (plain >= 0) {
        // Two or three numbers make a two-number key.
        if (plain < 2)
            return false;
        if (plain < 4)
            numbers[2] = numbers[3] = 0;
    } else {
        // A "[" without any "]" has no text; it is not a message.
        close = line.find(Char(']'));
        if (close == std::basic_string_view<Char>::npos)
            return false;
        const std::basic_string_view<Char> header = line.substr(0, close);
        // The forms are tried blanks first, four numbers before two. A form
        // with commas and one with blanks never both take two numbers (the
        // first number is followed either by a comma or not), so one scan of
        // each answers all four forms.
        std::int64_t commas[4] = {0, 0, 0, 0};
        std::int64_t blanks[4] = {0, 0, 0, 0};
        const int byCommas = ScanHeader(header, true, 4, commas);
        const int byBlanks = byCommas == 4 ? 0 : ScanHeader(header, false, 4, blanks);
        const std::int64_t* found = byCommas == 4 ? commas : blanks;
        if (byCommas != 4 && byBlanks != 4) {
            if (byBlanks < 2 && byCommas < 2)
                return false;
            found = byBlanks >= 2 ? blanks : commas;
        }
        const bool four = byCommas == 4 || byBlanks == 4;
        numbers[0] = found[0];
        numbers[1] = found[1];
        numbers[2] = four ? found[2] : 0;
        numbers[3] = four ? found[3] : 0;
    }
    for (const std::int64_t number : numbers) {
        if (number < 0 || number > CMessage::kMaxKeyNumber)
            return false;
    }

    const std::basic_string_view<Char> raw = line.substr(close + 1);
    std::size_t begin = 0;
    while (begin < raw.size() && (raw[begin] == ' ' || raw[begin] == '\t')) ++begin;
    std::size_t end = raw.size();
    while (end > begin && (raw[end - 1] == '\t' || raw[end - 1] == '\n' || raw[end - 1] == '\r'))
        --end;
    text = raw.substr(begin, end - begin);

    message.k1 = static_cast<std::uint32_t>(numbers[0]);
    message.k2 = static_cast<std::uint32_t>(numbers[1]);
    message.k3 = static_cast<std::uint32_t>(numbers[2]);
    message.k4 = static_cast<std::uint32_t>(numbers[3]);
    return true;
}

// `line` as the readers give it: a zero ends it, as it ends their buffer
// (ByteLines cuts its lines there itself).
template <typename Char>
bool ParseMessage(std::basic_string_view<Char> line, CMessage::TYPE_MsgIndexe& message) {
    line = line.substr(0, line.find(Char(0)));
    std::basic_string_view<Char> raw;
    if (!ParseHeader(line, message, raw))
        return false;
    MessageText(raw, message.text);
    return true;
}

std::uint64_t PackedKey(std::uint32_t k1, std::uint32_t k2, std::uint32_t k3, std::uint32_t k4) {
    return (std::uint64_t{k1} << 48) | (std::uint64_t{k2} << 32) | (std::uint64_t{k3} << 16) | k4;
}

}  // namespace

bool CMessage::ParseMessageLine(std::u16string_view line, TYPE_MsgIndexe& message) {
    return ParseMessage(line, message);
}

bool CMessage::ParseMessageBytes(std::string_view line, TYPE_MsgIndexe& message) {
    return ParseMessage(line, message);
}
