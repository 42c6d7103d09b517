#include "messages/nested_tables.h"

#include <gtest/gtest.h>

namespace {

// Builds a catalogue table the way a catalogue loads one: every level sized
// to 1 + the largest number used under its prefix (at least 1).
// Holds (2, 0, 0, 5) and (2, 1, 0, 0).
void BuildSample(KvStringTab4& table) {
    table.Allocate(3);
    for (int k1 = 0; k1 < 3; ++k1) {
        KvStringTab3* l3 = table.GetAt(k1);
        l3->Allocate(k1 == 2 ? 2 : 1);
        for (int k2 = 0; k2 < static_cast<int>(l3->GetSize()); ++k2) {
            KvStringTab2* l2 = l3->GetAt(k2);
            l2->Allocate(1);
            l2->GetAt(0)->Allocate(k1 == 2 && k2 == 0 ? 6 : 1);
        }
    }
    *GetTextPlace(table, 2, 0, 0, 5) = "Five";
    *GetTextPlace(table, 2, 1, 0, 0) = "Zero";
}

// The sizes of every level are those the catalogue test checks after a load.
TEST(NestedTables, TextsAreFoundOnlyInsideTheSizes) {
    KvStringTab4 table;
    BuildSample(table);
    EXPECT_EQ(*FindText(table, 2, 0, 0, 5), "Five");
    EXPECT_EQ(*FindText(table, 2, 1, 0, 0), "Zero");
    EXPECT_EQ(*FindText(table, 2, 0, 0, 4), "");
    EXPECT_EQ(*FindText(table, 1, 0, 0, 0), "");
    EXPECT_EQ(table.GetAt(3), nullptr);
    EXPECT_EQ(GetTextPlace(table, 3, 0, 0, 0), nullptr);
    EXPECT_EQ(GetTextPlace(table, 2, 0, 0, 6), nullptr);
    EXPECT_EQ(GetTextPlace(table, 1, 1, 0, 0), nullptr);
    EXPECT_EQ(GetTextPlace(table, -1, 0, 0, 0), nullptr);
    EXPECT_EQ(GetTextPlace(table, 2, 0, -5, 0), nullptr);
    EXPECT_EQ(FindText(table, 2, 2, 0, 0), nullptr);
    EXPECT_EQ(FindText(table, 0, 0, 0, 1), nullptr);
    EXPECT_EQ(table.GetSize(), 3u);  // failed lookups changed nothing
    EXPECT_EQ(table.PlaceAt(2)->GetSize(), 2u);
}

TEST(NestedTables, ReadOnlyLookupLeavesCountsAlone) {
    KvStringTab4 table;
    table.Allocate(1);
    table.GetAt(0)->Allocate(1);
    EXPECT_EQ(table.PlaceAt(0)->GetCount(), 0u);
    table.PlaceAt(0);
    FindText(table, 0, 0, 0, 0);
    EXPECT_EQ(table.PlaceAt(0)->GetCount(), 0u);
}

TEST(NestedTables, AssignedCopyIsIndependentAndMayGrow) {
    KvStringTab4 table;
    BuildSample(table);
    KvStringTab4 copy;
    copy = table;
    EXPECT_EQ(*FindText(copy, 2, 0, 0, 5), "Five");
    EXPECT_EQ(*FindText(copy, 2, 1, 0, 0), "Zero");

    *GetTextPlace(copy, 2, 0, 0, 5) = "Changed";
    EXPECT_EQ(*FindText(table, 2, 0, 0, 5), "Five");

    // Every copied level took increment 100 from its source's 0, so a key
    // the original has no place for grows the copy by 100 places.
    CString* grown = GetTextPlace(copy, 2, 1, 0, 7);
    ASSERT_NE(grown, nullptr);
    *grown = "New";
    EXPECT_EQ(copy.PlaceAt(2)->PlaceAt(1)->PlaceAt(0)->GetSize(), 101u);
    ASSERT_NE(copy.GetAt(3), nullptr);
    EXPECT_EQ(copy.GetSize(), 103u);
    EXPECT_EQ(GetTextPlace(table, 2, 1, 0, 7), nullptr);
}

TEST(NestedTables, ElementAssignmentAlsoGrowsInnerLevels) {
    KvStringTab1 source;
    source.Allocate(2);
    *source.GetAt(1) = "b";
    KvStringTab2 outer;
    outer.Allocate(1);
    *outer.GetAt(0) = source;
    KvStringTab1* inner = outer.GetAt(0);
    EXPECT_EQ(*inner->GetAt(1), "b");
    ASSERT_NE(inner->GetAt(2), nullptr);
    EXPECT_EQ(inner->GetSize(), 102u);
    EXPECT_EQ(source.GetAt(2), nullptr);
}

TEST(NestedTables, CopyFromTakesOnlyTheElementsInUse) {
    KvStringTab3 a;
    a.Allocate(4);
    a.GetAt(1)->Allocate(1);
    a.GetAt(1)->GetAt(0)->Allocate(1);
    *a.GetAt(1)->GetAt(0)->GetAt(0) = "deep";
    KvStringTab3 b(0, 1);
    b.CopyFrom(a);
    EXPECT_EQ(b.GetCount(), 2u);
    EXPECT_EQ(*b.GetAt(1)->GetAt(0)->GetAt(0), "deep");
}

}  // namespace
