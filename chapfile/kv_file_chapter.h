// KvFileChapitre: one chapter of a parsed chaptered file -- its head line
// (whose key is the chapter name), the lines under it in file order, and the
// "used" mark that loading sets once some exchange code has read the chapter.
//
// FindLine answers "the first line, in file order, with this key" through an
// index that catches up with the lines on each lookup, so looking up every key
// of a chapter costs linear time however long the chapter is.
#pragma once

#include <cstddef>
#include <vector>

#include "chapfile/first_index.h"
#include "chapfile/kv_file_string.h"

class KvFileChapitre {
  public:
    KvFileChapitre();
    KvFileChapitre(const KvFileChapitre& other);
    KvFileChapitre(KvFileChapitre&& other) noexcept = default;
    KvFileChapitre& operator=(const KvFileChapitre& other);
    KvFileChapitre& operator=(KvFileChapitre&& other) noexcept = default;
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

    void AddLine(KvFileString line) { m_lines.push_back(std::move(line)); }
    std::size_t GetLineCount() const { return m_lines.size(); }
    const KvFileString& GetLine(std::size_t index) const { return m_lines[index]; }

  private:
    KvFileString m_head;
    bool m_used = false;
    std::vector<KvFileString> m_lines;
    // Lines are only appended and never changed in place, so the index stays
    // valid; it is rebuilt from scratch after a copy.
    mutable chapfile_detail::FirstIndex m_index;
};
