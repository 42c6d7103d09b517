#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/settings_store_testing.h"

namespace platform {
namespace {

RegFileEncoding g_encoding = RegFileEncoding::Utf16;

// Sets or removes TORVANE_PREFIX and gives its previous value; new files are
// UTF-16 again until told otherwise.
std::optional<std::string> SetPrefix(const std::optional<std::string>& value) {
    const char* previous = std::getenv("TORVANE_PREFIX");
    std::optional<std::string> result =
        previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
    if (value)
        setenv("TORVANE_PREFIX", value->c_str(), 1);
    else
        unsetenv("TORVANE_PREFIX");
    g_encoding = RegFileEncoding::Utf16;
    return result;
}

// "[ROOT\subKey]" with its line end, "[-ROOT\subKey]" for a deletion.
std::string Section(SettingsRoot root, std::string subKey, const char* open = "[") {
    static const char* const names[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                        "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
    while (!subKey.empty() && subKey.back() == '\\') subKey.pop_back();
    return open + std::string(names[static_cast<int>(root)]) + "\\" + subKey + "]\r\n";
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        if (ch == '\\' || ch == '"')
            out += '\\';
        out += ch;
    }
    return out + "\"";
}

// Appends ANSI `text` (CRLF line ends) to the store file of `root`.
bool Append(SettingsRoot root, const std::string& text) {
    const char* prefix = std::getenv("TORVANE_PREFIX");
    if (prefix == nullptr || *prefix == '\0')
        return false;  // never touch the machine's own settings
    std::filesystem::path path = std::filesystem::path(prefix) /
                                 (root == SettingsRoot::LocalMachine ? "machine.reg" : "user.reg");
    std::ifstream in(path, std::ios::binary);
    const std::string existing{std::istreambuf_iterator<char>(in), {}};
    const bool utf16 =
        existing.empty() ? g_encoding == RegFileEncoding::Utf16 : existing.starts_with("\xFF\xFE");
    std::string content =
        existing.empty() ? (utf16 ? "Windows Registry Editor Version 5.00\r\n" : "REGEDIT4\r\n")
                         : "";
    content += "\r\n" + text;
    // Only a new file starts with the byte-order mark.
    const std::string bytes = utf16 ? Utf16File(content).substr(existing.empty() ? 0 : 2) : content;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

ScopedTestSettings::ScopedTestSettings(RegFileEncoding encoding) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tvsettings-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
        m_folder = pattern;
    // Without a folder the real files still must not be used: a prefix that
    // does not exist is an empty store.
    m_previous = SetPrefix(m_folder.empty() ? "/nonexistent/tvsettings" : m_folder);
    g_encoding = encoding;
}

ScopedTestSettings::~ScopedTestSettings() {
    SetPrefix(m_previous);
    std::error_code ignored;
    if (!m_folder.empty())
        std::filesystem::remove_all(m_folder, ignored);
}

ScopedChildSettings::ScopedChildSettings(const std::string& folder,
                                         EnvironmentEntries& environment) {
    m_previous = SetPrefix(folder);
    g_encoding = RegFileEncoding::Ansi;
    environment.emplace_back("TORVANE_PREFIX", folder);
}

ScopedChildSettings::~ScopedChildSettings() {
    SetPrefix(m_previous);
}

bool SetSettingsString(SettingsRoot root, const std::string& subKey, const std::string& name,
                       const std::string& value) {
    return Append(root, Section(root, subKey) + Quoted(name) + "=" + Quoted(value) + "\r\n");
}

bool DeleteSettingsValue(SettingsRoot root, const std::string& subKey, const std::string& name) {
    return Append(root, Section(root, subKey) + Quoted(name) + "=-\r\n");
}

bool DeleteSettingsKey(SettingsRoot root, const std::string& subKey) {
    return Append(root, Section(root, subKey, "[-"));
}

bool CreateSettingsKey(SettingsRoot root, const std::string& subKey) {
    return Append(root, Section(root, subKey));
}

}  // namespace platform
