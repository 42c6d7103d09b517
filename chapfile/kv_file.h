// KvFile: one chaptered text file, read and written through the same
// exchange code.
//
// A file on disk looks like this (Save writes exactly these empty lines):
//
//   [[Liste utilisateurs]]          header line: the file's title
//
//
//
//
//   [Version]
//
//
//   Version ft = 0.2                the chaptered format's own version
//   Version = 0.2                   the content version of the class
//
//
//   ... the class's chapters: "[Name]" heads followed by "Key = Value" lines
//
// Save opens the file, writes the header and the version chapter and calls
// ExchangeContents() with the file in writing mode: every Chapter/ExchangeValue
// call then appends a line. Load parses the whole file into chapters, checks
// the header and the versions and calls the same ExchangeContents() in reading
// mode: Chapter selects a parsed chapter and ExchangeValue looks its key up
// there and stores the converted value into the caller's variable. A chapter
// or key the file lacks leaves the variable as it was, so objects keep their
// defaults when they read an older or damaged file.
//
// Chapter and key lookups go through indexes (first in file order wins, names
// and keys without regard to case), so loading and saving are linear in the
// size of the file. Lines longer than 999 characters are read in pieces of 999
// characters, each a line of its own, as the simulator's own reader does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "chapfile/first_index.h"
#include "chapfile/kv_file_chapter.h"
#include "chapfile/kv_file_string.h"
#include "chapfile/kv_object_file.h"
#include "containers/cstring.h"
#include "containers/kv_liste.h"
#include "platform/file_stream.h"

// Appends `text` as a value line holds it: "\r\n" and a lone "\n" become
// "<saut>", everything else stays as it is.
void AppendTextValue(std::string& out, std::string_view text);

class KvFile : public KvObjetFile {
  public:
    enum OpenMode { kNone = 0, kReading = 1, kWriting = 2 };

    // `title` names the file in its header line, `version` is the content
    // version this class writes and expects.
    KvFile(const CString& title, const CString& version);
    ~KvFile() override;
    KvFile(const KvFile&) = delete;
    KvFile& operator=(const KvFile&) = delete;

    virtual bool IsModified() const { return m_modified; }
    virtual void SetModified(bool modified) { m_modified = modified; }
    // Save(GetPath()): the path of the last Save or Load.
    virtual int Save() { return Save(m_path); }
    // Writes the whole file: kSaved, or kNotWritten for an empty path or a
    // file that cannot be opened for writing (nothing written then).
    virtual int Save(const CString& path);
    // Reads the whole file: kLoaded; kNotThisFile for an empty path, an
    // unreadable file, no chapter or a header that does not name this file;
    // kNoVersionChapter; kFormatVersionRefused when the format version is
    // missing or not "0.2".
    virtual int Load(const CString& path);
    // Exchanges the file's own contents after the version chapter; the default
    // exchanges the file as an object (Exchange(*this)).
    virtual int ExchangeContents() { return Exchange(*this); }
    // Called by Load instead of ExchangeContents when the major part of the
    // version read differs from the expected one. Default: nothing,
    // kNotExchanged.
    virtual int ConvertFromVersion(const CString& /*versionRead*/) { return kNotExchanged; }
    // Called by Load after reading a file whose version differs in its minor
    // part only; the file is marked modified afterwards. Default: nothing.
    virtual void VersionChanged(const CString& /*versionRead*/) {}

    // ---- Operations for exchange code ----

    // Writing: `count` empty lines. Otherwise nothing.
    void WriteBlankLines(int count);
    // Writing: two empty lines, the head "[name]" (or "[path:name]" inside a
    // section) and one empty line; returns kChapterFound. Reading: makes the
    // first chapter of that full name current and marks it used;
    // kChapterFound when found, else kNotExchanged and no current chapter.
    // Not open: kNotExchanged.
    Result Chapter(const CString& name);
    // Two empty lines, then the section path grows by `name` and the chapter
    // "nouvelle_section" of the new path is written or selected.
    void BeginSection(const CString& name);
    // Drops the last name of the section path; the current chapter stays.
    void EndSection();
    // Two empty lines, then Chapter("element " + className).
    Result ElementChapter(const CString& className);

    // Writing: one value line, kExchanged. Reading: kExchanged when the
    // current chapter has the key (the variable is left alone when the text
    // does not convert), kNotExchanged when it does not or there is no
    // current chapter. Not open: kNotExchanged. T is one of:
    //   unsigned, written as a signed number ("%d") and read back by "%u";
    //   int; bool, written as 0 or 1; float, written with "%f" (six decimals);
    //   CString: "\r\n" is written as "<saut>" and read back as "\r\n";
    //   a KvObjetFile: ToText written as it is, read through FromText.
    template <typename T>
    Result ExchangeValue(const CString& key, T& value);

    // ---- Lists ----
    //
    // A list is stored as a count line "<name> taille" and one element per
    // index i, keyed "<name> <i>". Reading empties the list first; a missing
    // count line leaves it empty and gives kNotExchanged. Both return the
    // result of the last element's exchange, or kExchanged for an empty list.

