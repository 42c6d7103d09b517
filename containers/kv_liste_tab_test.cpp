#include "containers/kv_liste_tab.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "containers/kv_liste_chainee.h"
#include "containers/kv_test_support.h"

namespace {

std::vector<int> WalkWithCursor(KvListeTab<int>& list) {
    std::vector<int> seen;
    KvListeTab<int>::Cursor cursor(list);
    while (int* e = cursor.Next()) seen.push_back(*e);
    return seen;
}

TEST(KvListeTabFixe, GetAtBeyondTheEndExtendsTheList) {
    KvListeTabFixe<int> list(100);
    int* far = list.GetAt(250);
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(list.GetBlockCount(), 3u);
    EXPECT_EQ(list.GetSize(), 300u);
    EXPECT_EQ(list.GetCount(), 251u);
    for (int i = 0; i < 250; ++i) {
        ASSERT_NE(list.GetAt(i), nullptr);
        EXPECT_EQ(*list.GetAt(i), 0);
    }
    EXPECT_EQ(list.GetCount(), 251u);  // reading below the count does not raise it
    EXPECT_EQ(list.GetAt(250), far);
    EXPECT_EQ(list.GetLast(), far);
}

TEST(KvListeTabFixe, NewElementAppendsAtTheCountWithStableAddresses) {
    KvListeTabFixe<int> list(3);
    std::vector<int*> places;
    for (int v = 0; v < 10; ++v) {
        int* p = list.NewElement();
        ASSERT_NE(p, nullptr);
        *p = v;
        places.push_back(p);
        EXPECT_EQ(list.GetCount(), static_cast<unsigned>(v + 1));
    }
    EXPECT_EQ(list.GetBlockCount(), 4u);
    // Later blocks never move earlier elements; jumps between blocks in any
    // order find the right block.
    for (int i : {9, 0, 5, 4, 8, 1, 6, 3, 7, 2, 9, 0})
        EXPECT_EQ(list.GetAt(i), places[static_cast<std::size_t>(i)]) << i;
    *list.GetAt(11) = 11;  // a gap: place 10 exists, default
    EXPECT_EQ(list.GetCount(), 12u);
    EXPECT_EQ(*list.GetAt(10), 0);
    int* appended = list.NewElement();
    EXPECT_EQ(appended, list.GetAt(12));
    EXPECT_EQ(list.GetCount(), 13u);
}

TEST(KvListeTabFixe, FillCoversWholeBlocksAndRaisesTheCount) {
    KvListeTabFixe<int> list(100);
    for (int v : {1, 2, 3}) *list.NewElement() = v;
    list.Fill(7);
    EXPECT_EQ(list.GetCount(), 100u);
    EXPECT_EQ(WalkWithCursor(list), std::vector<int>(100, 7));
    EXPECT_EQ(list.GetBlockCount(), 1u);
}

TEST(KvListeTabFixe, RemoveAllStartsAfreshWithTheSameBlockSize) {
    Counted::live = 0;
    {
        KvListeTabFixe<Counted> list(10);
        list.GetAt(25)->value = 5;
        EXPECT_EQ(Counted::live, 30);  // blocks are created whole
        list.RemoveAll();
        EXPECT_EQ(Counted::live, 0);
        EXPECT_EQ(list.GetCount(), 0u);
        EXPECT_EQ(list.GetSize(), 0u);
        EXPECT_EQ(list.GetLast(), nullptr);
        EXPECT_EQ(list.GetBlockSize(), 10u);
        Counted* first = list.NewElement();
        EXPECT_EQ(first->value, 0);
        EXPECT_EQ(list.GetBlockCount(), 1u);
        EXPECT_EQ(Counted::live, 10);
        list.Reset();
        EXPECT_EQ(Counted::live, 0);
        list.GetAt(3);
    }
    EXPECT_EQ(Counted::live, 0);
}

// Owners give a block list its block size in their own default constructor,
// so that it can be the element of another container.
struct HundredList : KvListeTabFixe<Counted> {
    HundredList() : KvListeTabFixe<Counted>(100) {}
};

TEST(KvListeTabFixe, NestedInOtherContainersIsDestroyedWhole) {
    Counted::live = 0;
    {
        KvListeTabFixe<HundredList> outer(2);
        outer.GetAt(2)->GetAt(150);
        outer.GetAt(0)->NewElement();
        EXPECT_EQ(Counted::live, 300);
        KvListeVoid* linked = new KvListeDEvolue<HundredList>();
        static_cast<HundredList*>(linked->AddNew())->NewElement();
        EXPECT_EQ(Counted::live, 400);
        delete linked;
        EXPECT_EQ(Counted::live, 300);
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(KvListeTabFixe, RefusesNegativeAndAbsurdIndexes) {
    KvListeTabFixe<char> list(1u << 20);
    EXPECT_EQ(list.GetAt(-1), nullptr);
    EXPECT_EQ(list.GetAt(INT_MIN), nullptr);
    EXPECT_EQ(list.GetAt(INT_MAX), nullptr);
    EXPECT_EQ(list.GetAt(static_cast<int>(kKvMaxPlaces)), nullptr);
    EXPECT_EQ(list.GetBlockCount(), 0u);
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_NE(list.GetAt(static_cast<int>(kKvMaxPlaces) - 1), nullptr);
    EXPECT_EQ(list.NewElement(), nullptr);  // the place limit is reached

    KvListeTabFixe<int> zero(0);  // a block size of 0 is taken as 1
    EXPECT_EQ(zero.GetBlockSize(), 1u);
    *zero.NewElement() = 1;
    *zero.NewElement() = 2;
    EXPECT_EQ(WalkWithCursor(zero), (std::vector<int>{1, 2}));
}

TEST(KvListeTabCursor, WalksInOrderAcrossBlocks) {
    KvListeTabFixe<int> list(4);
    EXPECT_TRUE(WalkWithCursor(list).empty());
    std::vector<int> expected;
    for (int v = 0; v < 9; ++v) {
        *list.NewElement() = v;
        expected.push_back(v);
    }
    KvListeTab<int>::Cursor cursor(list);
    EXPECT_EQ(cursor.Count(), 9u);
    std::vector<int> seen;
    while (int* e = cursor.Next()) seen.push_back(*e);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(cursor.Visited(), 9u);
    EXPECT_EQ(cursor.BlockIndex(), 2u);
    EXPECT_EQ(cursor.Next(), nullptr);  // stays at the end

    // Range-for and ForEach see the same elements.
    std::vector<int> ranged;
    for (int& e : list) ranged.push_back(e);
    EXPECT_EQ(ranged, expected);
    const KvListeTabFixe<int>& constant = list;
    std::vector<int> visited;
    constant.ForEach([&](const int& e) { visited.push_back(e); });
    EXPECT_EQ(visited, expected);
    KvListeTab<int>::ConstCursor readOnly(constant);
    const int* first = readOnly.Next();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, list.GetAt(0));
}

TEST(KvListeTabCursor, StopsAtABlockNeverFilled) {
    // Only the block of index 5 was reached; the first block's places exist
    // but were never reached, so the cursor sees nothing, while ForEach,
    // which goes by the count, sees all six.
    KvListeTabFixe<int> list(3);
    *list.GetAt(5) = 5;
    EXPECT_TRUE(WalkWithCursor(list).empty());
    int n = 0;
    list.ForEach([&](const int&) { ++n; });
    EXPECT_EQ(n, 6);
}

TEST(KvListeTabFixe, CopiesAreDeep) {
    KvListeTabFixe<int> list(2);
    for (int v : {1, 2, 3}) *list.NewElement() = v;
    KvListeTabFixe<int> copy(list);
    EXPECT_EQ(copy.GetBlockSize(), 2u);
    *copy.GetAt(0) = 10;
    EXPECT_EQ(WalkWithCursor(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(WalkWithCursor(copy), (std::vector<int>{10, 2, 3}));

    KvListeTabFixe<int> other(5);
    other = list;
    EXPECT_EQ(other.GetBlockSize(), 5u);
    EXPECT_EQ(WalkWithCursor(other), (std::vector<int>{1, 2, 3}));
}

}  // namespace
