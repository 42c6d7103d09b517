#include "chapfile/kv_file_string.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string_view TrimLeftOf(std::string_view text, std::string_view chars) {
    std::size_t first = text.find_first_not_of(chars);
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view TrimRightOf(std::string_view text, std::string_view chars) {
    std::size_t last = text.find_last_not_of(chars);
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

bool IsCSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// Sign and digits as "%d"/"%u" accept them; the result modulo 2^32. A zero
// byte ends the text as it would end a C string.
bool ScanDecimal(std::string_view text, std::uint32_t& value) {
    text = text.substr(0, text.find('\0'));
    const char* p = text.data();
    const char* end = p + text.size();
    while (p != end && IsCSpace(*p)) ++p;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end || *p < '0' || *p > '9')
        return false;
    std::uint32_t result = 0;
    for (; p != end && *p >= '0' && *p <= '9'; ++p)
        result = result * 10u + static_cast<std::uint32_t>(*p - '0');
    value = negative ? 0u - result : result;
    return true;
}

}  // namespace

namespace chapfile_detail {

bool ScanInt(std::string_view text, int& value) {
    std::uint32_t bits = 0;
    if (!ScanDecimal(text, bits))
        return false;
    value = static_cast<int>(bits);
    return true;
}

bool ScanUInt(std::string_view text, unsigned& value) {
    std::uint32_t bits = 0;
    if (!ScanDecimal(text, bits))
        return false;
    value = bits;
    return true;
}

bool ScanFloat(std::string_view text, float& value) {
    // strtof wants a C string; values of parsed lines are short, so the copy
    // mostly stays on the stack.
    text = text.substr(0, text.find('\0'));
    std::array<char, 128> small;
    std::string large;
    const char* start = nullptr;
    if (text.size() < small.size()) {
        std::memcpy(small.data(), text.data(), text.size());
        small[text.size()] = '\0';
        start = small.data();
    } else {
        large.assign(text);
        start = large.c_str();
    }
    char* end = nullptr;
    float result = std::strtof(start, &end);
    if (end == start)
        return false;
    value = result;
    return true;
}

bool ScanInt(const char* text, int& value) {
    return ScanInt(std::string_view(text), value);
}

bool ScanUInt(const char* text, unsigned& value) {
    return ScanUInt(std::string_view(text), value);
}

bool ScanFloat(const char* text, float& value) {
    char* end = nullptr;
    float result = std::strtof(text, &end);
    if (end == text)
        return false;
    value = result;
    return true;
}

LineSplit SplitLine(std::string_view text) {
    LineSplit split;
    if (text.starts_with("[[")) {
        split.type = KvFileString::kHeader;
        split.key = "EnTete";
        split.value = TrimRightOf(text.substr(2), "] \t\n\r");
    } else if (text.starts_with("[")) {
        split.type = KvFileString::kChapterHead;
        split.key = TrimRightOf(text.substr(1), "] \t\n\r");
    } else {
        split.type = KvFileString::kValue;
        std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            split.key = TrimLeftOf(TrimRightOf(text, " =\t"), " \t");
        } else {
            split.key = TrimLeftOf(TrimRightOf(text.substr(0, equals), " =\t"), " \t");
            split.value = TrimRightOf(TrimLeftOf(text.substr(equals + 1), " =\t"), " \n\r\t");
        }
    }
    return split;
}

}  // namespace chapfile_detail

void KvFileString::Classify() {
    chapfile_detail::LineSplit split = chapfile_detail::SplitLine(str());
    m_type = split.type;
    // The views point into this string's own text: copy them out before
    // anything is assigned.
    CString key(split.key);
    CString value(split.value);
    m_key = std::move(key);
    m_value = std::move(value);
    m_key.MakeLower();
}

bool KvFileString::ValueAsInt(int& value) const {
    return chapfile_detail::ScanInt(m_value.c_str(), value);
}

bool KvFileString::ValueAsUInt(unsigned& value) const {
    return chapfile_detail::ScanUInt(m_value.c_str(), value);
}

bool KvFileString::ValueAsFloat(float& value) const {
    return chapfile_detail::ScanFloat(m_value.c_str(), value);
}
