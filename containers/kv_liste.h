// KvListeVoid and KvListe<T>: the virtual interface shared by every list and
// array of the in-house library.
//
// Code that only needs "the element at i" or "one more element" works through
// these two classes and never learns how a container stores its elements
// (linked nodes, a chain of fixed blocks or one growable array; see
// kv_liste_chainee.h, kv_liste_tab.h and kv_tab.h). Elements are held by value
// and owned by the container, which default-constructs and destroys them.
//
// Indexes are 0-based. They are taken as `int` so that a negative index (or an
// unsigned one above INT_MAX that wrapped on the way in) is refused with a null
// result instead of being read as a huge position.
#pragma once

#include <cstdint>
#include <functional>

// Upper bound on the element places one container will ever create. An index
// or size read from a damaged file must give a null result, not an allocation
// that exhausts memory and aborts; 16 Mi places are far above the million
// strings the largest lists of the system hold.
inline constexpr std::uint32_t kKvMaxPlaces = 1u << 24;

class KvListeVoid {
  public:
    virtual ~KvListeVoid() = default;

    // Destroys every element and releases all storage.
    virtual void RemoveAll() = 0;
    // The element at `index` as GetAt gives it, untyped.
    virtual void* At(int index) = 0;
    // A new element as NewElement gives it, untyped; null when none can be added.
    virtual void* AddNew() = 0;
    // Size in bytes of one element.
    virtual unsigned ElementSize() const = 0;

  protected:
    KvListeVoid() = default;
    KvListeVoid(const KvListeVoid&) = default;
    KvListeVoid& operator=(const KvListeVoid&) = default;
};

template <typename T>
class KvListe : public KvListeVoid {
  public:
    using value_type = T;

    void* At(int index) override { return GetAt(index); }
    void* AddNew() override { return NewElement(); }
    unsigned ElementSize() const override { return sizeof(T); }

    // Assigns `value` to every place from 0 to GetSize() - 1, skipping the
    // place that is `value` itself.
    virtual void Fill(const T& value) = 0;
    // Appends one default-constructed element; null when the container cannot
    // take one more (a full table that does not grow, or the place limit).
    virtual T* NewElement() = 0;
    // The element at `index`; what happens beyond the end depends on the
    // variant (null, or the container extends itself).
    virtual T* GetAt(int index) = 0;
    // Empties the container (a KvTab keeps its storage).
    virtual void Reset() { RemoveAll(); }
    // Element places available: the count for linked lists, whole blocks for
    // block lists, the capacity for tables.
    virtual unsigned GetSize() const = 0;
    // Elements in use.
    virtual unsigned GetCount() const = 0;
    // The last element in use, null when empty.
    virtual T* GetLast() = 0;

    // Replaces the content by copies of the elements 0 .. GetCount() - 1 of
    // `other`, appended with NewElement. Copying stops early if this container
    // refuses more elements. Owners whose elements must not be copied
    // override it with an empty body.
    virtual void CopyFrom(const KvListe<T>& other) {
        if (&other == this) {
            return;
        }
        Reset();
        bool full = false;
        other.ForEach([&](const T& element) {
            if (full) {
                return;
            }
            T* place = NewElement();
            if (place == nullptr) {
                full = true;
                return;
            }
            *place = element;
        });
    }

    // Visits the elements 0 .. GetCount() - 1 in index order, in linear time
    // whatever the storage (walking by GetAt from the head would be quadratic
    // for the linked variants).
    virtual void ForEach(const std::function<void(const T&)>& visit) const = 0;

  protected:
    KvListe() = default;
    KvListe(const KvListe&) = default;
    KvListe& operator=(const KvListe&) = default;
};
