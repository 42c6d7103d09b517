// KvTab<T>: one contiguous array that grows in fixed steps.
//
// The table owns an array of `capacity` default-constructed places; `count`
// is the number in use (highest index reached plus one). It grows only by its
// growth increment, never geometrically, and only when the increment is not 0:
// a table with increment 0 answers null beyond its capacity. This is what the
// message catalogues rely on: they size every level once and a key outside
// the sizes simply has no place. Growth copies every place by assignment into
// a new array, so pointers into the table do not survive it.
//
// Places are value-initialised (`new T[n]()`), so plain numbers start at 0
// like any default-constructed element.
//
// Assigning one table to another is deep and may enlarge the target (see
// operator=); the nested string tables of the catalogues are tables of tables
// built on this rule.
#pragma once

#include <algorithm>
#include <cstdint>

#include "containers/kv_liste.h"

template <typename T>
class KvTab : public KvListe<T> {
  public:
    // No storage, count 0, capacity 0, growth increment 0, allocation size 0.
    KvTab() = default;
    // No storage yet; the first access allocates `allocationSize` places and
    // later accesses grow by `growBy`.
    KvTab(std::uint32_t allocationSize, std::uint32_t growBy)
        : m_growBy(growBy), m_allocationSize(allocationSize) {}
    // Copying is the deep assignment below, into an empty table.
    KvTab(const KvTab& other) : KvListe<T>() { *this = other; }
    ~KvTab() override { delete[] m_data; }

    // Deep assignment. When this table has no storage or less capacity than
    // `other`, its storage is replaced by a fresh allocation of other's
    // allocation size, and it takes other's growth increment, 0 becoming 100:
    // a copy may grow where its source cannot. Then the elements below
    // other's count are assigned one by one (deeply, for nested tables).
    KvTab& operator=(const KvTab& other) {
        if (this == &other) {
            return *this;
        }
        if (m_capacity == 0 || m_capacity < other.m_capacity) {
            if (m_data != nullptr) {
                RemoveAll();
            }
            m_allocationSize = other.m_allocationSize;
            m_growBy = other.m_growBy != 0 ? other.m_growBy : 100;
            if (m_allocationSize != 0) {
                Allocate(m_allocationSize);
            }
        }
        // The allocation size always equals the capacity of a table with
        // storage, so everything fits; the bound only guards the copy loop.
        const std::uint32_t n = std::min(other.m_count, m_capacity);
        m_count = n;
        for (std::uint32_t j = 0; j < n; ++j) {
            m_data[j] = other.m_data[j];
        }
        return *this;
    }

    void RemoveAll() override {
        m_count = 0;
        m_capacity = 0;
        delete[] m_data;
        m_data = nullptr;
        // The allocation size stays: the next access re-creates storage of it.
    }

    // Every place of the capacity, in use or not; the count does not change.
    void Fill(const T& value) override {
        for (std::uint32_t j = 0; j < m_capacity; ++j) {
            if (&m_data[j] != &value) {
                m_data[j] = value;
            }
        }
    }

    // Without storage the first element allocates the allocation size. A
    // table given neither an allocation size nor an increment cannot take an
    // element and answers null; with an increment but no allocation size it
    // starts with one step of the increment.
    T* NewElement() override {
        if (m_count >= m_capacity) {
            if (m_capacity == 0) {
                Allocate(m_allocationSize);
            }
            if (m_count >= m_capacity && !GrowToReach(m_count)) {
                return nullptr;
            }
        }
        ++m_count;
        return &m_data[m_count - 1];
    }

    // The place `index`, growing the table by whole increments when the index
    // is beyond the capacity; null when the increment is 0, the index is
    // negative or the index is at or above kKvMaxPlaces. Reaching an index
    // raises the count to index + 1.
    T* GetAt(int index) override {
        if (index < 0) {
            return nullptr;
        }
        const auto i = static_cast<std::uint32_t>(index);
        if (i >= m_capacity) {
            if (m_growBy == 0) {
                return nullptr;
            }
            if (m_capacity == 0) {
                Allocate(m_allocationSize);
            }
            if (i >= m_capacity && !GrowToReach(i)) {
                return nullptr;
            }
        }
        if (i >= m_count) {
            m_count = i + 1;
        }
        return &m_data[i];
    }

