// Linked lists of the in-house library: KvListeS<T> (singly linked),
// KvListeD<T> (doubly linked) and KvListeDEvolue<T> (the doubly linked list
// the users list keeps its users in).
//
// Each element lives in its own node, so its address stays valid until the
// list is emptied or destroyed. Access by index walks the chain; walk a whole
// list with range-for or ForEach, which cost linear time, never with GetAt(i)
// from 0 to the count, which costs quadratic time on a long list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "containers/kv_liste.h"

// The node chain and every operation the two linked lists share. `Doubly`
// adds the back link, which lets KvListeD reach an index from the nearer end.
template <typename T, bool Doubly>
class KvListeChainee : public KvListe<T> {
  protected:
    struct Node {
        T value{};
        Node* next = nullptr;
        Node* prev = nullptr;  // kept only by the doubly linked list
    };

    template <typename Elem>
    class Iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = Elem*;
        using reference = Elem&;

        Iterator() = default;
        explicit Iterator(Node* node) : m_node(node) {}
        Elem& operator*() const { return m_node->value; }
        Elem* operator->() const { return &m_node->value; }
        Iterator& operator++() {
            m_node = m_node->next;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            m_node = m_node->next;
            return before;
        }
        friend bool operator==(const Iterator& a, const Iterator& b) {
            return a.m_node == b.m_node;
        }

      private:
        Node* m_node = nullptr;
    };

  public:
    using iterator = Iterator<T>;
    using const_iterator = Iterator<const T>;

    ~KvListeChainee() override { RemoveAll(); }

    void RemoveAll() override {
        Node* node = m_head;
        while (node != nullptr) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        m_head = nullptr;
        m_tail = nullptr;
        m_count = 0;
    }

    void Fill(const T& value) override {
        for (T& element : *this) {
            if (&element != &value) {
                element = value;
            }
        }
    }

    T* NewElement() override {
        Node* node = new Node();
        if (m_tail == nullptr) {
            m_head = node;
        } else {
            m_tail->next = node;
            if constexpr (Doubly) {
                node->prev = m_tail;
            }
        }
        m_tail = node;
        ++m_count;
        return &node->value;
    }

    // Null for a negative index and for any index at or beyond the count.
    T* GetAt(int index) override {
        if (index < 0 || static_cast<std::uint32_t>(index) >= m_count) {
            return nullptr;
        }
        auto i = static_cast<std::uint32_t>(index);
        if constexpr (Doubly) {
            if (i > m_count / 2) {
                Node* node = m_tail;
                for (std::uint32_t steps = m_count - 1 - i; steps > 0; --steps) {
                    node = node->prev;
                }
                return &node->value;
            }
        }
        Node* node = m_head;
        for (; i > 0; --i) {
            node = node->next;
        }
        return &node->value;
    }

    unsigned GetSize() const override { return m_count; }
    unsigned GetCount() const override { return m_count; }
    T* GetLast() override { return m_tail != nullptr ? &m_tail->value : nullptr; }

    void ForEach(const std::function<void(const T&)>& visit) const override {
        for (const T& element : *this) {
            visit(element);
        }
    }

    iterator begin() { return iterator(m_head); }
    iterator end() { return iterator(); }
    const_iterator begin() const { return const_iterator(m_head); }
    const_iterator end() const { return const_iterator(); }

  protected:
    KvListeChainee() = default;
    // Copies are deep: the elements are copied in order into new nodes.
    KvListeChainee(const KvListeChainee& other) : KvListe<T>() { AppendCopies(other); }
    KvListeChainee& operator=(const KvListeChainee& other) {
        if (this != &other) {
            RemoveAll();
            AppendCopies(other);
        }
        return *this;
    }

    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    std::uint32_t m_count = 0;

  private:
    void AppendCopies(const KvListeChainee& other) {
        for (const T& element : other) {
            *NewElement() = element;
        }
    }
};

template <typename T>
class KvListeS : public KvListeChainee<T, false> {};

template <typename T>
class KvListeD : public KvListeChainee<T, true> {
  public:
    // The elements from the last to the first, in linear time.
    template <typename Visit>
    void ForEachBackwards(Visit visit) {
        for (auto* node = this->m_tail; node != nullptr; node = node->prev) {
            visit(node->value);
        }
    }
};

// The doubly linked list with no behaviour of its own; owners derive from it
// (the users list) to give it theirs.
template <typename T>
class KvListeDEvolue : public KvListeD<T> {
  public:
    ~KvListeDEvolue() override = default;
};
