#include "platform/timestamp.h"

#include <cstdio>

namespace platform {

std::string FormatStamp(const std::tm& t) {
    // Each field is reduced to its two digits, so that a strange value can
    // neither widen the stamp nor overflow the buffer.
    auto two = [](int value) { return ((value % 100) + 100) % 100; };
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", two(t.tm_mon + 1),
                  two(t.tm_mday), two(t.tm_year), two(t.tm_hour), two(t.tm_min), two(t.tm_sec));
    return text;
}

std::string NowStamp() {
    return LocalStamp(std::time(nullptr));
}

}  // namespace platform
