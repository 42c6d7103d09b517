#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/codepage.h"
#include "platform/settings_store_testing.h"

namespace platform {
namespace {

RegFileEncoding g_encoding = RegFileEncoding::Utf16;

const char* RootName(SettingsRoot root) {
    switch (root) {
        case SettingsRoot::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case SettingsRoot::CurrentUser:
            return "HKEY_CURRENT_USER";
        case SettingsRoot::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case SettingsRoot::Users:
            return "HKEY_USERS";
        case SettingsRoot::CurrentConfig:
            return "HKEY_CURRENT_CONFIG";
    }
    return "";
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\\' || ch == '"')
            out += '\\';
        out += ch;
    }
    return out;
}

std::string KeyText(SettingsRoot root, std::string subKey) {
    while (!subKey.empty() && subKey.back() == '\\') subKey.pop_back();
    return std::string(RootName(root)) + "\\" + subKey;
}

// Appends ANSI `text` (CRLF line ends) to the store file of `root`.
bool Append(SettingsRoot root, const std::string& text) {
    const char* prefix = std::getenv("TORVANE_PREFIX");
    if (prefix == nullptr || *prefix == '\0')
        return false;  // never touch the machine's own settings
    std::filesystem::path path = std::filesystem::path(prefix) /
                                 (root == SettingsRoot::LocalMachine ? "machine.reg" : "user.reg");
    std::string existing;
    {
        std::ifstream in(path, std::ios::binary);
        existing.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool utf16 = existing.empty() ? g_encoding == RegFileEncoding::Utf16
                                  : existing.size() >= 2 && existing.substr(0, 2) == "\xFF\xFE";
    std::string content =
        existing.empty() ? (utf16 ? "Windows Registry Editor Version 5.00\r\n" : "REGEDIT4\r\n")
                         : "";
    content += "\r\n" + text;
    std::string bytes;
    if (utf16) {
        if (existing.empty())
            bytes = "\xFF\xFE";
        for (char16_t unit : AnsiToWide(content)) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
    } else {
        bytes = content;
    }
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

ScopedTestSettings::ScopedTestSettings(RegFileEncoding encoding) {
    g_encoding = encoding;
    std::string pattern = (std::filesystem::temp_directory_path() / "tvsettings-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
        m_folder = pattern;
    if (const char* previous = std::getenv("TORVANE_PREFIX")) {
        m_hadPrevious = true;
        m_previous = previous;
    }
    // A folder that could not be made still must not leave the real files
    // in use: a prefix that does not exist is an empty store.
    setenv("TORVANE_PREFIX", m_folder.empty() ? "/nonexistent/tvsettings" : m_folder.c_str(), 1);
}

ScopedTestSettings::~ScopedTestSettings() {
    if (m_hadPrevious)
        setenv("TORVANE_PREFIX", m_previous.c_str(), 1);
    else
        unsetenv("TORVANE_PREFIX");
    std::error_code ignored;
    if (!m_folder.empty())
        std::filesystem::remove_all(m_folder, ignored);
    g_encoding = RegFileEncoding::Utf16;
}

ScopedChildSettings::ScopedChildSettings(const std::string& folder,
                                         EnvironmentEntries& environment) {
    if (const char* previous = std::getenv("TORVANE_PREFIX")) {
        m_hadPrevious = true;
        m_previous = previous;
    }
    g_encoding = RegFileEncoding::Ansi;
    setenv("TORVANE_PREFIX", folder.c_str(), 1);
    environment.emplace_back("TORVANE_PREFIX", folder);
}

ScopedChildSettings::~ScopedChildSettings() {
    if (m_hadPrevious)
        setenv("TORVANE_PREFIX", m_previous.c_str(), 1);
    else
        unsetenv("TORVANE_PREFIX");
    g_encoding = RegFileEncoding::Utf16;
}

bool SetSettingsString(SettingsRoot root, const std::string& subKey, const std::string& name,
                       const std::string& value) {
    return Append(root, "[" + KeyText(root, subKey) + "]\r\n\"" + Escape(name) + "\"=\"" +
                            Escape(value) + "\"\r\n");
}

bool DeleteSettingsValue(SettingsRoot root, const std::string& subKey, const std::string& name) {
    return Append(root, "[" + KeyText(root, subKey) + "]\r\n\"" + Escape(name) + "\"=-\r\n");
}

bool DeleteSettingsKey(SettingsRoot root, const std::string& subKey) {
    return Append(root, "[-" + KeyText(root, subKey) + "]\r\n");
}

bool CreateSettingsKey(SettingsRoot root, const std::string& subKey) {
    return Append(root, "[" + KeyText(root, subKey) + "]\r\n");
}

bool ImportSettingsFile(const std::string& bytes) {
    const char* prefix = std::getenv("TORVANE_PREFIX");
    if (prefix == nullptr || *prefix == '\0')
        return false;
    std::filesystem::path path = std::filesystem::path(prefix) / "machine.reg";
    std::error_code error;
    if (std::filesystem::exists(path, error))
        return false;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace platform
