// Message catalogues: every text the launcher shows to people is looked up by
// a numeric key in a catalogue file delivered with the installation.
//
// A catalogue file holds one message per line, "[k1,k2,k3,k4] text" (or with
// blanks between the numbers, or two numbers only), single-byte in the ANSI
// code page or UTF-16LE with its byte-order mark. CMessage reads the file once
// into a flat list, then builds a dense four-level table so that a lookup is
// four index steps. Two catalogues live for the whole run: the system
// catalogue (one file, two-number keys, empty fallback) and the user
// catalogue (a language list naming one file per language, four-number keys,
// fallback "Unknown message").
//
// Start-up loads two catalogues of many thousand messages and shows a handful
// of them, so a single-byte catalogue is kept as its texts stand in the file
// with an index by key: a text becomes a message when it is looked up, and the
// table is built only when GetTexts asks for it. Lookups answer the same
// either way. On Linux the texts are not even copied: the file stays open
// (not inherited by the jobs) and a text is read there at its first lookup,
// so a catalogue changed in place during a run gives what now stands there.
//
// Texts are returned as they are: callers concatenate them or pass them as
// arguments of their own formats, never as formats, so "%" in a text is safe.
//
// Note for Win32 code: <windows.h> defines GetMessage as a macro; this header
// is for portable code, which never includes it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "containers/cstring.h"
#include "containers/kv_liste_tab.h"
#include "messages/nested_tables.h"
#include "platform/file_stream.h"

class CMessage {
  public:
    // One language of a language list.
    struct TYPE_Langue {
        std::int32_t id = 0;  // 0-based line of the language list
        CString name;         // compared byte for byte by SelectLanguage
        CString file;         // full path of the language's catalogue file
    };

    // One message line as read, before it is stored by key.
    struct TYPE_MsgIndexe {
        std::uint32_t k1 = 0;
        std::uint32_t k2 = 0;
        std::uint32_t k3 = 0;
        std::uint32_t k4 = 0;
        CString text;  // ANSI code page
    };

    // Texts by key: [k1][k2][k3][k4].
    using TextTable = KvStringTab4;

    // A key number above this makes its line ignored: the tables are dense,
    // so one line "[4000000000,0,0,0]" would otherwise ask for billions of
    // places. Real catalogues use numbers below a few hundred.
    static constexpr std::uint32_t kMaxKeyNumber = 65535;
    // Places (table elements at all four levels) a catalogue may occupy: about
    // a million, some 40 MB. Even with numbers within the limit above, every
    // line can add a run of places at three levels, so a long hostile file
    // could still multiply its own size many thousand times; a line that
    // would take the table past this budget is ignored. A catalogue of 20,000
    // dense messages takes some 25,000 places.
    static constexpr std::uint64_t kMaxPlaces = std::uint64_t{1} << 20;
    // Buffers of the line reader: a line is read 2047 characters at a time
    // (longer lines continue as the next line, as text-mode reading with a
    // 2048-byte buffer does) and only the first 1024 characters of each piece
    // are kept. UTF-16 lines are cut the same way, so that both encodings give
    // the same messages.
    static constexpr int kLineBufferSize = 2048;
    static constexpr int kLineKept = 1024;
    // Language list lines are read with a 2000-byte buffer.
    static constexpr int kLanguageLineBufferSize = 2000;

    CMessage();
    ~CMessage();
    CMessage(const CMessage&) = delete;
    CMessage& operator=(const CMessage&) = delete;

    // Loads one catalogue file as the single language "Systeme"; true when the
    // file was opened (an empty file counts as loaded).
    bool LoadSystemCatalogue(const CString& path);
    // Reads a language list (one "name=file" per line, files relative to the
    // list's folder). True when the list opens, even if empty; loads nothing.
    // The fallback becomes "Unknown message".
    bool LoadLanguageList(const CString& listPath);
    // Loads the first language whose name equals `name` exactly; false and no
    // change when there is none.
    bool SelectLanguage(const CString& name);
    // Replaces the texts by those of the language at `index`; false (and no
    // texts) when the index is outside the list, the file name is empty or
    // the file does not open.
    bool LoadLanguage(int index);

    // The text of a message, or the fallback when it is missing or empty. A
    // text that starts or ends with a double quote loses that quote, in the
    // stored entry too, so each lookup of a doubly quoted text peels one pair.
    CString GetMessage(std::uint32_t k1, std::uint32_t k2, std::uint32_t k3, std::uint32_t k4);
    CString GetMessage(std::uint32_t k1, std::uint32_t k2) { return GetMessage(k1, k2, 0, 0); }

