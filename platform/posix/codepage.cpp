#include "platform/codepage.h"

#include <array>
#include <cstddef>

namespace platform {
namespace {

// Windows-1252 bytes 0x80..0x9F, the only ones that differ from Latin-1, as
// Windows maps them (the five it leaves undefined keep their Latin-1 value).
// A fixed table rather than iconv: loading iconv's two conversion modules took
// a noticeable part of the program's start.
constexpr std::array<char16_t, 32> kHighControls = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

char16_t ToWide(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80u] : char16_t{byte};
}

char ToAnsi(char16_t unit) {
    // ASCII and U+00A0..U+00FF are the same bytes in Windows-1252; the rest
    // is one of the 32 above or not in the page.
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace

std::string WideToAnsi(std::u16string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char16_t unit : text) result += ToAnsi(unit);
    return result;
}

std::u16string AnsiToWide(std::string_view text) {
    std::u16string result;
    result.reserve(text.size());
    for (char ch : text) result += ToWide(static_cast<unsigned char>(ch));
    return result;
}

}  // namespace platform
