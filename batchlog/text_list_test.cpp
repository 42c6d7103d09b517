#include "batchlog/text_list.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batchlog/log_test_support.h"

namespace {

using batchlog_test::Texts;

// Texts come back in order and byte for byte, walked or by index: empty ones
// (also first), zero bytes, and texts longer than a block between short ones.
// The views handed out earlier stay valid while the blocks fill up behind them.
TEST(TextListTest, KeepsEveryTextInOrderAcrossBlocks) {
    std::vector<std::string> expected = {"", "first", "", std::string("zero\0byte", 9)};
    for (int i = 0; i < 50000; ++i) {
        expected.push_back("Extra event " + std::to_string(i));
        if (i % 20000 == 7)
            expected.push_back(std::string(300 * 1024 + i, 'L'));
    }
    expected.push_back("last");
    TextList list;
    list.Add(expected[0]);
    list.Add(expected[1]);
    std::string_view first = list[1];
    for (std::size_t i = 2; i < expected.size(); ++i) list.Add(expected[i]);
    ASSERT_EQ(list.GetCount(), expected.size());
    EXPECT_EQ(Texts(list), expected);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) mismatches += list[i] != expected[i];
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(first, "first");
}

// A text given from a view of the list itself is copied before its place
// can be reused; Reset forgets everything and the list takes texts again.
TEST(TextListTest, ResetEmptiesAndMovesCarryTheTexts) {
    TextList list;
    list.Reserve(3);
    list.Add("one");
    list.Add(list[0]);
    TextList moved(std::move(list));
    EXPECT_EQ(Texts(moved), (std::vector<std::string>{"one", "one"}));
    moved.Reset();
    EXPECT_TRUE(moved.IsEmpty());
    moved.Add("two");
    EXPECT_EQ(Texts(moved), std::vector<std::string>{"two"});
}

TEST(TextListTest, KnowsWhetherATextMayHoldALineFeedOrAZeroByte) {
    for (std::string_view control :
         {std::string_view("two\r\nlines"), std::string_view("a\0b", 3)}) {
        TextList list;
        list.Add("one line");
        list.Add("");
        EXPECT_FALSE(list.MayHoldControls());
        list.Add(control);
        EXPECT_TRUE(list.MayHoldControls());
        list.Reset();
        EXPECT_FALSE(list.MayHoldControls());
    }
}

}  // namespace
