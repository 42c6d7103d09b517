#include "platform/codepage.h"

#include <gtest/gtest.h>

// Wine's and Linux's default ANSI page is Windows-1252, so both legs agree.
TEST(CodePage, WindowsLatinTextRoundTrips) {
    std::string ansi = "Soci\xE9t\xE9 \x80 \x9C tab\t";
    std::u16string wide = platform::AnsiToWide(ansi);
    EXPECT_EQ(wide, u"Soci\u00E9t\u00E9 \u20AC \u0153 tab\t");
    EXPECT_EQ(platform::WideToAnsi(wide), ansi);
}

TEST(CodePage, CharactersThePageLacksBecomeQuestionMarks) {
    EXPECT_EQ(platform::WideToAnsi(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(platform::WideToAnsi(u"x\U0001F600y"), "x??y");
    EXPECT_EQ(platform::WideToAnsi(u""), "");
    EXPECT_EQ(platform::AnsiToWide(""), u"");
}
