// FirstIndex: finds the first element of a sequence whose name equals a given
// text, in constant time on average.
//
// A chaptered file can hold a million lines in one chapter and thousands of
// chapters; lookups that walked them from the start made loading quadratic.
// This index answers the same question the walk did -- the first position, in
// file order, whose name matches -- so results stay identical. It stores only
// positions (and their hashes), never copies of the names: the owner supplies
// the name of a position through a callback, and appends positions in order.
// Positions added later never replace an earlier one with the same name.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
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

    // Indexes position `Indexed()`, whose name is `name`.
    // Beyond four thousand million positions nothing more is indexed; no file
    // that fits in memory gets there.
    // True when the position is the first of its name.
    template <typename NameOf>
    bool Append(std::string_view name, const NameOf& nameOf) {
        std::size_t position = m_indexed++;
        if (position >= kEmpty)
            return false;
        if ((m_used + 1) * 4 > m_slots.size() * 3)
            Grow();
        return Insert(Hash(name), position,
                      [&](std::uint32_t indexed) { return nameOf(indexed) == name; });
    }

    // The first indexed position named `name`, or kNone.
    template <typename NameOf>
    std::size_t Find(std::string_view name, const NameOf& nameOf) const {
        return FindHashed(Hash(name),
                          [&](std::uint32_t position) { return nameOf(position) == name; });
    }

    // Find for an owner that compares names its own way (say, without regard
    // to case): `hash` is the name's hash as that owner computed it for
    // AppendAll, and `matches(p)` tells whether position p has the name.
    template <typename Matches>
    std::size_t FindHashed(std::uint32_t hash, const Matches& matches) const {
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

    // Indexes the next hashes.size() positions at once, hashes[k] being the
    // hash of position Indexed() + k; `first` grows to the new Indexed() and
    // tells for each new position whether it is the first of its name.
    // `sameName(a, b)`: positions a and b have one name.
    //
    // The result is the one of appending the positions one by one, but a
    // table of a million names does not fit in the cache, and visiting its
    // slots in the random order of the hashes would cost a trip to memory
    // per name (prefetching alone does not hide it: the misses are in the page
    // tables too). So the positions are first grouped by the stretch of the
    // table they land in -- a stable counting sort, which keeps positions of
    // one hash, and so of one name, in file order -- and then inserted
    // stretch by stretch, walking the table from one end to the other.
    template <typename SameName>
    void AppendAll(std::span<const std::uint32_t> hashes, std::vector<bool>& first,
                   const SameName& sameName) {
        const std::size_t begin = m_indexed;
        const std::size_t count = hashes.size();
        m_indexed += count;
        first.resize(m_indexed, false);
        // Positions past the last one a slot can hold stay out of the index.
        const std::size_t fits = begin >= kEmpty ? 0 : std::min<std::size_t>(count, kEmpty - begin);
        if (fits == 0)
            return;
        Reserve(m_used + fits);
        const std::size_t mask = m_slots.size() - 1;
        std::vector<std::uint32_t> order(fits);
        if (fits < kStretches / 16) {
            // A few lines added since the last lookup: file order will do.
            for (std::size_t k = 0; k < fits; ++k) order[k] = static_cast<std::uint32_t>(k);
        } else {
            int shift = 0;
            while ((m_slots.size() >> shift) > kStretches) ++shift;
            std::vector<std::uint32_t> start((m_slots.size() >> shift) + 1, 0);
            for (std::size_t k = 0; k < fits; ++k) ++start[((hashes[k] & mask) >> shift) + 1];
            for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
            for (std::size_t k = 0; k < fits; ++k)
                order[start[(hashes[k] & mask) >> shift]++] = static_cast<std::uint32_t>(k);
        }
        // Each insertion needs its hash, then its slot: both are fetched a
        // few insertions ahead so that the misses overlap.
        constexpr std::size_t kAhead = 8;
        for (std::size_t j = 0; j < fits; ++j) {
            if (j + 2 * kAhead < fits)
                __builtin_prefetch(&hashes[order[j + 2 * kAhead]]);
            if (j + kAhead < fits)
                __builtin_prefetch(&m_slots[hashes[order[j + kAhead]] & mask]);
            const std::size_t position = begin + order[j];
            if (Insert(hashes[order[j]], position,
                       [&](std::uint32_t indexed) { return sameName(indexed, position); }))
                first[position] = true;
        }
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
    // AppendAll groups positions into at most this many stretches of the
    // table: few enough that the next free place of every group stays in the
    // cache while the positions are sorted.
    static constexpr std::size_t kStretches = 4096;
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

    // Puts `position` in the slot its hash leads to, unless a slot on the way
    // holds a position with the same name (`sameAs`): that earlier position
    // stays the one found. The table must have a free slot.
    template <typename SameAs>
    bool Insert(std::uint32_t hash, std::size_t position, const SameAs& sameAs) {
        std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.position == kEmpty) {
                slot.hash = hash;
                slot.position = static_cast<std::uint32_t>(position);
                ++m_used;
                return true;
            }
            if (slot.hash == hash && sameAs(slot.position))
                return false;
        }
    }

    void Grow() { Rehash(m_slots.empty() ? 16 : m_slots.size() * 2); }

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
