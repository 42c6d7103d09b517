#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Args = std::vector<std::string>;
using platform::SplitCommandLine;

TEST(SplitCommandLine, TheProgramIsTakenWholeUpToItsClosingQuote) {
    EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\Torvane\\TorvaneBatch.bat\" -b"),
              (Args{"C:\\Program Files\\Torvane\\TorvaneBatch.bat", "-b"}));
    // No escapes in the program: a backslash before its closing quote stays.
    EXPECT_EQ(SplitCommandLine("\"C:\\dir\\\" x"), (Args{"C:\\dir\\", "x"}));
    EXPECT_EQ(SplitCommandLine("C:\\dir\\prog.exe\targ"), (Args{"C:\\dir\\prog.exe", "arg"}));
    EXPECT_EQ(SplitCommandLine("\"prog\"glued next"), (Args{"prog", "glued", "next"}));
    EXPECT_EQ(SplitCommandLine("\"unterminated prog"), (Args{"unterminated prog"}));
    EXPECT_EQ(SplitCommandLine("  x"), (Args{"", "x"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
}

TEST(SplitCommandLine, TheJobCommandLineGivesOneArgumentPerQuotedName) {
    EXPECT_EQ(SplitCommandLine("\"C:\\Torvane 8\\TorvaneBatch.bat\" -b -u \"Jean Dupont\" -j "
                               "\"cut & (rough) ^finish 100%\""),
              (Args{"C:\\Torvane 8\\TorvaneBatch.bat", "-b", "-u", "Jean Dupont", "-j",
                    "cut & (rough) ^finish 100%"}));
    EXPECT_EQ(SplitCommandLine("p -u \"\" -j \"\""), (Args{"p", "-u", "", "-j", ""}));
}

TEST(SplitCommandLine, BackslashesAndQuotesFollowTheWindowsRules) {
    struct Case {
        const char* line;
        Args expected;
    } cases[] = {
        {"p \"a b c\" d e", {"p", "a b c", "d", "e"}},
        {"p \"ab\\\"c\" \"\\\\\" d", {"p", "ab\"c", "\\", "d"}},
        {"p a\\\\\\b d\"e f\"g h", {"p", "a\\\\\\b", "de fg", "h"}},
        {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
        {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
        // A doubled quote inside quotes is a literal quote and ends the run.
        {"p a\"b\"\" c d", {"p", "ab\"", "c", "d"}},
        {"p \"a\"\"\"b c", {"p", "a\"b c"}},
        {"p \t a\t\tb  ", {"p", "a", "b"}},
        {"p \"open to the end", {"p", "open to the end"}},
        {"p trailing\\", {"p", "trailing\\"}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
}

TEST(JoinCommandLine, EveryArgumentComesBackFromTheSplitter) {
    Args tricky{"",          "plain", "two words", "tab\there", "quote\"inside", "end\\",
                "two\\\\\"", "\\\"",  "\"\"",      "a & b ^c",  "J\xE9r\xF4me",  "new\nline"};
    Args all{"C:\\Program Files\\x.exe"};
    all.insert(all.end(), tricky.begin(), tricky.end());
    EXPECT_EQ(SplitCommandLine(platform::JoinCommandLine(all[0], tricky)), all);
    EXPECT_EQ(platform::QuoteArgument("plain"), "plain");
    EXPECT_EQ(platform::QuoteArgument("a b\\"), "\"a b\\\\\"");
}

// Any bytes at all: no crash, and what the splitter gives can be joined and
// split again to the same arguments (whenever the program is one that a
// quoted first token can name).
TEST(SplitCommandLine, ArbitraryBytesSplitAndRejoinStably) {
    std::mt19937 random(12345);
    const char alphabet[] = {' ', '\t', '"', '\\', 'a', 'b', '\0', '\xff', '\n'};
    for (int round = 0; round < 3000; ++round) {
        std::string line;
        std::size_t length = random() % 24;
        for (std::size_t i = 0; i < length; ++i) line += alphabet[random() % sizeof alphabet];
        Args split = SplitCommandLine(line);
        if (split.empty()) {
            EXPECT_TRUE(line.empty());
            continue;
        }
        // An unquoted program may hold a quote, which no quoted program can.
        if (split[0].find('"') != std::string::npos)
            continue;
        Args rest(split.begin() + 1, split.end());
        ASSERT_EQ(SplitCommandLine(platform::JoinCommandLine(split[0], rest)), split)
            << "line of " << line.size() << " bytes, round " << round;
    }
}

}  // namespace