    const CString& GetFallback() const { return m_fallback; }
    int GetCurrentLanguage() const { return m_currentLanguage; }
    // The language list (null before any load); read-only view for callers.
    const KvListeTabFixe<TYPE_Langue>* GetLanguages() const { return m_languages.get(); }
    // The loaded table (null when no catalogue file is loaded), built on the
    // first call for a single-byte catalogue. Every key of the file has its
    // place; the text of a single-byte catalogue is put in its place when
    // GetMessage first asks for it.
    const TextTable* GetTexts();

    // Reads one line of a catalogue stream into `line`; false at the end of
    // the file. `unicode`: UTF-16LE units, a line ending at U+000A or U+000D
    // (so CR LF gives an extra empty line); `first` skips the two bytes of the
    // byte-order mark. Otherwise single-byte text, each byte taken as the
    // character of the same code, the final line feed removed.
    static bool ReadCatalogueLine(std::FILE* stream, bool unicode, bool first,
                                  std::u16string& line);
    // Turns one line into a message; false for every line that is not one
    // (no "[" first, no "]", a header no form accepts, a number below zero or
    // above kMaxKeyNumber).
    static bool ParseMessageLine(std::u16string_view line, TYPE_MsgIndexe& message);
    // The same for a single-byte line, each byte taken as the character of the
    // same code: the message is the one ParseMessageLine gives for the line
    // widened unit by unit, without the widening.
    static bool ParseMessageBytes(std::string_view line, TYPE_MsgIndexe& message);

  private:
    class TableExtent;

    CString m_fallback;
    std::int32_t m_currentLanguage = 0;
    std::unique_ptr<KvListeTabFixe<TYPE_Langue>> m_languages;
    std::unique_ptr<TextTable> m_texts;
    // Exists only while a catalogue file is being loaded.
    std::unique_ptr<KvListeTabFixe<TYPE_MsgIndexe>> m_pending;

    // A catalogue file was loaded (its table may not be built yet).
    bool m_loaded = false;
    // The sizes of the table's levels, kept for its building (for a
    // single-byte catalogue, counted when the table is built).
    std::unique_ptr<TableExtent> m_extent;

    // The texts of a single-byte catalogue as they stand in the file, turned
    // into message texts only when looked up. Sixteen bytes an entry, so that
    // a large catalogue's index touches few pages: a text is at most
    // kLineKept bytes long.
    struct RawText {
        std::uint64_t key = 0;  // k1..k4, 16 bits each
        // Its position (52 bits), its length (11) and whether it was taken
        // (1): its message text is in its place or in m_looked. Packed by
        // hand, not as bit-fields, whose first store reads the word: in fresh
        // memory that read brings in a zero page that the write then
        // replaces, two faults for each page of the index instead of one.
        std::uint64_t place = 0;

        static RawText Of(std::uint64_t key, std::uint64_t offset, std::size_t length) {
            return {key, (offset & kOffsetMask) | (std::uint64_t{length} << 52)};
        }
        std::uint64_t Offset() const { return place & kOffsetMask; }
        std::size_t Length() const { return static_cast<std::size_t>((place >> 52) & 0x7FF); }
        bool Taken() const { return (place >> 63) != 0; }
        void Take() { place |= std::uint64_t{1} << 63; }

      private:
        static constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << 52) - 1;
    };
    static_assert(kLineKept < (1 << 11), "a kept line's length fits its 11 bits");
    RawText* FindRawText(std::uint64_t key);
    void TakeRawText(std::uint64_t key, CString& place);
    // The place of a message of a single-byte catalogue before its table is
    // built; null when there is none.
    CString* LookedUp(std::uint64_t key);
    // Reads the lines of a single-byte catalogue into the raw index, each
    // line checked against the table's budget when `admitEach`; closes the
    // stream.
    void LoadBytes(std::FILE* stream, bool admitEach);
    static std::uint64_t PlacesOf(const std::vector<RawText>& index);
    void BuildTable();
    // No catalogue loaded any more.
    void Forget();
    // Where the raw texts are: copied into m_rawTexts, or (where the host
    // reads the file's bytes as they are) left in the file, kept open and
    // read again when a text is looked up. A launcher looks up a few dozen
    // of a catalogue's tens of thousands of texts, and fresh memory is most
    // of what a copy costs at start-up (about 2 us a page).
    platform::UniqueStream m_rawSource;
    std::string m_rawTexts;
    std::vector<RawText> m_rawIndex;  // by key, the last line of each key
    // Texts looked up before the table was built, by key; they move into
    // their places when it is, at the latest once this many are.
    static constexpr std::size_t kLookedUpBeforeTable = 64;
    std::vector<std::pair<std::uint64_t, CString>> m_looked;
};

// The two catalogues of the program, alive from static initialisation to exit.
extern CMessage g_userMessages;    // language list from "FILEMSGU_TORVANE"
extern CMessage g_systemMessages;  // one file from "FILEMSGSYS"
