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
        std::uint32_t hash = Hash(name);
        std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.position == kEmpty) {
                slot.hash = hash;
                slot.position = static_cast<std::uint32_t>(position);
                ++m_used;
                return true;
            }
            // The same name seen before keeps its earlier position.
            if (slot.hash == hash && nameOf(slot.position) == name)
                return false;
        }
    }

    // The first indexed position named `name`, or kNone.
    template <typename NameOf>
    std::size_t Find(std::string_view name, const NameOf& nameOf) const {
        if (m_slots.empty())
            return kNone;
        std::uint32_t hash = Hash(name);
        std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = m_slots[i];
            if (slot.position == kEmpty)
                return kNone;
            if (slot.hash == hash && nameOf(slot.position) == name)
                return slot.position;
        }
    }

  private:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t position = kEmpty;
    };

    static std::uint32_t Hash(std::string_view name) {
        // FNV-1a: short keys, no allocation, same result on every host.
        std::uint32_t h = 2166136261u;
        for (unsigned char ch : name) {
            h ^= ch;
            h *= 16777619u;
        }
        return h ^ (h >> 15);
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
