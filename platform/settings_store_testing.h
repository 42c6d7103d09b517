// Test-only helpers for the settings store: a private, empty store for the
// life of a test, and writes into it, so that one test body checks the
// settings reader against both hosts. Not for production code.
//   Win32: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are redirected for this
//          process (RegOverridePredefKey) to fresh keys under
//          HKEY_CURRENT_USER\Software\TorvaneTests\<pid>-<n>, removed when the
//          scope ends or the process exits.
//   Linux: TORVANE_PREFIX names a fresh temporary folder until the scope ends;
//          writes append sections to machine.reg (HKEY_LOCAL_MACHINE) or
//          user.reg (other roots), in the encoding the file has, or for a new
//          file the scope's.
#pragma once

#include <optional>
#include <string>

#include "platform/child_process.h"
#include "platform/codepage.h"
#include "platform/settings_store.h"

namespace platform {

enum class RegFileEncoding {
    Utf16,  // "Windows Registry Editor Version 5.00", UTF-16LE with BOM, CRLF
    Ansi,   // "REGEDIT4", Windows-1252, CRLF
};

class ScopedTestSettings {
  public:
    explicit ScopedTestSettings(RegFileEncoding encoding = RegFileEncoding::Utf16);
    ~ScopedTestSettings();
    ScopedTestSettings(const ScopedTestSettings&) = delete;
    ScopedTestSettings& operator=(const ScopedTestSettings&) = delete;

  private:
    std::string m_folder;
    [[maybe_unused]] std::optional<std::string> m_previous;  // Linux: TORVANE_PREFIX to put back
};

// The store that the programs a test starts read (end-to-end tests), unlike
// ScopedTestSettings, which only this process sees. For the life of the
// scope the writes below go there:
//   Win32: the real registry (a test leg runs in a Wine prefix of its own);
//          nothing is added to `environment`.
//   Linux: machine.reg and user.reg in `folder` ("REGEDIT4" when new), which
//          TORVANE_PREFIX names meanwhile here and, through `environment`, in
//          the programs the test starts.
// Not for use inside a ScopedTestSettings.
class ScopedChildSettings {
  public:
    ScopedChildSettings(const std::string& folder, EnvironmentEntries& environment);
    ~ScopedChildSettings();
    ScopedChildSettings(const ScopedChildSettings&) = delete;
    ScopedChildSettings& operator=(const ScopedChildSettings&) = delete;

  private:
    [[maybe_unused]] std::optional<std::string> m_previous;  // Linux: TORVANE_PREFIX to put back
};

// Each returns false when the write failed. Sub-keys may end with "\".
bool SetSettingsString(SettingsRoot root, const std::string& subKey, const std::string& name,
                       const std::string& value);
bool DeleteSettingsValue(SettingsRoot root, const std::string& subKey, const std::string& name);
// Removes the key with everything below it; false when there was none.
bool DeleteSettingsKey(SettingsRoot root, const std::string& subKey);
// Creates the key, with its parents, when it is missing.
bool CreateSettingsKey(SettingsRoot root, const std::string& subKey);

// ANSI text as UTF-16LE bytes after a byte-order mark, as regedit writes a
// "Windows Registry Editor Version 5.00" file.
inline std::string Utf16File(const std::string& ansiText) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : AnsiToWide(ansiText)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

}  // namespace platform