    // Texts, one value line per element. Reading creates at most `limit`
    // elements; an element whose key is missing stays empty.
    int ExchangeStringList(const CString& name, KvListe<CString>& list, unsigned limit) {
        return ExchangeList(name, list, limit);
    }
    // Objects, each exchanged inside its own section "<name> <i>" (so in the
    // chapter "<path>:<name> <i>:nouvelle_section"). An element whose chapter
    // is missing stays as constructed. Reading creates no more elements than
    // the file has chapters.
    template <typename T>
    int ExchangeObjectList(const CString& name, KvListe<T>& list) {
        return ExchangeList(name, list, std::numeric_limits<unsigned>::max());
    }

    // Writing: the header line, kHeaderMatches. Reading: kHeaderMatches when
    // the current chapter has an "EnTete" line whose value equals the title
    // exactly, else kNotExchanged.
    Result ExchangeHeader();
    // kVersionMatches when the "Version ft" line was written, or read and
    // equal to "0.2"; else kNotExchanged.
    Result ExchangeFormatVersion();
    // Version read = expected, then exchanged under "Version";
    // kVersionMatches when written, or read and equal to `expected`.
    Result ExchangeVersion(const CString& expected);
    // True when the version read and the expected version differ before their
    // first "." (a version without "." is all major part).
    bool MajorVersionDiffers() const;

    // Parses the file into chapters: kParsed to the end, kCannotOpen, or
    // kTextBeforeHead for text before the first header line or chapter head
    // (parsing stops).
    Result ParseFile(const CString& path);
    // The next non-blank line (at most 999 characters of it) of the file being
    // parsed, trimmed and classified; false at the end of the file.
    bool ReadLine(KvFileString& line);

    void SetPath(const CString& path) { m_path = path; }
    const CString& GetPath() const { return m_path; }
    const CString& GetTitle() const { return m_title; }
    const CString& GetVersion() const { return m_version; }
    const CString& GetVersionRead() const { return m_versionRead; }
    const CString& GetFormatVersion() const { return m_formatVersion; }
    int GetOpenMode() const { return m_openMode; }
    bool IsReading() const { return m_openMode == kReading; }
    bool IsWriting() const { return m_openMode == kWriting; }
    const CString& GetSectionPath() const { return m_sectionPath; }
    KvFileChapitre* GetCurrentChapter() const { return m_currentChapter; }

    // The parsed chapters, in file order (empty outside Load).
    std::size_t GetChapterCount() const { return m_chapters.size(); }
    KvFileChapitre* GetChapter(std::size_t index) { return &m_chapters[index]; }
    void RemoveAllChapters();

  protected:
    // The first chapter named `name` (any case), or null.
    KvFileChapitre* FindChapter(const CString& name);
    void SetCurrentChapter(KvFileChapitre* chapter) { m_currentChapter = chapter; }
    // Opens `path` for writing, makes the file writable and writes the header
    // and the version chapter with `blankAfterVersionHead` empty lines after
    // the "[Version]" head. False when the file cannot be opened.
    bool BeginSave(const CString& path, int blankAfterVersionHead);
    // Closes the file; false when a file written over in place could not be
    // ended where its new text ends.
    bool EndSave();
    // Writing: `lines` as they are, each ending in "\r\n" as the file holds
    // it (they skip the stream's line-end translation). For a derived class
    // that formats a long run of value lines itself; otherwise nothing.
    void WriteLines(std::string_view lines);
    // Load's checks up to the version, on parsed chapters: kLoaded when the
    // contents can be exchanged, else Load's refusal; `versionDiffers` is set.
    Result CheckHeaderAndVersions(const CString& path, bool& versionDiffers);
    // For a derived class that read `path` by its own means, in the expected
    // version and with every value exchanged: leaves this object as Load
    // leaves it then (reading mode, no chapters, not modified).
    void EndOwnLoad(const CString& path);

  private:
    // Lists read inside an object list draw their element counts from one
    // budget per outermost object list: the parsed chapters and lines plus one
    // damaged count's worth (a million). A file this class wrote has a chapter
    // per object and a line per text, so it never reaches the budget; a damaged
    // file whose counts multiply through the levels (each of a thousand
    // machines claiming a million channels) gets empty lists instead of
    // exhausting memory.
    class NestedListRead {
      public:
        explicit NestedListRead(KvFile& file);
        ~NestedListRead() { --m_file.m_objectListDepth; }
        NestedListRead(const NestedListRead&) = delete;
        NestedListRead& operator=(const NestedListRead&) = delete;

      private:
        KvFile& m_file;
    };
    // `count` cut to what the budget still allows (unchanged outside an
    // object list), and taken from it.
    unsigned TakeFromListBudget(unsigned count);
    static CString ListCountKey(const CString& name);
    // key = "<name> <index>".
    static void ListElementKey(const CString& name, unsigned index, CString& key);
    // One element of an object list, inside its section.
    int ExchangeListElement(const CString& name, unsigned index, KvObjetFile& element);
    // Both list exchanges: texts as value lines, objects in sections; reading
    // creates at most `limit` elements.
    template <typename T>
    int ExchangeList(const CString& name, KvListe<T>& list, unsigned limit);

