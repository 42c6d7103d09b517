#include "messages/regkey.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "messages/expand_environment.h"

namespace {

constexpr std::size_t kBufferSize = 256;

bool IsWorkspaceValue(const char* name) {
    return std::strcmp(name, "Workspace0") == 0 || std::strcmp(name, "Workspace1") == 0 ||
           std::strcmp(name, "Workspace2") == 0 || std::strcmp(name, "Workspace3") == 0;
}

// Reads `valueName` of root\subKey through the 256-byte buffer. False when
// the key cannot be opened; `*text` is "" when the value cannot be read.
bool ReadThroughBuffer(platform::SettingsRoot root, const char* subKey, const char* valueName,
                       CString* text) {
    platform::SettingsKey key = platform::OpenSettingsKey(root, subKey);
    if (key == nullptr)
        return false;
    char data[kBufferSize] = {};
    std::size_t size = sizeof data;
    *text = CString();
    if (platform::QuerySettingsValue(key, valueName, data, &size)) {
        // The data as a terminated string, never read past what was stored:
        // a binary value may fill the buffer without a terminator.
        std::size_t used = size < sizeof data ? size : sizeof data;
        *text = CString(std::string_view(data, std::find(data, data + used, '\0') - data));
    }
    platform::CloseSettingsKey(key);
    return true;
}

}  // namespace

platform::Status ReadSettingsValue(const char* valueName, const char* subKey,
                                   platform::SettingsRoot root, CString* value) {
    using platform::SettingsRoot;
    if (valueName == nullptr)
        valueName = "";
    if (subKey == nullptr)
        subKey = "";

    // "SOFTWARE\...\Torvane8\" is opened as "SOFTWARE\...\Torvane8".
    std::string key(subKey);
    if (!key.empty() && (key.back() == '\\' || key.back() == '/'))
        key.pop_back();

    // The key buffer holds 255 characters and the terminator; a longer
    // sub-key is taken as one that cannot be opened.
    bool fits = std::strlen(subKey) < kBufferSize;

    *value = CString();
    CString text;
    bool opened = fits && ReadThroughBuffer(root, key.c_str(), valueName, &text);
    if (!opened && root == SettingsRoot::LocalMachine)
        return platform::Status::SettingsMissing("Impossible to read the register key" +
                                                 std::string(subKey));

    if (root == SettingsRoot::CurrentUser && text.IsEmpty()) {
        bool machine =
            fits && ReadThroughBuffer(SettingsRoot::LocalMachine, key.c_str(), valueName, &text);
        if (!machine && !IsWorkspaceValue(valueName))
            return platform::Status::SettingsMissing("Impossible d'ouvrir la cl\xE9 " +
                                                     std::string(subKey));
    }
    *value = ExpandEnvironment(text);
    return platform::Status::Ok();
}
