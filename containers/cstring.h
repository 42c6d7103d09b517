// CString: the byte string used for every text and path of the system.
//
// Texts are bytes in the ANSI code page (Windows-1252 on Linux); nothing here
// knows about encodings. Case operations touch ASCII letters only, as the C
// locale does, so that a name compares the same way on every host. The class
// is a thin, value-semantics wrapper over std::string with the operations the
// rest of the system uses; str() gives the std::string when that is simpler.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The format checks follow the runtime's printf (mingw-w64 maps it to its own).
// Compilers without GNU attributes (MSVC) go without the check.
#if defined(__MINGW32__)
#define TV_PRINTF_FORMAT(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__) || defined(__clang__)
#define TV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TV_PRINTF_FORMAT(fmt, args)
#endif

class CString {
  public:
    static constexpr int npos = -1;

    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}  // NOLINT: implicit on purpose
    CString(const char* text, std::size_t length) : m_text(text, length) {}
    CString(std::string text) : m_text(std::move(text)) {}  // NOLINT: implicit on purpose
    CString(std::string_view text) : m_text(text) {}        // NOLINT: implicit on purpose
    CString(std::size_t count, char ch) : m_text(count, ch) {}

    const char* c_str() const { return m_text.c_str(); }
    const std::string& str() const { return m_text; }
    std::string& str() { return m_text; }
    operator std::string_view() const { return m_text; }

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    // Out-of-range positions give '\0' rather than undefined behaviour.
    char GetAt(int index) const;
    char operator[](int index) const { return GetAt(index); }
    void SetAt(int index, char ch);

    // Exact byte comparison and ASCII case-insensitive comparison; both return
    // <0, 0 or >0 like strcmp (bytes compared as unsigned).
    int Compare(std::string_view other) const;
    int CompareNoCase(std::string_view other) const;
    bool EqualsNoCase(std::string_view other) const { return CompareNoCase(other) == 0; }

    // Parts of the string; counts and positions are clamped to the string.
    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;

    // Searches return the 0-based position or npos (-1).
    int Find(char ch, int start = 0) const;
    int Find(std::string_view text, int start = 0) const;
    int ReverseFind(char ch) const;
    int ReverseFind(std::string_view text) const;
    int FindOneOf(std::string_view chars) const;

    // Replaces every occurrence, left to right without re-scanning the
    // replacement; returns how many were replaced. An empty `from` does nothing.
    int Replace(std::string_view from, std::string_view to);
    int Replace(char from, char to);

    CString& MakeUpper();
    CString& MakeLower();
    CString Upper() const { return CString(*this).MakeUpper(); }
    CString Lower() const { return CString(*this).MakeLower(); }

    // Removes every leading / trailing character that belongs to `chars`
    // (blanks, tabs and line ends by default).
    CString& TrimLeft(std::string_view chars = " \t\r\n");
    CString& TrimRight(std::string_view chars = " \t\r\n");
    CString& Trim(std::string_view chars = " \t\r\n") { return TrimLeft(chars).TrimRight(chars); }

    // printf-style formatting into this string; the result has no length limit.
    void Format(const char* format, ...) TV_PRINTF_FORMAT(2, 3);
    static CString Formatted(const char* format, ...) TV_PRINTF_FORMAT(1, 2);

    CString& operator+=(const CString& other) {
        m_text += other.m_text;
        return *this;
    }
    CString& operator+=(const char* other) {
        m_text += other ? other : "";
        return *this;
    }
    CString& operator+=(char ch) {
        m_text += ch;
        return *this;
    }

    friend CString operator+(CString a, const CString& b) { return a += b; }
    friend CString operator+(CString a, const char* b) { return a += b; }
    friend CString operator+(const char* a, const CString& b) { return CString(a) += b; }
    friend CString operator+(CString a, char b) { return a += b; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == (b ? b : ""); }
    friend auto operator<=>(const CString& a, const CString& b) { return a.m_text <=> b.m_text; }

  private:
    std::string m_text;
};

// ASCII-only case mapping, as the C locale does it.
inline char AsciiUpper(char ch) {
    return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch;
}
inline char AsciiLower(char ch) {
    return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
}
// <0, 0, >0 like strcmp, ignoring ASCII case.
int CompareNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
