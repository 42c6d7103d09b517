// TextList: the event texts of a batch log, stored end to end in a few large
// blocks instead of one string each.
//
// A job's log may hold a million events, which the launcher reads after the
// job only to copy them into the report. As a list of strings they cost an
// allocation and a free each; here they cost a copy into the current block and
// four bytes of index: where the text ends in its block. Fresh memory is what
// such a log costs most (every page the launcher touches for the first time
// costs about as much as reading 50 KB of the file), so the index is kept that
// small. A text keeps its address until Reset or the list's end, so the views
// handed out stay valid while texts are added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

class TextList {
    // A block's bytes: from the heap, or large memory (platform/large_memory.h)
    // once the list is long, where the host gives it. The deleter knows which.
    struct BlockFree {
        std::size_t size = 0;
        bool large = false;
        void operator()(char* bytes) const;
    };
    using BlockBytes = std::unique_ptr<char[], BlockFree>;
    static BlockBytes NewBlockBytes(std::size_t size, bool large);

    struct Block {
        BlockBytes bytes;
        std::size_t first = 0;  // the index of the first text it holds
    };

  public:
    // Walks the texts in order, a view of each. It keeps where the current
    // block's texts lie and where the next block begins, so that a step costs
    // a few instructions: the report walks a million texts.
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        const_iterator() = default;
        std::string_view operator*() const {
            return std::string_view(m_bytes + m_start, m_list->m_ends[m_index] - m_start);
        }
        const_iterator& operator++() {
            m_start = m_list->m_ends[m_index];
            if (++m_index == m_nextBlockFirst)
                EnterBlock(m_block + 1);
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator& other) const { return m_index == other.m_index; }

      private:
        friend class TextList;
        const_iterator(const TextList* list, std::size_t index) : m_list(list), m_index(index) {
            if (index < list->m_ends.size())
                EnterBlock(0);
        }
        void EnterBlock(std::size_t block) {
            m_block = block;
            m_start = 0;
            const std::vector<Block>& blocks = m_list->m_blocks;
            m_bytes = blocks[block].bytes.get();
            m_nextBlockFirst = block + 1 < blocks.size() ? blocks[block + 1].first : SIZE_MAX;
        }

        const TextList* m_list = nullptr;
        std::size_t m_index = 0;
        std::size_t m_block = 0;
        const char* m_bytes = nullptr;  // the current block's
        std::size_t m_nextBlockFirst = 0;
        std::uint32_t m_start = 0;  // of the current text in its block
    };

    TextList() = default;
    TextList(const TextList&) = delete;
    TextList& operator=(const TextList&) = delete;
    TextList(TextList&&) noexcept = default;
    TextList& operator=(TextList&&) noexcept = default;

    // Appends a copy of `text`. Texts come from log lines of at most a
    // thousand bytes and from messages; one beyond 4 GiB - 1 bytes would be
    // kept only up to that length.
    void Add(std::string_view text);
    // The same for a text that is known to hold neither a line feed nor a
    // zero byte (a line of a file that has none), which is not searched.
    void AddLine(std::string_view text) {
        text = text.substr(0, UINT32_MAX);
        if (m_blocks.empty() || text.size() > m_size - m_used)
            OpenBlock(text.size());
        if (!text.empty())  // an empty view's data may be null
            std::memcpy(m_blocks.back().bytes.get() + m_used, text.data(), text.size());
        m_used += text.size();
        m_ends.push_back(static_cast<std::uint32_t>(m_used));
    }
    // Room in the index for `count` texts in all, so that a list whose length
    // is known is not copied while it grows.
    void Reserve(std::size_t count) { m_ends.reserve(count); }
    // Forgets every text and releases the blocks.
    void Reset();

    unsigned GetCount() const { return static_cast<unsigned>(m_ends.size()); }
    bool IsEmpty() const { return m_ends.empty(); }
    // Whether a text added since the last Reset may hold a line feed or a
    // zero byte, which writers treat apart: when none may, they need not
    // search every text.
    bool MayHoldControls() const { return m_controls; }
    // `index` < GetCount(); walking the list with its iterator is faster.
    std::string_view operator[](std::size_t index) const;

    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, m_ends.size()); }

  private:
    // Bytes per block; a longer text gets a block of its own size.
    static constexpr std::size_t kBlockSize = 256 * 1024;
    // Past its first full block, a list is long: a log of many events.
    static constexpr std::size_t kLargeBlockSize = 4 * 1024 * 1024;

    // Starts a block for a text of `size` bytes; the rest of the current one
    // stays unused, as a text never spans two.
    void OpenBlock(std::size_t size);
    std::string_view View(std::size_t index, std::size_t block) const {
        const Block& b = m_blocks[block];
        const std::uint32_t start = index == b.first ? 0 : m_ends[index - 1];
        return std::string_view(b.bytes.get() + start, m_ends[index] - start);
    }

    std::vector<Block> m_blocks;
    std::size_t m_used = 0;  // bytes used in the last block
    std::size_t m_size = 0;  // its size
    std::vector<std::uint32_t> m_ends;
    bool m_controls = false;
};
