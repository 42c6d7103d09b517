#include "containers/cstring.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

int Sign(int value) {
    return (value > 0) - (value < 0);
}

std::size_t ClampPosition(int position, std::size_t size) {
    if (position < 0)
        return 0;
    return std::min(static_cast<std::size_t>(position), size);
}

std::string VFormat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return std::string();
    if (static_cast<std::size_t>(needed) < sizeof small)
        return std::string(small, needed);
    std::vector<char> big(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), needed);
}

}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(AsciiLower(a[i]));
        unsigned char cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

char CString::GetAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_text.size())
        return '\0';
    return m_text[static_cast<std::size_t>(index)];
}

void CString::SetAt(int index, char ch) {
    if (index >= 0 && static_cast<std::size_t>(index) < m_text.size())
        m_text[static_cast<std::size_t>(index)] = ch;
}

int CString::Compare(std::string_view other) const {
    return Sign(std::string_view(m_text).compare(other));
}

int CString::CompareNoCase(std::string_view other) const {
    return ::CompareNoCase(m_text, other);
}

CString CString::Left(int count) const {
    return CString(m_text.substr(0, ClampPosition(count, m_text.size())));
}

CString CString::Mid(int first) const {
    return CString(m_text.substr(ClampPosition(first, m_text.size())));
}

CString CString::Mid(int first, int count) const {
    std::size_t start = ClampPosition(first, m_text.size());
    return CString(m_text.substr(start, ClampPosition(count, m_text.size() - start)));
}

CString CString::Right(int count) const {
    std::size_t n = ClampPosition(count, m_text.size());
    return CString(m_text.substr(m_text.size() - n));
}

int CString::Find(char ch, int start) const {
    if (start < 0 || static_cast<std::size_t>(start) > m_text.size())
        return npos;
    std::size_t at = m_text.find(ch, static_cast<std::size_t>(start));
    return at == std::string::npos ? npos : static_cast<int>(at);
}

int CString::Find(std::string_view text, int start) const {
    if (start < 0 || static_cast<std::size_t>(start) > m_text.size())
        return npos;
    std::size_t at = m_text.find(text, static_cast<std::size_t>(start));
    return at == std::string::npos ? npos : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const {
    std::size_t at = m_text.rfind(ch);
    return at == std::string::npos ? npos : static_cast<int>(at);
}

int CString::ReverseFind(std::string_view text) const {
    std::size_t at = m_text.rfind(text);
    return at == std::string::npos ? npos : static_cast<int>(at);
}

int CString::FindOneOf(std::string_view chars) const {
    std::size_t at = m_text.find_first_of(chars);
    return at == std::string::npos ? npos : static_cast<int>(at);
}

int CString::Replace(std::string_view from, std::string_view to) {
    if (from.empty())
        return 0;
    std::string result;
    int count = 0;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = m_text.find(from, pos)) != std::string::npos;
         pos = hit + from.size()) {
        result.append(m_text, pos, hit - pos);
        result.append(to);
        ++count;
    }
    if (count == 0)
        return 0;
    result.append(m_text, pos, std::string::npos);
    m_text = std::move(result);
    return count;
}

int CString::Replace(char from, char to) {
    int count = 0;
    for (char& ch : m_text) {
        if (ch == from) {
            ch = to;
            ++count;
        }
    }
    return count;
}

CString& CString::MakeUpper() {
    for (char& ch : m_text) ch = AsciiUpper(ch);
    return *this;
}

CString& CString::MakeLower() {
    for (char& ch : m_text) ch = AsciiLower(ch);
    return *this;
}

CString& CString::TrimLeft(std::string_view chars) {
    std::size_t first = m_text.find_first_not_of(chars);
    m_text.erase(0, first == std::string::npos ? m_text.size() : first);
    return *this;
}

CString& CString::TrimRight(std::string_view chars) {
    std::size_t last = m_text.find_last_not_of(chars);
    m_text.erase(last == std::string::npos ? 0 : last + 1);
    return *this;
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    m_text = VFormat(format, args);
    va_end(args);
}

CString CString::Formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    CString result(VFormat(format, args));
    va_end(args);
    return result;
}
