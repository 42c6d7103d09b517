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

// Every byte comes back as itself, so no two bytes share a character; the
// page's own characters between 0x80 and 0x9F land where Windows puts them.
TEST(CodePage, EveryByteRoundTripsThroughItsOwnCharacter) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    std::u16string wide = platform::AnsiToWide(all);
    ASSERT_EQ(wide.size(), all.size());
    EXPECT_EQ(platform::WideToAnsi(wide), all);
    EXPECT_EQ(platform::AnsiToWide("\x80\x81\x8A\x9F\xA0\xFF"),
              u"\u20AC\u0081\u0160\u0178\u00A0\u00FF");
    EXPECT_EQ(platform::WideToAnsi(u"\u2122\u017E"), "\x99\x9E");
}
