#include "platform/reg_file.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/codepage.h"

namespace platform {
namespace {

constexpr std::size_t kMaxFileBytes = 16u << 20;

// ---------------------------------------------------------------- decoding

bool IsValidUtf8WithMultibyte(std::string_view bytes) {
    bool multibyte = false;
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= bytes.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        }
        multibyte = true;
        i += extra + 1;
    }
    return multibyte;
}

// Decodes UTF-8; bytes that do not form a character become U+FFFD (shown as
// "?" once converted to the ANSI code page).
std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        std::uint32_t cp = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            cp = lead & 0x1Fu;
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            cp = lead & 0x0Fu;
            extra = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            cp = lead & 0x07u;
            extra = 3;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool ok = i + extra < bytes.size() || extra == 0;
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            auto cont = static_cast<unsigned char>(bytes[i + k]);
            if ((cont & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (cont & 0x3Fu);
        }
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::u16string DecodeUtf16Le(std::string_view bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return out;
}

std::string EncodeUtf16Le(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t unit : text) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

std::u16string DecodeText(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        return DecodeUtf16Le(bytes.substr(2));
    if (bytes.size() >= 2 && (bytes[0] == 'R' || bytes[0] == 'W') && bytes[1] == '\0')
        return DecodeUtf16Le(bytes);
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return DecodeUtf8(bytes.substr(3));
    if (IsValidUtf8WithMultibyte(bytes))
        return DecodeUtf8(bytes);
    return AnsiToWide(bytes);
}

// ------------------------------------------------------------ name folding

// Upper-cases ASCII and Latin-1 letters, the letters a settings file of this
// system can hold in a name.
char16_t FoldChar(char16_t ch) {
    if (ch >= u'a' && ch <= u'z')
        return static_cast<char16_t>(ch - 32);
    if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7)
        return static_cast<char16_t>(ch - 32);
    switch (ch) {
        case 0xFF:
            return 0x178;
        case 0x153:
            return 0x152;
        case 0x161:
            return 0x160;
        case 0x17E:
            return 0x17D;
        default:
            return ch;
    }
}

std::u16string Fold(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& ch : out) ch = FoldChar(ch);
    return out;
}

bool EqualsFolded(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i]))
            return false;
    }
    return true;
}

bool IsBlank(char16_t ch) {
    return ch == u' ' || ch == u'\t';
}

std::u16string_view TrimBlanks(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Only blanks or a comment left.
bool NothingLeft(std::u16string_view rest) {
    rest = TrimBlanks(rest);
    return rest.empty() || rest.front() == u';' || rest.front() == u'#';
}

int HexDigit(char16_t ch) {
    if (ch >= u'0' && ch <= u'9')
        return ch - u'0';
    if (ch >= u'a' && ch <= u'f')
        return ch - u'a' + 10;
    if (ch >= u'A' && ch <= u'F')
        return ch - u'A' + 10;
    return -1;
}

bool StartsWithFolded(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && EqualsFolded(text.substr(0, prefix.size()), prefix);
}

// "root\path" -> the folded key path with the root's canonical number in
// front, empty components dropped; false for an unknown root.
bool RootFromName(std::u16string_view name, SettingsRoot* root) {
    struct Entry {
        std::u16string_view longName, shortName;
        SettingsRoot root;
    };
    static constexpr Entry kRoots[] = {
        {u"HKEY_LOCAL_MACHINE", u"HKLM", SettingsRoot::LocalMachine},
        {u"HKEY_CURRENT_USER", u"HKCU", SettingsRoot::CurrentUser},
        {u"HKEY_CLASSES_ROOT", u"HKCR", SettingsRoot::ClassesRoot},
        {u"HKEY_USERS", u"HKU", SettingsRoot::Users},
        {u"HKEY_CURRENT_CONFIG", u"HKCC", SettingsRoot::CurrentConfig},
    };
    for (const Entry& entry : kRoots) {
        if (EqualsFolded(name, entry.longName) || EqualsFolded(name, entry.shortName)) {
            *root = entry.root;
            return true;
        }
    }
    return false;
}

std::u16string KeyPath(SettingsRoot root, std::u16string_view subKey) {
    std::u16string path(1, static_cast<char16_t>(u'0' + static_cast<int>(root)));
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = subKey.size();
        if (end > start) {
            path += u'\\';
            path += Fold(subKey.substr(start, end - start));
        }
        start = end + 1;
    }
    return path;
}

}  // namespace

// --------------------------------------------------------------- the parser

class RegFileParser {
  public:
    RegFileParser(RegistryTree& tree, std::u16string text)
        : m_tree(tree), m_text(std::move(text)) {}

