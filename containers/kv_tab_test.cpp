#include "containers/kv_tab.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "containers/kv_test_support.h"

namespace {

std::vector<int> Values(const KvTab<int>& t) {
    return std::vector<int>(t.begin(), t.end());
}

TEST(KvTab, GrowsInWholeIncrementsAndKeepsValues) {
    KvTab<int> t(10, 5);
    EXPECT_EQ(t.GetSize(), 0u);
    *t.GetAt(3) = 33;
    EXPECT_EQ(t.GetSize(), 10u);
    EXPECT_EQ(t.GetCount(), 4u);

    // 10 -> 15 -> 20 -> 25: the smallest whole number of steps above 23.
    *t.GetAt(23) = 2323;
    EXPECT_EQ(t.GetSize(), 25u);
    EXPECT_EQ(t.GetCount(), 24u);
    EXPECT_EQ(*t.GetAt(3), 33);
    EXPECT_EQ(*t.GetAt(23), 2323);
    EXPECT_EQ(*t.GetAt(10), 0);  // a place reached for the first time is default

    // NewElement appends at the count and takes one step when full.
    *t.GetAt(24) = 24;
    int* next = t.NewElement();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next, t.GetAt(25));
    EXPECT_EQ(t.GetSize(), 30u);
    EXPECT_EQ(t.GetCount(), 26u);
    EXPECT_EQ(t.GetLast(), next);
}

TEST(KvTab, GivesNullWhereThereIsNoPlace) {
    KvTab<int> fixed;
    EXPECT_EQ(fixed.GetAt(0), nullptr);      // no storage, no increment
    EXPECT_EQ(fixed.NewElement(), nullptr);  // nor an allocation size
    EXPECT_EQ(fixed.GetLast(), nullptr);
    ASSERT_TRUE(fixed.Allocate(4));
    EXPECT_NE(fixed.GetAt(3), nullptr);
    EXPECT_EQ(fixed.GetAt(4), nullptr);  // beyond the capacity, increment 0
    EXPECT_EQ(fixed.GetCount(), 4u);
    EXPECT_EQ(fixed.NewElement(), nullptr);  // full and never grows
    EXPECT_EQ(fixed.GetSize(), 4u);
    EXPECT_EQ(fixed.GetCount(), 4u);

    KvTab<int> growing(8, 8);
    EXPECT_EQ(growing.GetAt(-1), nullptr);
    EXPECT_EQ(growing.GetAt(INT_MIN), nullptr);
    EXPECT_EQ(growing.GetAt(static_cast<int>(kKvMaxPlaces)), nullptr);
    EXPECT_EQ(growing.GetAt(INT_MAX), nullptr);
    EXPECT_EQ(growing.GetCount(), 0u);
    EXPECT_FALSE(growing.Allocate(kKvMaxPlaces + 1));
    EXPECT_FALSE(growing.Grow(0xFFFFFFFFu));
    EXPECT_EQ(growing.RemoveAt(0), false);
    EXPECT_EQ(growing.RemoveAt(-1), false);

    // An increment but no allocation size: the first element takes one step.
    KvTab<int> stepping(0, 3);
    EXPECT_NE(stepping.NewElement(), nullptr);
    EXPECT_EQ(stepping.GetSize(), 3u);
}

TEST(KvTab, HugeIncrementStopsAtThePlaceLimit) {
    KvTab<char> t(1, 0xFFFFFFFFu);
    ASSERT_NE(t.GetAt(5), nullptr);
    EXPECT_EQ(t.GetSize(), kKvMaxPlaces);
    EXPECT_EQ(t.GetCount(), 6u);
}

TEST(KvTab, ResetKeepsStorageRemoveAllReleasesIt) {
    KvTab<int> t(6, 2);
    *t.NewElement() = 1;
    *t.NewElement() = 2;
    t.Reset();
    EXPECT_EQ(t.GetCount(), 0u);
    EXPECT_EQ(t.GetSize(), 6u);
    EXPECT_EQ(*t.PlaceAt(1), 2);  // values stay beyond the count

    t.RemoveAll();
    EXPECT_EQ(t.GetCount(), 0u);
    EXPECT_EQ(t.GetSize(), 0u);
    EXPECT_EQ(t.PlaceAt(0), nullptr);
    // The last allocation size is remembered.
    int* first = t.NewElement();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(*first, 0);
    EXPECT_EQ(t.GetSize(), 6u);

    // With increment 0 only NewElement re-creates storage; GetAt stays null.
    KvTab<int> fixed;
    fixed.Allocate(5);
    fixed.RemoveAll();
    EXPECT_EQ(fixed.GetAt(0), nullptr);
    EXPECT_NE(fixed.NewElement(), nullptr);
    EXPECT_EQ(fixed.GetSize(), 5u);
}

