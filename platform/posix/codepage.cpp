#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <unordered_map>

namespace platform {
namespace {

// Windows-1252 byte -> UTF-16 code unit, and the reverse map for the code
// units outside the identical Latin-1 ranges.
struct Tables {
    std::array<char16_t, 256> toWide{};
    std::unordered_map<char16_t, char> toAnsi;

    Tables() {
        for (int b = 0; b < 256; ++b)
            toWide[static_cast<std::size_t>(b)] = static_cast<char16_t>(b);
        iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1252");
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            for (int b = 0x80; b < 0xA0; ++b) {
                char in = static_cast<char>(b);
                unsigned char out[4] = {};
                char* inPtr = &in;
                char* outPtr = reinterpret_cast<char*>(out);
                std::size_t inLeft = 1;
                std::size_t outLeft = sizeof out;
                // Bytes iconv does not define keep their Latin-1 value, as on Windows.
                if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
                    toWide[static_cast<std::size_t>(b)] =
                        static_cast<char16_t>(out[0] | (out[1] << 8));
                }
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
            }
            iconv_close(cd);
        }
        for (int b = 0; b < 256; ++b)
            toAnsi[toWide[static_cast<std::size_t>(b)]] = static_cast<char>(b);
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

}  // namespace

std::string WideToAnsi(std::u16string_view text) {
    const Tables& tables = GetTables();
    std::string result;
    result.reserve(text.size());
    for (char16_t unit : text) {
        // ASCII and U+00A0..U+00FF are the same bytes in Windows-1252; only
        // the rest needs the table.
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
            result += static_cast<char>(unit);
            continue;
        }
        auto found = tables.toAnsi.find(unit);
        result += found == tables.toAnsi.end() ? '?' : found->second;
    }
    return result;
}

std::u16string AnsiToWide(std::string_view text) {
    const Tables& tables = GetTables();
    std::u16string result;
    result.reserve(text.size());
    for (char ch : text) result += tables.toWide[static_cast<unsigned char>(ch)];
    return result;
}

}  // namespace platform
