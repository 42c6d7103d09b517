// TextList: the event texts of a batch log, stored end to end in a few large
// blocks instead of one string each.
//
// A job's log may hold a million events, which the launcher reads after the
// job only to copy them into the report. As a list of strings they cost an
// allocation and a free each; here they cost a copy into the current block and
// one view in the index. A text keeps its address until Reset or the list's
// end, so the views handed out stay valid while texts are added.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class TextList {
  public:
    using const_iterator = std::vector<std::string_view>::const_iterator;

    TextList() = default;
    TextList(const TextList&) = delete;
    TextList& operator=(const TextList&) = delete;
    TextList(TextList&&) noexcept = default;
    TextList& operator=(TextList&&) noexcept = default;

    // Appends a copy of `text`.
    void Add(std::string_view text);
    // The same for a text that is known to hold neither a line feed nor a
    // zero byte (a line of a file that has none), which is not searched.
    void AddLine(std::string_view text);
    // Room in the index for `count` texts in all, so that a list whose length
    // is known is not copied while it grows.
    void Reserve(std::size_t count) { m_texts.reserve(count); }
    // Forgets every text and releases the blocks.
    void Reset();

    unsigned GetCount() const { return static_cast<unsigned>(m_texts.size()); }
    bool IsEmpty() const { return m_texts.empty(); }
    // Whether a text added since the last Reset may hold a line feed or a
    // zero byte, which writers treat apart: when none may, they need not
    // search every text.
    bool MayHoldControls() const { return m_controls; }
    // `index` < GetCount().
    std::string_view operator[](std::size_t index) const { return m_texts[index]; }

    const_iterator begin() const { return m_texts.begin(); }
    const_iterator end() const { return m_texts.end(); }

  private:
    // Bytes per block; a text longer than a quarter of it gets a block of its
    // own, so that a long text does not waste the rest of the current one.
    static constexpr std::size_t kBlockSize = 256 * 1024;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_free = nullptr;
    std::size_t m_left = 0;
    std::vector<std::string_view> m_texts;
    bool m_controls = false;
};
