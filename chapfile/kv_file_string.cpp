#include "chapfile/kv_file_string.h"

#include <cstdint>
#include <cstdlib>
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

// Sign and digits as "%d"/"%u" accept them; the result modulo 2^32.
bool ScanDecimal(const char* text, std::uint32_t& value) {
    const char* p = text;
    while (IsCSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9')
        return false;
    std::uint32_t result = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        result = result * 10u + static_cast<std::uint32_t>(*p - '0');
    value = negative ? 0u - result : result;
    return true;
}

}  // namespace

namespace chapfile_detail {

bool ScanInt(const char* text, int& value) {
    std::uint32_t bits = 0;
    if (!ScanDecimal(text, bits))
        return false;
    value = static_cast<int>(bits);
    return true;
}

bool ScanUInt(const char* text, unsigned& value) {
    std::uint32_t bits = 0;
    if (!ScanDecimal(text, bits))
        return false;
    value = bits;
    return true;
}

bool ScanFloat(const char* text, float& value) {
    char* end = nullptr;
    float result = std::strtof(text, &end);
    if (end == text)
        return false;
    value = result;
    return true;
}

}  // namespace chapfile_detail

void KvFileString::Classify() {
    const std::string_view text = str();
    std::string_view key;
    std::string_view value;
    if (text.starts_with("[[")) {
        m_type = kHeader;
        m_key = "EnTete";
        value = TrimRightOf(text.substr(2), "] \t\n\r");
    } else if (text.starts_with("[")) {
        m_type = kChapterHead;
        m_key = TrimRightOf(text.substr(1), "] \t\n\r");
    } else {
        m_type = kValue;
        std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            key = TrimLeftOf(TrimRightOf(text, " =\t"), " \t");
        } else {
            key = TrimLeftOf(TrimRightOf(text.substr(0, equals), " =\t"), " \t");
            value = TrimRightOf(TrimLeftOf(text.substr(equals + 1), " =\t"), " \n\r\t");
        }
        m_key = key;
    }
    m_value = value;
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
