#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;
using platform::SplitCommandLine;

// The program is taken whole up to its closing quote, with no escapes; the
// arguments follow the Windows rules for backslashes and quotes.
TEST(SplitCommandLine, ProgramThenArgumentsByTheWindowsRules) {
    struct Case {
        const char* line;
        Args expected;
    } cases[] = {
        {"\"C:\\Program Files\\Torvane\\TorvaneBatch.bat\" -b",
         {"C:\\Program Files\\Torvane\\TorvaneBatch.bat", "-b"}},
        {"\"C:\\dir\\\" x", {"C:\\dir\\", "x"}},  // a backslash before the closing quote stays
        {"C:\\dir\\prog.exe\targ", {"C:\\dir\\prog.exe", "arg"}},
        {"\"prog\"glued next", {"prog", "glued", "next"}},
        {"\"unterminated prog", {"unterminated prog"}},
        {"  x", {"", "x"}},
        {"", {}},
        // The job command line: one argument per quoted name.
        {"\"C:\\Torvane 8\\TorvaneBatch.bat\" -b -u \"Jean Dupont\" -j \"cut & (rough) ^finish "
         "100%\"",
         {"C:\\Torvane 8\\TorvaneBatch.bat", "-b", "-u", "Jean Dupont", "-j",
          "cut & (rough) ^finish 100%"}},
        {"p -u \"\" -j \"\"", {"p", "-u", "", "-j", ""}},
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

}  // namespace
