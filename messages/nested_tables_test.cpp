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

// A read-only lookup counts nothing as used, and a copy is a table of its own.
TEST(NestedTables, LookupsLeaveCountsAloneAndCopiesAreIndependent) {
    KvStringTab4 bare;
    bare.Allocate(1);
    bare.GetAt(0)->Allocate(1);
    FindText(bare, 0, 0, 0, 0);
    EXPECT_EQ(bare.PlaceAt(0)->GetCount(), 0u);

    KvStringTab4 table;
    BuildSample(table);
    KvStringTab4 copy;
    copy = table;
    EXPECT_EQ(*FindText(copy, 2, 0, 0, 5), "Five");
    EXPECT_EQ(*FindText(copy, 2, 1, 0, 0), "Zero");
    *GetTextPlace(copy, 2, 0, 0, 5) = "Changed";
    EXPECT_EQ(*FindText(table, 2, 0, 0, 5), "Five");
    EXPECT_EQ(*FindText(copy, 2, 0, 0, 5), "Changed");
}

}  // namespace