    bool Run() {
        std::u16string_view line;
        // The header is the first line that is not blank.
        for (;;) {
            if (!NextLine(&line))
                return false;
            line = TrimBlanks(line);
            if (!line.empty())
                break;
        }
        if (line == u"REGEDIT4")
            m_unicode = false;
        else if (line == u"Windows Registry Editor Version 5.00")
            m_unicode = true;
        else
            return false;
        while (NextLine(&line)) {
            line = TrimBlanks(line);
            if (line.empty() || line.front() == u';' || line.front() == u'#')
                continue;
            if (line.front() == u'[')
                Section(line);
            else if (m_haveKey)
                ValueLine(line);
        }
        return true;
    }

  private:
    // A line ends at "\r\n", "\n" or "\r".
    bool NextLine(std::u16string_view* line) {
        if (m_pos >= m_text.size())
            return false;
        std::size_t end = m_text.find_first_of(u"\r\n", m_pos);
        if (end == std::u16string::npos)
            end = m_text.size();
        *line = std::u16string_view(m_text).substr(m_pos, end - m_pos);
        m_pos = end;
        if (m_pos < m_text.size() && m_text[m_pos] == u'\r')
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == u'\n')
            ++m_pos;
        return true;
    }

    void Section(std::u16string_view line) {
        m_haveKey = false;
        std::size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos)
            return;
        std::u16string_view name = line.substr(1, close - 1);
        bool remove = !name.empty() && name.front() == u'-';
        if (remove)
            name.remove_prefix(1);
        std::size_t slash = name.find(u'\\');
        SettingsRoot root;
        if (!RootFromName(name.substr(0, slash), &root))
            return;
        std::u16string_view sub =
            slash == std::u16string_view::npos ? std::u16string_view() : name.substr(slash + 1);
        std::u16string path = KeyPath(root, sub);
        if (remove) {
            RemoveTree(path);
            return;
        }
        // The key and every parent exist from now on.
        for (std::size_t cut = path.find(u'\\'); cut != std::u16string::npos;
             cut = path.find(u'\\', cut + 1))
            m_tree.m_keys.try_emplace(path.substr(0, cut));
        m_key = &m_tree.m_keys[path];
        m_haveKey = true;
    }

    void RemoveTree(const std::u16string& path) {
        auto& keys = m_tree.m_keys;
        keys.erase(path);
        // Descendants sort together after "path\" (not right after "path":
        // "path 2" comes in between).
        std::u16string below = path + u'\\';
        auto it = keys.lower_bound(below);
        while (it != keys.end() && it->first.compare(0, below.size(), below) == 0)
            it = keys.erase(it);
    }

    // A quoted text starting at text[0] == '"'; on success *rest is what
    // follows the closing quote.
    static bool Quoted(std::u16string_view text, std::u16string* out, std::u16string_view* rest) {
        out->clear();
        for (std::size_t i = 1; i < text.size(); ++i) {
            char16_t ch = text[i];
            if (ch == u'"') {
                *rest = text.substr(i + 1);
                return true;
            }
            if (ch == u'\\' && i + 1 < text.size()) {
                char16_t next = text[++i];
                switch (next) {
                    case u'\\':
                    case u'"':
                        *out += next;
                        break;
                    case u'n':
                        *out += u'\n';
                        break;
                    case u'r':
                        *out += u'\r';
                        break;
                    case u'0':
                        *out += u'\0';
                        break;
                    default:
                        // Not an escape regedit knows: both characters stay.
                        *out += u'\\';
                        *out += next;
                        break;
                }
                continue;
            }
            *out += ch;
        }
        return false;  // no closing quote: a cut-off line
    }

    void ValueLine(std::u16string_view line) {
        std::u16string name;
        std::u16string_view rest;
        if (line.front() == u'@') {
            rest = line.substr(1);
        } else if (line.front() == u'"') {
            if (!Quoted(line, &name, &rest))
                return;
        } else {
            return;
        }
        rest = TrimBlanks(rest);
        if (rest.empty() || rest.front() != u'=')
            return;
        rest = TrimBlanks(rest.substr(1));
        std::u16string key = Fold(name);

        if (rest == u"-") {
            m_key->erase(key);
            return;
        }
        RegValue value;
        if (!rest.empty() && rest.front() == u'"') {
            std::u16string text;
            std::u16string_view after;
            if (!Quoted(rest, &text, &after) || !NothingLeft(after))
                return;
            text += u'\0';
            value.type = kRegSz;
            value.data = EncodeUtf16Le(text);
        } else if (StartsWithFolded(rest, u"dword:")) {
            if (!Dword(rest.substr(6), &value))
                return;
        } else if (StartsWithFolded(rest, u"hex")) {
            if (!Hex(rest.substr(3), &value))
                return;
        } else {
            return;
        }
        (*m_key)[key] = std::move(value);
    }

    static bool Dword(std::u16string_view text, RegValue* value) {
        std::uint32_t number = 0;
        std::size_t digits = 0;
        while (digits < text.size() && HexDigit(text[digits]) >= 0) {
            if (digits == 8)
                return false;
            number = (number << 4) | static_cast<std::uint32_t>(HexDigit(text[digits]));
            ++digits;
        }
        if (digits == 0 || !NothingLeft(text.substr(digits)))
            return false;
        value->type = kRegDword;
        for (int i = 0; i < 4; ++i) value->data += static_cast<char>((number >> (8 * i)) & 0xFF);
        return true;
    }

    // After "hex": ":" or "(N):", then bytes, possibly continued over lines.
    bool Hex(std::u16string_view text, RegValue* value) {
        std::uint32_t type = kRegBinary;
        if (!text.empty() && text.front() == u'(') {
            std::size_t close = text.find(u')');
            if (close == std::u16string_view::npos || close == 1 || close > 9)
                return false;
            type = 0;
            for (std::size_t i = 1; i < close; ++i) {
                int digit = HexDigit(text[i]);
                if (digit < 0)
                    return false;
                type = (type << 4) | static_cast<std::uint32_t>(digit);
            }
            text.remove_prefix(close + 1);
        }
        if (text.empty() || text.front() != u':')
            return false;
        text.remove_prefix(1);

        std::string bytes;
        for (;;) {
            std::size_t comment = text.find(u';');
            if (comment != std::u16string_view::npos)
                text = text.substr(0, comment);
            text = TrimBlanks(text);
            bool more = !text.empty() && text.back() == u'\\';
            if (more)
                text.remove_suffix(1);
            if (!HexBytes(text, &bytes))
                return false;
            if (!more)
                break;
            // The data go on on the next line that is not a comment; a file
            // that ends here has cut the value off.
            std::u16string_view next;
            do {
                if (!NextLine(&next))
                    return false;
                next = TrimBlanks(next);
            } while (!next.empty() && next.front() == u';');
            text = next;
        }
        value->type = type;
        if (!m_unicode && (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz))
            bytes = EncodeUtf16Le(AnsiToWide(bytes));
        value->data = std::move(bytes);
        return true;
    }

    // "aa,bb,cc" (a final comma allowed, since a continued line ends with one).
    static bool HexBytes(std::u16string_view text, std::string* out) {
        std::size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && IsBlank(text[i])) ++i;
            if (i == text.size())
                break;
            int high = HexDigit(text[i]);
            if (high < 0)
                return false;
            ++i;
            int byte = high;
            if (i < text.size() && HexDigit(text[i]) >= 0) {
                byte = (high << 4) | HexDigit(text[i]);
                ++i;
            }
            *out += static_cast<char>(byte);
            while (i < text.size() && IsBlank(text[i])) ++i;
            if (i < text.size()) {
                if (text[i] != u',')
                    return false;
                ++i;
            }
        }
        return true;
    }

    RegistryTree& m_tree;
    std::u16string m_text;
    std::size_t m_pos = 0;
    bool m_unicode = false;
    bool m_haveKey = false;
    RegValues* m_key = nullptr;
};

