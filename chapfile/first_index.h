// FirstIndex: finds the first element of a sequence whose name equals a given
// text, in constant time on average.
//
// A chaptered file can hold a million lines in one chapter and thousands of
// chapters; lookups that walked them from the start made loading quadratic.
// This index answers the same question the walk did -- the first position, in
// file order, whose name matches -- so results stay identical. It stores only
// positions and their hashes, never copies of the names: the owner hashes a
// name (Hash, or HashLower for names that compare without regard to ASCII
// case), tells how names compare through callbacks, and appends positions in
// order. Positions added later never replace an earlier one with the same
// name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace chapfile_detail {

class FirstIndex {
  public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    // Number of positions indexed so far (0 .. count-1 in append order).
    std::size_t Indexed() const { return m_indexed; }

    void Clear() {
        std::vector<Slot>().swap(m_slots);
        m_used = 0;
        m_indexed = 0;
    }

    // Makes room for `count` positions in all, so that indexing them does not
    // grow the table step by step.
    void Reserve(std::size_t count) {
        std::size_t slots = m_slots.empty() ? 16 : m_slots.size();
        while (count * 4 > slots * 3) slots *= 2;
        if (slots > m_slots.size())
            Rehash(slots);
    }

    // Indexes position Indexed(), whose name hashes to `hash`; `sameName(p)`
    // tells whether the earlier position p has its name. True when the
    // position is the first of its name. Beyond four thousand million
    // positions nothing more is indexed; no file that fits in memory gets
    // there.
    template <typename SameName>
    bool Append(std::uint32_t hash, const SameName& sameName) {
        std::size_t position = m_indexed++;
        if (position >= kEmpty)
            return false;
        if ((m_used + 1) * 4 > m_slots.size() * 3)
            Rehash(m_slots.empty() ? 16 : m_slots.size() * 2);
        std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.position == kEmpty) {
                slot.hash = hash;
                slot.position = static_cast<std::uint32_t>(position);
                ++m_used;
                return true;
            }
            if (slot.hash == hash && sameName(slot.position))
                return false;
        }
    }

    // The first indexed position whose name hashes to `hash` and for which
    // `matches(p)` holds, or kNone.
    template <typename Matches>
    std::size_t Find(std::uint32_t hash, const Matches& matches) const {
        if (m_slots.empty())
            return kNone;
        std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = m_slots[i];
            if (slot.position == kEmpty)
                return kNone;
            if (slot.hash == hash && matches(slot.position))
                return slot.position;
        }
    }

    // Starts fetching the slot a hash leads to. A chapter's catch-up calls it
    // a few lines ahead: a table of a million lines is far larger than the
    // cache, and the fetches of several insertions then overlap.
    void Prefetch(std::uint32_t hash) const {
#if defined(__GNUC__) || defined(__clang__)
        if (!m_slots.empty())
            __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]);
#else
        (void)hash;
#endif
    }

    static std::uint32_t Hash(std::string_view name) {
        return HashOf(name, [](char ch) { return ch; });
    }
    // The hash of `name` with ASCII capitals taken as small letters: equal to
    // Hash() of the lowercased name, without making that copy.
    static std::uint32_t HashLower(std::string_view name) {
        return HashOf(name, [](char ch) { return ch >= 'A' && ch <= 'Z' ? char(ch + 32) : ch; });
    }

  private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t position = kEmpty;
    };

    template <typename Map>
    static std::uint32_t HashOf(std::string_view name, const Map& map) {
        // FNV-1a: short keys, no allocation, same result on every host.
        std::uint32_t h = 2166136261u;
        for (char ch : name) {
            h ^= static_cast<unsigned char>(map(ch));
            h *= 16777619u;
        }
        return h ^ (h >> 15);
    }

    void Rehash(std::size_t size) {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(size, Slot{});
        std::size_t mask = m_slots.size() - 1;
        for (const Slot& slot : old) {
            if (slot.position == kEmpty)
                continue;
            std::size_t i = slot.hash & mask;
            while (m_slots[i].position != kEmpty) i = (i + 1) & mask;
            m_slots[i] = slot;
        }
    }

    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
    std::size_t m_indexed = 0;
};

}  // namespace chapfile_detail
