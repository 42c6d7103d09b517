// Windows wildcard matching of one file name against the last component of a
// search pattern, as FindFirstFileA matches on Windows. The Linux directory
// search uses it; it is pure and portable so that both hosts test the same
// rules.
//   "*" matches any run of characters, the empty run included.
//   "?" matches exactly one character.
//   A pattern ending in ".*" also matches the name without that dot, so "*.*"
//   matches every name and "report.*" matches "report".
//   Letters compare without regard to ASCII case, as Windows file names do.
// Runs in time proportional to the product of the two lengths at worst, so a
// hostile pattern cannot make it hang.
#pragma once

#include <string_view>

namespace platform {

bool MatchWildcard(std::string_view pattern, std::string_view name);

}  // namespace platform
