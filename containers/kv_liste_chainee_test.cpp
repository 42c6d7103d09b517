#include "containers/kv_liste_chainee.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

template <typename List>
std::vector<int> Walk(const List& list) {
    std::vector<int> seen;
    list.ForEach([&](const int& e) { seen.push_back(e); });
    for (std::size_t i = 0; const auto& e : list) EXPECT_EQ(e, seen[i++]);
    return seen;
}

template <typename List>
class LinkedList : public ::testing::Test {};
using LinkedLists = ::testing::Types<KvListeS<int>, KvListeD<int>, KvListeDEvolue<int>>;
TYPED_TEST_SUITE(LinkedList, LinkedLists);

TYPED_TEST(LinkedList, KeepsOrderAndAddressesAndGivesNullOutsideTheElements) {
    TypeParam list;
    EXPECT_EQ(list.GetAt(0), nullptr);
    EXPECT_EQ(list.GetLast(), nullptr);
    std::vector<int*> places;
    for (int v = 0; v < 7; ++v) {
        places.push_back(list.NewElement());
        EXPECT_EQ(*places.back(), 0);
        *places.back() = v * 10;
    }
    EXPECT_EQ(Walk(list), (std::vector<int>{0, 10, 20, 30, 40, 50, 60}));
    // From either end (the doubly linked lists start from the nearer one).
    for (int i : {0, 6, 1, 5, 3}) EXPECT_EQ(list.GetAt(i), places[static_cast<std::size_t>(i)]);
    EXPECT_EQ(list.GetLast(), places.back());
    for (int index : {7, 1000, -1, INT_MIN}) EXPECT_EQ(list.GetAt(index), nullptr) << index;

    list.RemoveAll();
    EXPECT_EQ(list.GetLast(), nullptr);
    *list.NewElement() = 9;  // usable again after RemoveAll
    EXPECT_EQ(Walk(list), (std::vector<int>{9}));
}

TYPED_TEST(LinkedList, FillAndCopiesAreDeep) {
    TypeParam list;
    for (int v : {4, 5, 6}) *list.NewElement() = v;
    TypeParam copy(list);
    *copy.GetAt(0) = 40;
    EXPECT_EQ(Walk(list), (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(Walk(copy), (std::vector<int>{40, 5, 6}));
    copy = list;
    copy.Fill(*copy.GetAt(1));  // from one of its own elements
    EXPECT_EQ(Walk(copy), (std::vector<int>{5, 5, 5}));
}

}  // namespace