    // Appends a parsed chapter named `name`, tied to this file's index.
    void NewChapter(const CString& name);
    void Write(std::string_view text);
    void WriteValueLine(const CString& key, std::string_view value);
    // The value conversions of ExchangeValue that need more than a scan.
    void WriteNumberLine(const CString& key, int value);
    void WriteNumberLine(const CString& key, float value);
    void WriteTextLine(const CString& key, const CString& value);
    static void ReadText(std::string_view text, CString& value);
    // The value text of `key` in the current chapter; false when there is no
    // current chapter or it lacks the key.
    bool FindValue(const CString& key, std::string_view& value) const;

    platform::UniqueStream m_stream;
    bool m_inPlace = false;  // m_stream writes over a file that was there
    CString m_title;
    CString m_version;
    CString m_versionRead;
    CString m_formatVersion = "0.2";
    int m_openMode = kNone;
    std::vector<KvFileChapitre> m_chapters;
    KvFileChapitre* m_currentChapter = nullptr;
    CString m_sectionPath;
    CString m_path;
    bool m_modified = false;
    // Lowercased chapter name -> first chapter in file order. It catches up
    // with appended chapters on each lookup and starts again when one of the
    // chapters was renamed since it was built (the chapters set the flag).
    chapfile_detail::FirstIndex m_chapterIndex;
    std::vector<std::string> m_lowerNames;
    bool m_chapterRenamed = false;
    int m_objectListDepth = 0;
    std::size_t m_listBudget = 0;
};

template <typename T>
KvFile::Result KvFile::ExchangeValue(const CString& key, T& value) {
    constexpr bool isObject = std::is_base_of_v<KvObjetFile, T>;
    static_assert(isObject || std::is_same_v<T, unsigned> || std::is_same_v<T, int> ||
                      std::is_same_v<T, bool> || std::is_same_v<T, float> ||
                      std::is_same_v<T, CString>,
                  "a value is a number, a flag, a text or a KvObjetFile");
    if (m_openMode == kReading) {
        std::string_view text;
        if (!FindValue(key, text))
            return kNotExchanged;
        // A text that does not convert leaves the variable as it was.
        if constexpr (isObject) {
            value.FromText(CString(text));
        } else if constexpr (std::is_same_v<T, CString>) {
            ReadText(text, value);
        } else if constexpr (std::is_same_v<T, bool>) {
            int number = 0;
            if (chapfile_detail::ScanInt(text, number))
                value = number != 0;
        } else if constexpr (std::is_same_v<T, unsigned>) {
            chapfile_detail::ScanUInt(text, value);
        } else if constexpr (std::is_same_v<T, float>) {
            chapfile_detail::ScanFloat(text, value);
        } else {
            chapfile_detail::ScanInt(text, value);
        }
        return kExchanged;
    }
    if (m_openMode != kWriting || !m_stream)
        return kNotExchanged;
    if constexpr (isObject) {
        CString text;
        value.ToText(text);
        WriteValueLine(key, text.str());
    } else if constexpr (std::is_same_v<T, CString>) {
        WriteTextLine(key, value);
    } else if constexpr (std::is_same_v<T, float>) {
        WriteNumberLine(key, value);
    } else {
        // unsigned values are written as signed ones, flags as 0 or 1.
        WriteNumberLine(key, static_cast<int>(value));
    }
    return kExchanged;
}

template <typename T>
int KvFile::ExchangeList(const CString& name, KvListe<T>& list, unsigned limit) {
    constexpr bool texts = std::is_same_v<T, CString>;
    static_assert(texts || std::is_base_of_v<KvObjetFile, T>,
                  "list elements are texts or KvObjetFile objects");
    CString key;
    auto exchangeElement = [&](unsigned index, T& element) -> int {
        if constexpr (texts) {
            ListElementKey(name, index, key);
            return ExchangeValue(key, element);
        } else {
            return ExchangeListElement(name, index, element);
        }
    };
    const bool reading = IsReading();
    unsigned count = reading ? 0 : list.GetCount();
    if (reading)
        list.Reset();
    if (ExchangeValue(ListCountKey(name), count) != kExchanged)
        return kNotExchanged;
    int result = kExchanged;
    if (reading) {
        count = std::min(count, limit);
        std::optional<NestedListRead> budget;
        if constexpr (!texts) {
            // Every object of a file this class wrote has a chapter of its
            // own, so a count above the number of chapters is a damaged one.
            count = static_cast<unsigned>(std::min<std::size_t>(count, GetChapterCount()));
            budget.emplace(*this);
        }
        count = TakeFromListBudget(count);
        for (unsigned i = 0; i < count; ++i) {
            T* element = list.NewElement();
            if (element == nullptr)
                break;
            result = exchangeElement(i, *element);
        }
        return result;
    }
    // The limit applies to reading only: whatever the list holds is written.
    // ForEach walks linked and block lists in linear time. It lends const
    // elements; writing changes nothing, and the list itself was handed over
    // writable, so dropping the const is sound.
    unsigned i = 0;
    list.ForEach([&](const T& element) { result = exchangeElement(i++, const_cast<T&>(element)); });
    return result;
}
