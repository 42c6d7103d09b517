#include "containers/kv_tab.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

std::vector<int> Values(const KvTab<int>& t) {
    return std::vector<int>(t.begin(), t.end());
}

TEST(KvTab, GrowsToTheIndexReachedWithDefaultPlaces) {
    KvTab<int> t(10, 5);
    *t.GetAt(3) = 33;
    *t.GetAt(23) = 2323;
    EXPECT_EQ(t.GetCount(), 24u);
    EXPECT_EQ(*t.GetAt(3), 33);
    EXPECT_EQ(*t.GetAt(23), 2323);
    EXPECT_EQ(*t.GetAt(10), 0);
    int* next = t.NewElement();  // appends at the count
    EXPECT_EQ(next, t.GetAt(24));
    EXPECT_EQ(t.GetLast(), next);

    t.RemoveAll();
    EXPECT_EQ(t.PlaceAt(0), nullptr);
    ASSERT_NE(t.NewElement(), nullptr);  // usable again
    EXPECT_EQ(*t.GetAt(0), 0);
}

TEST(KvTab, GivesNullWhereThereIsNoPlace) {
    KvTab<int> fixed;
    EXPECT_EQ(fixed.GetAt(0), nullptr);  // no storage, no increment
    EXPECT_EQ(fixed.NewElement(), nullptr);
    EXPECT_EQ(fixed.GetLast(), nullptr);
    ASSERT_TRUE(fixed.Allocate(4));
    EXPECT_NE(fixed.GetAt(3), nullptr);
    EXPECT_EQ(fixed.GetAt(4), nullptr);  // beyond the capacity, increment 0
    EXPECT_EQ(fixed.NewElement(), nullptr);

    KvTab<int> growing(8, 8);
    for (int index : {-1, INT_MIN, static_cast<int>(kKvMaxPlaces), INT_MAX})
        EXPECT_EQ(growing.GetAt(index), nullptr) << index;
    EXPECT_EQ(growing.GetCount(), 0u);
    EXPECT_FALSE(growing.Allocate(kKvMaxPlaces + 1));
    // A huge increment stops at the place limit.
    KvTab<char> huge(1, 0xFFFFFFFFu);
    ASSERT_NE(huge.GetAt(5), nullptr);
    EXPECT_EQ(huge.GetSize(), kKvMaxPlaces);
}

TEST(KvTab, FillAndAssignmentWorkFromTheTablesOwnElements) {
    KvTab<int> t(5, 0);
    *t.NewElement() = 1;
    *t.GetAt(2) = 4;
    t.Fill(*t.PlaceAt(2));
    EXPECT_EQ(t.GetCount(), 3u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(*t.PlaceAt(i), 4) << i;

    KvTab<int> source;
    source.Allocate(4);
    *source.GetAt(0) = 1;
    *source.GetAt(1) = 2;
    KvTab<int> copy;
    copy = source;
    *copy.GetAt(0) = 5;
    EXPECT_EQ(Values(source), (std::vector<int>{1, 2}));
    EXPECT_NE(copy.GetAt(4), nullptr);  // the copy grows, its source could not
    // Only the elements below the source's count are copied.
    KvTab<int> roomy(10, 7);
    *roomy.GetAt(6) = 66;
    roomy = source;
    EXPECT_EQ(Values(roomy), (std::vector<int>{1, 2}));
    KvTab<int>& alias = source;
    source = alias;
    EXPECT_EQ(Values(KvTab<int>(source)), (std::vector<int>{1, 2}));
}

}  // namespace
