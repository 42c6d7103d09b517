#include "containers/cstring.h"

#include <gtest/gtest.h>

// The edges: every other test exercises the ordinary use of these members.

TEST(CString, PartsAreClampedToTheText) {
    CString s("Torvane8.exe");
    EXPECT_EQ(s.Left(99), "Torvane8.exe");
    EXPECT_EQ(s.Left(-1), "");
    EXPECT_EQ(s.Mid(50), "");
    EXPECT_EQ(s.Mid(-3, 3), "Tor");
    EXPECT_EQ(s.GetAt(12), '\0');
    EXPECT_EQ(s.GetAt(-1), '\0');
}

TEST(CString, SearchesGivePositionOrMinusOne) {
    CString s("C:\\a\\b.c\\d.txt");
    EXPECT_EQ(s.Find("b.c"), 5);
    EXPECT_EQ(s.Find('x', 100), CString::npos);
    EXPECT_EQ(s.ReverseFind('\\'), 8);
    EXPECT_EQ(s.FindOneOf(":/"), 1);
}

TEST(CString, CaseRulesTouchAsciiOnly) {
    EXPECT_EQ(CString("abc").CompareNoCase("ABC"), 0);
    EXPECT_NE(CString("\xE9").CompareNoCase("\xC9"), 0);
    EXPECT_GT(CString("abcd").CompareNoCase("ABC"), 0);
    EXPECT_TRUE(StartsWithNoCase("TORVANE8.EXE", "Torvane8"));
}

TEST(CString, ReplaceTrimAndFormat) {
    CString s("aaa");
    EXPECT_EQ(s.Replace("a", "aa"), 3);  // the replacement is not scanned again
    EXPECT_EQ(s, "aaaaaa");
    EXPECT_EQ(s.Replace("", "x"), 0);
    EXPECT_EQ(s, "aaaaaa");
    CString t(" \t value \r\n");
    EXPECT_EQ(CString(t).TrimRight(), " \t value");
    EXPECT_EQ(CString("\\\\a\\\\").TrimRight("\\"), "\\\\a");
    std::string longText(5000, 'x');
    EXPECT_EQ(CString::Formatted("[%s]", longText.c_str()).GetLength(), 5002);
    EXPECT_EQ(CString::Formatted("%u %.3f", 4000000000u, 1.5), "4000000000 1.500");
}

TEST(CString, ConcatenationAndNullSafety) {
    CString s = CString("a") + "b" + 'c';
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(s, "abc");
    EXPECT_EQ("x" + s, "xabc");
    EXPECT_TRUE(CString(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_EQ(CString(std::string("a\0b", 3)).GetLength(), 3);
}
