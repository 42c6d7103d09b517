// Windows command lines as text: splitting one into arguments and building one
// from arguments. Pure, portable functions (no OS call, no failure, no
// blocking), used by the Linux launcher, which receives Windows command lines
// and must start a program with an argument vector, and by the Windows test
// helper, which must do the reverse.
//
// SplitCommandLine follows CommandLineToArgvW:
//   - the first argument, the program, ends at the first blank or tab, or,
//     when it starts with a double quote, at the next double quote (no escapes
//     in it: a program path never holds a quote; text glued to that closing
//     quote starts the next argument);
//   - in the other arguments blanks and tabs separate arguments outside double
//     quotes; double quotes group and are removed; 2n backslashes before a
//     double quote give n backslashes and the quote groups, 2n+1 give n
//     backslashes and a literal quote; backslashes elsewhere are literal;
//     inside a quoted run, a doubled quote gives one literal quote;
//   - leading blanks give an empty program name; trailing blanks give nothing.
// An empty command line gives no arguments. Any byte sequence is accepted;
// bytes are never re-encoded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// One argument quoted so that SplitCommandLine (and the Windows runtime's
// argument parser) gives it back unchanged; left bare when it needs nothing.
std::string QuoteArgument(std::string_view argument);

// program (always quoted; it must not hold a double quote) followed by each
// argument through QuoteArgument.
std::string JoinCommandLine(std::string_view program, const std::vector<std::string>& arguments);

}  // namespace platform