    // The place `index` when it exists, else null; unlike GetAt this neither
    // grows the table nor changes its count, so it serves read-only lookups.
    const T* PlaceAt(int index) const {
        if (index < 0 || static_cast<std::uint32_t>(index) >= m_capacity) {
            return nullptr;
        }
        return &m_data[index];
    }

    // Count 0; the storage and the values in it stay.
    void Reset() override { m_count = 0; }
    unsigned GetSize() const override { return m_capacity; }
    unsigned GetCount() const override { return m_count; }
    T* GetLast() override { return m_count == 0 ? nullptr : &m_data[m_count - 1]; }

    void ForEach(const std::function<void(const T&)>& visit) const override {
        for (std::uint32_t j = 0; j < m_count; ++j) {
            visit(m_data[j]);
        }
    }

    // Removes the element `index` (below the count) by shifting the following
    // ones down one place. The old last value stays beyond the count. Returns
    // false, changing nothing, for an index outside the count.
    virtual bool RemoveAt(int index) {
        if (index < 0 || static_cast<std::uint32_t>(index) >= m_count) {
            return false;
        }
        --m_count;
        for (auto j = static_cast<std::uint32_t>(index); j < m_count; ++j) {
            m_data[j] = m_data[j + 1];
        }
        return true;
    }

    // Count 0 and at least `n` places. Only a larger `n` replaces the storage
    // (by n fresh default places); otherwise storage and values stay. Returns
    // false, changing nothing, when n is above kKvMaxPlaces.
    bool Allocate(std::uint32_t n) {
        if (n > kKvMaxPlaces) {
            return false;
        }
        m_count = 0;
        if (n > m_capacity) {
            if (m_data != nullptr) {
                RemoveAll();
            }
            m_data = new T[n]();
            m_capacity = n;
            m_allocationSize = n;
        }
        return true;
    }

    // Re-creates the storage with `n` places, assigning the old places into
    // the new array. A table without storage gets n fresh places and count 0.
    // Growing to fewer places than in use drops the places beyond n (and
    // lowers the count); Grow(0) releases the storage. Returns false,
    // changing nothing, when n is above kKvMaxPlaces.
    bool Grow(std::uint32_t n) {
        if (n > kKvMaxPlaces) {
            return false;
        }
        if (m_capacity == 0) {
            m_count = 0;
            if (n != 0) {
                delete[] m_data;
                m_data = new T[n]();
                m_capacity = n;
                m_allocationSize = n;
            }
            return true;
        }
        if (n == 0) {
            RemoveAll();
            m_allocationSize = 0;
            return true;
        }
        T* fresh = new T[n]();
        const std::uint32_t keep = std::min(n, m_capacity);
        for (std::uint32_t j = 0; j < keep; ++j) {
            fresh[j] = m_data[j];
        }
        delete[] m_data;
        m_data = fresh;
        m_capacity = n;
        m_allocationSize = n;
        m_count = std::min(m_count, n);
        return true;
    }

    std::uint32_t GetGrowBy() const { return m_growBy; }
    void SetGrowBy(std::uint32_t growBy) { m_growBy = growBy; }
    std::uint32_t GetAllocationSize() const { return m_allocationSize; }

    // The elements in use, for range-for.
    T* begin() { return m_data; }
    T* end() { return m_data + m_count; }
    const T* begin() const { return m_data; }
    const T* end() const { return m_data + m_count; }

  private:
    // Grows by whole increments from the current capacity until `index` has
    // a place. Steps that would pass kKvMaxPlaces stop at it.
    bool GrowToReach(std::uint32_t index) {
        if (m_growBy == 0 || index >= kKvMaxPlaces) {
            return false;
        }
        const std::uint64_t steps = (index - m_capacity) / m_growBy + 1;
        const std::uint64_t wanted = m_capacity + steps * m_growBy;
        return Grow(static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, kKvMaxPlaces)));
    }

    T* m_data = nullptr;
    std::uint32_t m_count = 0;
    std::uint32_t m_capacity = 0;
    std::uint32_t m_growBy = 0;
    std::uint32_t m_allocationSize = 0;
};
