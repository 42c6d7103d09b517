#include "messages/regkey.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "messages/expand_environment.h"
#include "platform/message_box.h"

KvRegKey g_regKey;

namespace {

constexpr std::size_t kBufferSize = 256;

// Shows a fatal settings error and ends the program. The status is 0, as the
// launcher has always ended on these errors; static objects are destroyed as
// at a normal exit.
[[noreturn]] void FatalSettingsError(const CString& message) {
    platform::ShowMessageBox(message.str(), platform::ApplicationTitle(),
                             platform::kMbIconExclamation | platform::kMbOk);
    std::exit(0);
}

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

CString KvRegKey::ReadValue(const char* valueName, const char* subKey,
                            platform::SettingsRoot root) {
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

    CString text;
    bool opened = fits && Open(root, key.c_str());
    if (opened)
        text = QueryAndClose(valueName);
    else if (root == SettingsRoot::LocalMachine)
        FatalSettingsError(CString("Impossible to read the register key") + subKey);

    if (root == SettingsRoot::CurrentUser && text.IsEmpty()) {
        if (fits && Open(SettingsRoot::LocalMachine, key.c_str()))
            text = QueryAndClose(valueName);
        else if (!IsWorkspaceValue(valueName))
            FatalSettingsError(CString("Impossible d'ouvrir la cl\xE9 ") + subKey);
    }
    return ExpandEnvironment(text);
}