bool RegistryTree::ApplyRegFile(std::string_view bytes) {
    // Parse into a copy so that content without a header changes nothing.
    RegistryTree result = *this;
    RegFileParser parser(result, DecodeText(bytes));
    if (!parser.Run())
        return false;
    m_keys = std::move(result.m_keys);
    return true;
}

const RegValues* RegistryTree::FindKey(SettingsRoot root, std::string_view subKey) const {
    std::u16string path = KeyPath(root, AnsiToWide(subKey));
    auto found = m_keys.find(path);
    if (found != m_keys.end())
        return &found->second;
    if (path.size() == 1) {
        static const RegValues kEmptyRoot;
        return &kEmptyRoot;
    }
    return nullptr;
}

const RegValue* RegistryTree::FindValue(const RegValues& key, std::string_view name) {
    auto found = key.find(Fold(AnsiToWide(name)));
    return found == key.end() ? nullptr : &found->second;
}

std::string AnsiValueData(const RegValue& value) {
    if (value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz)
        return WideToAnsi(DecodeUtf16Le(value.data));
    return value.data;
}

std::vector<std::string> SettingsFilePaths() {
    const char* prefix = std::getenv("TORVANE_PREFIX");
    if (prefix != nullptr && *prefix != '\0')
        return {std::string(prefix) + "/machine.reg", std::string(prefix) + "/user.reg"};
    std::vector<std::string> paths{"/etc/torvane8/machine.reg"};
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && *config != '\0')
        paths.push_back(std::string(config) + "/torvane8/user.reg");
    else if (home != nullptr && *home != '\0')
        paths.push_back(std::string(home) + "/.config/torvane8/user.reg");
    return paths;
}

bool LoadRegistryFile(RegistryTree& tree, const std::string& hostPath) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(hostPath, error))
        return false;
    std::uintmax_t size = std::filesystem::file_size(hostPath, error);
    std::ifstream in(hostPath, std::ios::binary);
    if (error || !in)
        return false;
    std::string bytes(static_cast<std::size_t>(std::min<std::uintmax_t>(size, kMaxFileBytes)),
                      '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return tree.ApplyRegFile(bytes);
}

}  // namespace platform
