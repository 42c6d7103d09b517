// Block lists of the in-house library: KvListeTab<T>, a chain of fixed-size
// blocks, and KvListeTabFixe<T>, the instantiable one whose GetAt extends it.
//
// Elements live in blocks of `block size` places allocated whole and never
// moved or resized, so an element's address stays valid until RemoveAll or
// destruction; the error lists and the catalogues hand out such addresses.
// Access by index finds the block by walking the chain from the nearest of
// the first block, the last block and the block reached last (kept as a
// cache), so runs of accesses within one block cost no walk. A whole list is
// walked in linear time with the block cursor (KvListeTab<T>::Cursor), with
// range-for (which uses the cursor) or with ForEach.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "containers/kv_liste.h"

template <typename T>
class KvListeTab : public KvListe<T> {
  public:
    struct Block {
        T* data = nullptr;           // block size places, value-initialised
        std::uint32_t used = 0;      // highest offset reached in this block + 1
        std::uint32_t capacity = 0;  // the block size
        Block* next = nullptr;
        Block* prev = nullptr;
    };

    // Walks a list in order without indexing. It visits, block after block,
    // the places below each block's `used` and stops at the first block that
    // was not filled to that point, so a list built with NewElement (or any
    // run of rising indexes) is seen whole; places that exist only because a
    // later index created their block are not visited. The cursor reads the
    // chain as it is when Next is called: appending while walking is fine,
    // RemoveAll is not.
    template <typename Elem>
    class BasicCursor {
      public:
        BasicCursor() = default;
        explicit BasicCursor(const KvListeTab& list) { Set(list); }

        void Set(const KvListeTab& list) {
            m_list = &list;
            m_block = list.m_first;
            m_blockIndex = 0;
            m_offset = 0;
            m_visited = 0;
            m_count = list.m_count;
        }
        // The next element, or null when the walk is over.
        Elem* Next() {
            if (m_block == nullptr || m_offset >= m_block->used) {
                return nullptr;
            }
            Elem* element = &m_block->data[m_offset];
            ++m_offset;
            if (m_offset >= m_block->capacity) {
                m_offset = 0;
                m_block = m_block->next;
                ++m_blockIndex;
            }
            ++m_visited;
            return element;
        }

        const KvListeTab* List() const { return m_list; }
        std::uint32_t BlockIndex() const { return m_blockIndex; }
        std::uint32_t Offset() const { return m_offset; }
        std::uint32_t Visited() const { return m_visited; }
        // The list's count when the cursor was set.
        std::uint32_t Count() const { return m_count; }

      private:
        const KvListeTab* m_list = nullptr;
        Block* m_block = nullptr;
        std::uint32_t m_blockIndex = 0;
        std::uint32_t m_offset = 0;
        std::uint32_t m_visited = 0;
        std::uint32_t m_count = 0;
    };
    using Cursor = BasicCursor<T>;
    using ConstCursor = BasicCursor<const T>;

    // Range-for over what the cursor visits.
    template <typename Elem>
    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Elem*;
        using reference = Elem&;

        Iterator() = default;
        explicit Iterator(const KvListeTab& list) : m_cursor(list), m_current(m_cursor.Next()) {}
        Elem& operator*() const { return *m_current; }
        Elem* operator->() const { return m_current; }
        Iterator& operator++() {
            m_current = m_cursor.Next();
            return *this;
        }
        void operator++(int) { ++*this; }
        friend bool operator==(const Iterator& a, const Iterator& b) {
            return a.m_current == b.m_current;
        }

