#include "batchlog/text_list.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batchlog/log_test_support.h"

namespace {

using batchlog_test::Texts;

// Texts come back in order and byte for byte, empty ones and zero bytes
// included, and the views handed out earlier stay valid while the blocks fill
// up behind them.
TEST(TextListTest, KeepsEveryTextInOrderAcrossBlocks) {
    std::vector<std::string> expected = {"first", "", std::string("zero\0byte", 9)};
    for (int i = 0; i < 50000; ++i) expected.push_back("Extra event " + std::to_string(i));
    expected.push_back("last");
    TextList list;
    list.Add(expected[0]);
    std::string_view first = list[0];
    for (std::size_t i = 1; i < expected.size(); ++i) list.Add(expected[i]);
    ASSERT_EQ(list.GetCount(), expected.size());
    EXPECT_EQ(Texts(list), expected);
    EXPECT_EQ(first, "first");
    EXPECT_EQ(list[expected.size() - 1], "last");
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
