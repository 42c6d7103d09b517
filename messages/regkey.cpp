#include "messages/regkey.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "messages/expand_environment.h"

KvRegKey g_regKey;

namespace {

constexpr std::size_t kBufferSize = 256;

bool IsWorkspaceValue(const char* name) {
    return std::strcmp(name, "Workspace0") == 0 || std::strcmp(name, "Workspace1") == 0 ||
           std::strcmp(name, "Workspace2") == 0 || std::strcmp(name, "Workspace3") == 0;
}

}  // namespace

KvRegKey::~KvRegKey() {
    Close();
}

void KvRegKey::Close() {
    if (m_hKey != nullptr) {
        platform::CloseSettingsKey(m_hKey);
        m_hKey = nullptr;
    }
}

bool KvRegKey::Open(platform::SettingsRoot root, const char* subKey) {
    Close();
    m_hKey = platform::OpenSettingsKey(root, subKey);
    return m_hKey != nullptr;
}

CString KvRegKey::QueryAndClose(const char* valueName) {
    char data[kBufferSize] = {};
    std::size_t size = sizeof data;
    CString text;
    if (platform::QuerySettingsValue(m_hKey, valueName, data, &size)) {
        // The data as a terminated string, never read past what was stored:
        // a binary value may fill the buffer without a terminator.
        std::size_t used = size < sizeof data ? size : sizeof data;
        text = CString(std::string_view(data, std::find(data, data + used, '\0') - data));
    }
    Close();
    return text;
}

platform::Status KvRegKey::ReadValue(const char* valueName, const char* subKey,
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
    bool opened = fits && Open(root, key.c_str());
    if (opened)
        text = QueryAndClose(valueName);
    else if (root == SettingsRoot::LocalMachine)
        return platform::Status::SettingsMissing("Impossible to read the register key" +
                                                 std::string(subKey));

    if (root == SettingsRoot::CurrentUser && text.IsEmpty()) {
        if (fits && Open(SettingsRoot::LocalMachine, key.c_str()))
            text = QueryAndClose(valueName);
        else if (!IsWorkspaceValue(valueName))
            return platform::Status::SettingsMissing("Impossible d'ouvrir la cl\xE9 " +
                                                     std::string(subKey));
    }
    *value = ExpandEnvironment(text);
    return platform::Status::Ok();
}
