#include "containers/kv_liste_tab.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

std::vector<int> Walk(const KvListeTab<int>& list) {
    std::vector<int> seen;
    for (const int& e : list) seen.push_back(e);
    return seen;
}

TEST(KvListeTabFixe, GetAtBeyondTheEndExtendsTheListWithDefaults) {
    KvListeTabFixe<int> list(100);
    int* far = list.GetAt(250);
    ASSERT_NE(far, nullptr);
    for (int i = 0; i < 250; ++i) EXPECT_EQ(*list.GetAt(i), 0);
    EXPECT_EQ(list.GetCount(), 251u);  // reading below the count does not raise it
    EXPECT_EQ(list.GetLast(), far);

    // Only the block of index 5 is reached: a walk stops at the first block
    // never filled, while ForEach goes by the count and sees all six.
    KvListeTabFixe<int> sparse(3);
    *sparse.GetAt(5) = 5;
    EXPECT_TRUE(Walk(sparse).empty());
    int n = 0;
    sparse.ForEach([&](const int&) { ++n; });
    EXPECT_EQ(n, 6);
}

TEST(KvListeTabFixe, ElementsKeepTheirAddressesAndOrderAcrossBlocks) {
    KvListeTabFixe<int> list(3);
    std::vector<int*> places;
    std::vector<int> expected;
    for (int v = 0; v < 10; ++v) {
        places.push_back(list.NewElement());
        *places.back() = v;
        expected.push_back(v);
    }
    EXPECT_EQ(Walk(list), expected);
    // Jumps between blocks in any order find the right block.
    for (int i : {9, 0, 5, 4, 8, 1, 6, 3, 7, 2, 9, 0})
        EXPECT_EQ(list.GetAt(i), places[static_cast<std::size_t>(i)]) << i;
    *list.GetAt(11) = 11;  // a gap: place 10 exists, default
    EXPECT_EQ(*list.GetAt(10), 0);
    int* appended = list.NewElement();
    EXPECT_EQ(appended, list.GetAt(12));
    EXPECT_EQ(list.GetCount(), 13u);

    KvListeTabFixe<int> copy(list), other(5);
    *copy.GetAt(0) = 10;
    other = list;
    EXPECT_EQ(*list.GetAt(0), 0);
    EXPECT_EQ(*copy.GetAt(9), 9);
    EXPECT_EQ(Walk(other), Walk(list));
    list.Fill(7);  // whole blocks
    EXPECT_EQ(Walk(list), std::vector<int>(15, 7));
}

TEST(KvListeTabFixe, RefusesNegativeAndAbsurdIndexes) {
    KvListeTabFixe<char> list(1u << 20);
    for (int index : {-1, INT_MIN, INT_MAX, static_cast<int>(kKvMaxPlaces)})
        EXPECT_EQ(list.GetAt(index), nullptr) << index;
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_NE(list.GetAt(static_cast<int>(kKvMaxPlaces) - 1), nullptr);
    EXPECT_EQ(list.NewElement(), nullptr);  // the place limit is reached

    KvListeTabFixe<int> zero(0);  // a block size of 0 is taken as 1
    *zero.NewElement() = 1;
    *zero.NewElement() = 2;
    EXPECT_EQ(Walk(zero), (std::vector<int>{1, 2}));
}

}  // namespace
