#include "platform/message_box.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/codepage.h"

namespace platform {
namespace {

std::string WideToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

int ShowMessageBox(std::string_view text, std::string_view title, unsigned /*style*/) {
    std::string line = WideToUtf8(AnsiToWide(title)) + ": " + WideToUtf8(AnsiToWide(text)) + "\n";
    // One write, so that the line is not mixed with other output.
    std::fflush(stderr);
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t wrote = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (wrote <= 0)
            break;
        done += static_cast<std::size_t>(wrote);
    }
    return kIdOk;
}

std::string ApplicationTitle() {
    char path[4096];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "torvane-batch";
    std::string name(path, static_cast<std::size_t>(length));
    name = name.substr(name.rfind('/') + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

}  // namespace platform
