#include "platform/wildcard.h"

namespace platform {
namespace {

char Fold(char ch) {
    return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
}

// Greedy matching with one back-track point: the last "*" seen is retried one
// character further each time the rest fails, which is enough because a later
// "*" can absorb anything an earlier one would.
bool MatchPlain(std::string_view pattern, std::string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
    if (MatchPlain(pattern, name))
        return true;
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*")
        return MatchPlain(pattern.substr(0, pattern.size() - 2), name);
    return false;
}

}  // namespace platform