TEST(KvTab, AllocateAndGrowReshapeStorage) {
    KvTab<int> t;
    ASSERT_TRUE(t.Allocate(5));
    *t.GetAt(2) = 7;
    // A smaller or equal size keeps storage and values, count back to 0.
    ASSERT_TRUE(t.Allocate(3));
    EXPECT_EQ(t.GetSize(), 5u);
    EXPECT_EQ(t.GetCount(), 0u);
    EXPECT_EQ(*t.PlaceAt(2), 7);
    // A larger one starts afresh.
    ASSERT_TRUE(t.Allocate(8));
    EXPECT_EQ(*t.PlaceAt(2), 0);
    EXPECT_EQ(t.GetAllocationSize(), 8u);

    *t.GetAt(7) = 77;
    *t.GetAt(1) = 11;
    ASSERT_TRUE(t.Grow(12));
    EXPECT_EQ(t.GetSize(), 12u);
    EXPECT_EQ(t.GetCount(), 8u);  // growth leaves the count alone
    EXPECT_EQ(*t.PlaceAt(7), 77);
    ASSERT_TRUE(t.Grow(4));  // shrinking drops the places beyond
    EXPECT_EQ(t.GetCount(), 4u);
    EXPECT_EQ(Values(t), (std::vector<int>{0, 11, 0, 0}));
    ASSERT_TRUE(t.Grow(0));
    EXPECT_EQ(t.GetSize(), 0u);
}

TEST(KvTab, RemoveAtShiftsTheRestDown) {
    KvTab<int> t(4, 0);
    for (int v : {10, 20, 30}) *t.NewElement() = v;
    ASSERT_TRUE(t.RemoveAt(0));
    EXPECT_EQ(Values(t), (std::vector<int>{20, 30}));
    EXPECT_EQ(*t.PlaceAt(2), 30);  // the old last value stays beyond the count
    EXPECT_FALSE(t.RemoveAt(2));
    ASSERT_TRUE(t.RemoveAt(1));  // the last one: only the count drops
    EXPECT_EQ(Values(t), (std::vector<int>{20}));
}

TEST(KvTab, FillCoversTheWholeCapacity) {
    KvTab<int> t(5, 0);
    *t.NewElement() = 1;
    t.Fill(9);
    EXPECT_EQ(t.GetCount(), 1u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(*t.PlaceAt(i), 9);
    // Filling from one of its own places leaves that place alone.
    *t.GetAt(2) = 4;
    t.Fill(*t.PlaceAt(2));
    EXPECT_EQ(Values(t), (std::vector<int>{4, 4, 4}));
}

TEST(KvTab, AssignmentIsDeepAndMayEnlargeTheTarget) {
    KvTab<int> source;
    source.Allocate(4);
    *source.GetAt(0) = 1;
    *source.GetAt(1) = 2;

    KvTab<int> copy;
    copy = source;
    EXPECT_EQ(copy.GetSize(), 4u);
    EXPECT_EQ(copy.GetGrowBy(), 100u);  // increment 0 becomes 100
    EXPECT_EQ(Values(copy), (std::vector<int>{1, 2}));
    *copy.GetAt(0) = 5;
    EXPECT_EQ(*source.GetAt(0), 1);
    EXPECT_NE(copy.GetAt(4), nullptr);  // the copy grows, its source could not
    EXPECT_EQ(copy.GetSize(), 104u);

    // A target with more room keeps its storage and increment; only the
    // elements below the source's count are copied.
    KvTab<int> roomy(10, 7);
    *roomy.GetAt(6) = 66;
    roomy = source;
    EXPECT_EQ(roomy.GetSize(), 10u);
    EXPECT_EQ(roomy.GetGrowBy(), 7u);
    EXPECT_EQ(Values(roomy), (std::vector<int>{1, 2}));

    const KvTab<int> constructed(source);
    EXPECT_EQ(Values(constructed), (std::vector<int>{1, 2}));

    KvTab<int>& alias = source;
    source = alias;
    EXPECT_EQ(Values(source), (std::vector<int>{1, 2}));
}

TEST(KvTab, DestroysEveryElementOfNestedTables) {
    Counted::live = 0;
    {
        KvTab<KvTab<KvTab<Counted>>> outer;
        outer.Allocate(3);
        for (int i = 0; i < 3; ++i) {
            KvTab<KvTab<Counted>>* middle = outer.GetAt(i);
            middle->Allocate(2);
            for (int j = 0; j < 2; ++j) middle->GetAt(j)->Allocate(4);
        }
        EXPECT_EQ(Counted::live, 3 * 2 * 4);
        // Growing an outer level copies whole inner trees.
        outer.SetGrowBy(1);
        outer.GetAt(3)->Allocate(1);
        outer.GetAt(3)->GetAt(0)->Allocate(5);
        EXPECT_EQ(Counted::live, 3 * 2 * 4 + 5);
        outer.RemoveAt(0);
        outer.Reset();
        EXPECT_GT(Counted::live, 0);  // Reset keeps storage
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(KvTab, CopyFromStopsWhereTheTableRefusesMore) {
    KvTab<double> other(3, 0);
    for (double v : {1.0, 2.0, 3.0}) *other.NewElement() = v;
    KvTab<double> small(2, 0);
    KvListe<double>& list = small;
    list.CopyFrom(other);
    EXPECT_EQ(small.GetCount(), 2u);
    EXPECT_EQ(*small.GetLast(), 2.0);
    EXPECT_EQ(static_cast<KvListeVoid&>(small).At(2), nullptr);
}

}  // namespace