      private:
        BasicCursor<Elem> m_cursor;
        Elem* m_current = nullptr;
    };
    using iterator = Iterator<T>;
    using const_iterator = Iterator<const T>;

    ~KvListeTab() override { ReleaseBlocks(); }

    // Destroys every block and its elements; the block size stays.
    void RemoveAll() override {
        ReleaseBlocks();
        m_cachedIndex = -1;
        m_cached = nullptr;
    }

    unsigned GetSize() const override { return m_blockCount * m_blockSize; }
    unsigned GetCount() const override { return m_count; }
    std::uint32_t GetBlockSize() const { return m_blockSize; }
    std::uint32_t GetBlockCount() const { return m_blockCount; }

    // Elements 0 .. count - 1, every place of them (unlike the cursor, which
    // stops at a block that was never filled).
    void ForEach(const std::function<void(const T&)>& visit) const override {
        std::uint32_t left = m_count;
        for (const Block* block = m_first; block != nullptr && left > 0; block = block->next) {
            const std::uint32_t n = std::min(left, block->capacity);
            for (std::uint32_t r = 0; r < n; ++r) {
                visit(block->data[r]);
            }
            left -= n;
        }
    }

    // Appends one block of fresh places to the chain.
    void AddBlock() {
        Block* block = new Block();
        block->data = new T[m_blockSize]();
        block->capacity = m_blockSize;
        block->prev = m_last;
        if (m_last == nullptr) {
            m_first = block;
        } else {
            m_last->next = block;
        }
        m_last = block;
        ++m_blockCount;
    }

    iterator begin() { return iterator(*this); }
    iterator end() { return iterator(); }
    const_iterator begin() const { return const_iterator(*this); }
    const_iterator end() const { return const_iterator(); }

  protected:
    // A block size of 0 is taken as 1, one above kKvMaxPlaces as that limit.
    explicit KvListeTab(std::uint32_t blockSize)
        : m_blockSize(std::clamp<std::uint32_t>(blockSize, 1, kKvMaxPlaces)) {}
    // Copying is done by KvListeTabFixe, which can append elements.
    KvListeTab(const KvListeTab&) = delete;
    KvListeTab& operator=(const KvListeTab&) = delete;

    // The block `q` of the chain, which must exist; it becomes the cache.
    Block* BlockAt(std::uint32_t q) {
        if (m_cached != nullptr && m_cachedIndex == static_cast<std::int32_t>(q)) {
            return m_cached;
        }
        Block* block;
        const std::uint32_t fromLast = m_blockCount - 1 - q;
        std::uint32_t fromCache = UINT32_MAX;
        if (m_cached != nullptr && m_cachedIndex >= 0) {
            const auto c = static_cast<std::uint32_t>(m_cachedIndex);
            fromCache = c > q ? c - q : q - c;
        }
        if (fromCache < q && fromCache < fromLast) {
            block = m_cached;
            for (auto c = static_cast<std::uint32_t>(m_cachedIndex); c < q; ++c) {
                block = block->next;
            }
            for (auto c = static_cast<std::uint32_t>(m_cachedIndex); c > q; --c) {
                block = block->prev;
            }
        } else if (fromLast < q) {
            block = m_last;
            for (std::uint32_t steps = fromLast; steps > 0; --steps) {
                block = block->prev;
            }
        } else {
            block = m_first;
            for (std::uint32_t steps = q; steps > 0; --steps) {
                block = block->next;
            }
        }
        m_cachedIndex = static_cast<std::int32_t>(q);
        m_cached = block;
        return block;
    }

    Block* m_first = nullptr;
    Block* m_last = nullptr;
    std::uint32_t m_blockCount = 0;
    std::uint32_t m_blockSize;
    std::uint32_t m_count = 0;
    std::int32_t m_cachedIndex = 0;
    Block* m_cached = nullptr;

  private:
    void ReleaseBlocks() {
        Block* block = m_first;
        while (block != nullptr) {
            Block* next = block->next;
            delete[] block->data;
            delete block;
            block = next;
        }
        m_first = nullptr;
        m_last = nullptr;
        m_blockCount = 0;
        m_count = 0;
    }
};

template <typename T>
class KvListeTabFixe : public KvListeTab<T> {
    using Base = KvListeTab<T>;

  public:
    explicit KvListeTabFixe(std::uint32_t blockSize) : Base(blockSize) {}
    // Copies are deep and keep the source's block size; assignment keeps
    // this list's block size and copies the elements in use.
    KvListeTabFixe(const KvListeTabFixe& other) : Base(other.m_blockSize) { AppendCopies(other); }
    KvListeTabFixe& operator=(const KvListeTabFixe& other) {
        if (this != &other) {
            this->RemoveAll();
            AppendCopies(other);
        }
        return *this;
    }
    ~KvListeTabFixe() override = default;

    // Any index is valid: reaching beyond the end creates the missing blocks
    // and raises the count to index + 1, every place between existing
    // default-constructed. Null only for a negative index or one at or above
    // kKvMaxPlaces.
    T* GetAt(int index) override {
        if (index < 0 || static_cast<std::uint32_t>(index) >= kKvMaxPlaces) {
            return nullptr;
        }
        const auto i = static_cast<std::uint32_t>(index);
        const std::uint32_t q = i / this->m_blockSize;
        const std::uint32_t r = i % this->m_blockSize;
        while (this->m_blockCount <= q) {
            this->AddBlock();
        }
        typename Base::Block* block = this->BlockAt(q);
        if (i >= this->m_count) {
            this->m_count = i + 1;
        }
        if (r >= block->used) {
            block->used = r + 1;
        }
        return &block->data[r];
    }

    T* NewElement() override { return GetAt(static_cast<int>(this->m_count)); }

    T* GetLast() override {
        return this->m_count == 0 ? nullptr : GetAt(static_cast<int>(this->m_count - 1));
    }

    // Every place of every block, which also brings the count to GetSize().
    void Fill(const T& value) override {
        for (auto* block = this->m_first; block != nullptr; block = block->next) {
            for (std::uint32_t r = 0; r < block->capacity; ++r) {
                if (&block->data[r] != &value) {
                    block->data[r] = value;
                }
            }
            block->used = block->capacity;
        }
        this->m_count = this->GetSize();
    }

  private:
    void AppendCopies(const KvListeTabFixe& other) {
        other.ForEach([this](const T& element) {
            if (T* place = NewElement()) {
                *place = element;
            }
        });
    }
};
