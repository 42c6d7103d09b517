// KvFileChapitre: one chapter of a parsed chaptered file -- its head line
// (whose key is the chapter name), the lines under it in file order, and the
// "used" mark that loading sets once some exchange code has read the chapter.
//
// FindLine answers "the first line, in file order, with this key" through an
// index that catches up with the lines on each lookup, so looking up every key
// of a chapter costs linear time however long the chapter is.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "chapfile/first_index.h"
#include "chapfile/kv_file_string.h"

class KvFileChapitre {
  public:
    KvFileChapitre();
    KvFileChapitre(const KvFileChapitre& other);
    KvFileChapitre(KvFileChapitre&& other) noexcept;
    KvFileChapitre& operator=(const KvFileChapitre& other);
    KvFileChapitre& operator=(KvFileChapitre&& other) noexcept;
    virtual ~KvFileChapitre() = default;

    // The name is stored as given; lookups lowercase both sides.
    void SetName(const CString& name);
    // Counts SetName calls on every chapter, so that an index of chapter names
    // can tell that it is stale.
    static unsigned long long RenameCount();
    const CString& GetName() const { return m_head.GetKey(); }
    const KvFileString& GetHead() const { return m_head; }

    bool IsUsed() const { return m_used; }
    void SetUsed(bool used) { m_used = used; }

    // The first line whose key equals `key` lowercased, with its trailing
    // spaces removed; null when there is none.
    const KvFileString* FindLine(const CString& key) const;
    // True when the chapter is named "element " + className (any case in
    // className; parsed names are lowercase already).
    bool IsElement(const CString& className) const;

    void AddLine(KvFileString line);
    std::size_t GetLineCount() const { return m_count; }
    const KvFileString& GetLine(std::size_t index) const {
        return m_blocks[index / kBlockSize][index % kBlockSize];
    }

  private:
    KvFileString m_head;
    bool m_used = false;
    // Lines in blocks of fixed size: appending never moves a line, so a
    // pointer from FindLine stays valid while the chapter grows, and a chapter
    // of a million lines is never copied to a bigger array.
    static constexpr std::size_t kBlockSize = 512;
    std::vector<std::unique_ptr<KvFileString[]>> m_blocks;
    std::size_t m_count = 0;
    // Lines are only appended and never changed in place, so the index stays
    // valid; it is rebuilt from scratch after a copy.
    mutable chapfile_detail::FirstIndex m_index;
    // Exchange code mostly reads keys in file order: the line after the last
    // one found is tried first, and taken when it is the first of its key.
    mutable std::vector<bool> m_firstOfKey;
    mutable std::size_t m_next = 0;
};
