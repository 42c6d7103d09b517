// KvFileChapitre: one chapter of a parsed chaptered file -- its head line
// (whose key is the chapter name), the lines under it in file order, and the
// "used" mark that loading sets once some exchange code has read the chapter.
//
// FindLine answers "the first line, in file order, with this key" through an
// index that catches up with the lines on each lookup, so looking up every key
// of a chapter costs linear time however long the chapter is.
//
// Batch logs put up to a million lines in one chapter, so a line is not kept
// as a KvFileString (three strings, a hundred bytes before any text): its text
// is copied once into a chapter-wide arena and a 24-byte record (with the
// key's 4-byte hash beside it) says where it lies. A parsed value line --
// nearly every line -- needs nothing more: its key starts the text and its
// value ends it, so two lengths in the record find both, and its key is
// compared and hashed without regard to ASCII case rather than stored
// lowercased. Any other line (a header, or a line added whole by AddLine or
// a copy, whose parts need not match its text) keeps its key and value in the
// arena after its text. A KvFileString is built only when GetLine or FindLine
// asks for one; KvFile reads values straight from the arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "chapfile/first_index.h"
#include "chapfile/kv_file_string.h"

class KvFile;

class KvFileChapitre {
  public:
    KvFileChapitre();
    KvFileChapitre(const KvFileChapitre& other);
    KvFileChapitre(KvFileChapitre&& other) noexcept;
    KvFileChapitre& operator=(const KvFileChapitre& other);
    KvFileChapitre& operator=(KvFileChapitre&& other) noexcept;
    virtual ~KvFileChapitre();

    // The name is stored as given; lookups lowercase both sides. A chapter
    // of a file's parsed list tells that file, whose index of chapter names
    // then starts again.
    void SetName(const CString& name);
    const CString& GetName() const { return m_head.GetKey(); }
    const KvFileString& GetHead() const { return m_head; }

    bool IsUsed() const { return m_used; }
    void SetUsed(bool used) { m_used = used; }

    // The first line whose key equals `key` lowercased, with its trailing
    // spaces removed; null when there is none. The line stays valid as long
    // as the chapter, also while lines are added.
    const KvFileString* FindLine(const CString& key) const;
    // True when the chapter is named "element " + className (any case in
    // className; parsed names are lowercase already).
    bool IsElement(const CString& className) const;

    void AddLine(KvFileString line);
    std::size_t GetLineCount() const { return m_count; }
    // The line at `index` (below GetLineCount()); valid as long as the chapter.
    const KvFileString& GetLine(std::size_t index) const;

  private:
    friend class KvFile;

    static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

    // How a line is laid out in the arena. A parsed value line is its text
    // alone: its key is the first keyLength characters and its value runs
    // from valueOffset to the end. Any other line has, just before its text,
    // the lengths of its key and value and its type (three 32-bit numbers),
    // and key and value after the text; its key compares without regard to
    // ASCII case when it was parsed (Parts::folded), as it is when it was
    // added whole.
    enum class Layout : std::uint8_t { kParsedValue, kParsedParts, kAddedParts };
    struct Record {
        const char* text;
        std::uint32_t textLength;
        std::uint16_t keyLength;
        std::uint16_t valueOffset;
        Layout layout;
    };

    // One line's parts, as views into the arena. `folded`: the key is the
    // parsed spelling and compares without regard to ASCII case; otherwise
    // it compares as it is.
    struct Parts {
        std::string_view key;
        std::string_view value;
        int type;
        bool folded;
    };

    // A line read by the parser: `text` as trimmed, and SplitLine's split of
    // it (views into `text`, or the constant header key).
    void AddParsedLine(std::string_view text, const chapfile_detail::LineSplit& split);
    // Stores the three parts and the type as given; `folded`: the key is
    // compared without regard to ASCII case (Parts::folded).
    void AddParts(std::string_view text, std::string_view key, std::string_view value, int type,
                  bool folded);
    // The index of the first line whose key equals `lowerKey` (already
    // lowercased and trimmed), or kNotFound.
    std::size_t FindIndex(std::string_view lowerKey) const;
    Parts PartsAt(std::size_t index) const;
    std::string_view TextAt(std::size_t index) const {
        const Record& r = RecordAt(index);
        return {r.text, r.textLength};
    }
    std::string_view ValueAt(std::size_t index) const { return PartsAt(index).value; }
    // The key's hash and comparisons, by the rules of Parts::folded.
    static std::uint32_t KeyHash(const Parts& parts);
    static bool KeyEquals(const Parts& parts, std::string_view lowerKey);
    static bool SameKey(const Parts& a, const Parts& b);
    const Record& RecordAt(std::size_t index) const {
        return m_records[index >> kRecordBlockBits][index & (kRecordBlock - 1)];
    }
    char* Allocate(std::size_t size);
    Record& NewRecord();

    KvFileString m_head;
    bool m_used = false;
    // Set by the file whose chapter list holds this chapter: renaming it, or
    // assigning another chapter to it, sets the file's flag. Null for a
    // chapter on its own and for a copy.
    bool* m_renamed = nullptr;

    // Records in blocks of fixed size and texts in chunks: appending never
    // moves a text, and a chapter of a million lines is never copied to a
    // bigger array. The first block and the chunks start small and double up
    // to their full size, so that a chapter of a few lines (one record of a
    // list of hundreds) takes a few hundred bytes rather than a block and a
    // chunk; only the first block's few records are ever copied.
    static constexpr std::size_t kRecordBlockBits = 11;
    static constexpr std::size_t kRecordBlock = std::size_t{1} << kRecordBlockBits;
    static constexpr std::size_t kFirstRecords = 8;
    static constexpr std::size_t kChunkSize = 64 * 1024;
    static constexpr std::size_t kFirstChunkSize = 512;
    std::vector<std::unique_ptr<Record[]>> m_records;
    std::size_t m_count = 0;
    std::size_t m_firstBlockSize = 0;  // records the first block has room for
    std::vector<std::unique_ptr<char[]>> m_chunks;
    char* m_free = nullptr;
    std::size_t m_freeSize = 0;
    std::size_t m_nextChunkSize = kFirstChunkSize;

    // The lines handed out by GetLine and FindLine, built on first request.
    mutable std::vector<std::unique_ptr<KvFileString>> m_built;

    // The hash of each line's key (KeyHash), taken as the line is added and
    // its text is still in the cache: indexing a long chapter then reads four
    // bytes a line instead of every record and text once more.
    std::vector<std::uint32_t> m_keyHashes;

    // Lines are only appended and never changed in place, so the index stays
    // valid; it is rebuilt from scratch after a copy.
    mutable chapfile_detail::FirstIndex m_index;
    // Exchange code mostly reads keys in file order: the line after the last
    // one found is tried first, and taken when it is the first of its key.
    mutable std::vector<bool> m_firstOfKey;
    mutable std::size_t m_next = 0;
};
