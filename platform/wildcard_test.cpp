#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::MatchWildcard;

TEST(Wildcard, StarAndQuestionMark) {
    EXPECT_TRUE(MatchWildcard("*", "noextension"));
    EXPECT_TRUE(MatchWildcard("*.txt", "report.txt"));
    EXPECT_TRUE(MatchWildcard("*.txt", ".txt"));
    EXPECT_FALSE(MatchWildcard("*.txt", "report.txt.bak"));
    EXPECT_TRUE(MatchWildcard("rep*t.t?t", "report.txt"));
    EXPECT_FALSE(MatchWildcard("a?c", "ac"));
    EXPECT_FALSE(MatchWildcard("a?c", "abbc"));
    EXPECT_TRUE(MatchWildcard("*a*b*", "xxaxxbxx"));
    EXPECT_FALSE(MatchWildcard("*a*b*", "xxbxxaxx"));
    EXPECT_TRUE(MatchWildcard("**", "x"));
}

TEST(Wildcard, StarDotStarMatchesEveryNameAndPlainNamesCompareWithoutCase) {
    for (const char* name : {"a", ".hidden", "two.dots.here", "trailing."})
        EXPECT_TRUE(MatchWildcard("*.*", name)) << name;
    EXPECT_TRUE(MatchWildcard("report.*", "report"));
    EXPECT_FALSE(MatchWildcard("report.*", "reports"));
    EXPECT_TRUE(MatchWildcard("Report.TXT", "report.txt"));
    EXPECT_TRUE(MatchWildcard("*.LOG", "job.log"));
    EXPECT_FALSE(MatchWildcard("report.txt", "report.tx"));
    EXPECT_FALSE(MatchWildcard("report.tx", "report.txt"));
    EXPECT_FALSE(MatchWildcard("", "a"));
    // Bytes above ASCII are compared exactly, never folded.
    EXPECT_TRUE(MatchWildcard("\xE9t\xE9", "\xE9t\xE9"));
    EXPECT_FALSE(MatchWildcard("\xE9t\xE9", "\xC9T\xC9"));
}

TEST(Wildcard, HostilePatternsEndQuickly) {
    std::string name(5000, 'a');
    std::string pattern;
    for (int i = 0; i < 2000; ++i) pattern += "*a";
    pattern += "b";
    EXPECT_FALSE(MatchWildcard(pattern, name));
    EXPECT_TRUE(MatchWildcard(pattern.substr(0, pattern.size() - 1), name));
}

}  // namespace
