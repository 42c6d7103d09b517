#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/settings_store_testing.h"
#include "platform/win32/registry_root.h"

namespace platform {
namespace {

// The private keys of the live scope, under the real HKEY_CURRENT_USER.
std::string g_base;

std::string Trimmed(std::string subKey) {
    while (!subKey.empty() && subKey.back() == '\\') subKey.pop_back();
    return subKey;
}

void RemovePrivateKeys() {
    if (g_base.empty())
        return;
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegDeleteTreeA(HKEY_CURRENT_USER, g_base.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TorvaneTests");  // only once empty
    g_base.clear();
}

// Redirects `root` to the private key `name`.
bool Redirect(HKEY root, const char* name) {
    HKEY key = nullptr;
    const bool ok = RegCreateKeyExA(HKEY_CURRENT_USER, (g_base + "\\" + name).c_str(), 0, nullptr,
                                    0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS &&
                    RegOverridePredefKey(root, key) == ERROR_SUCCESS;
    if (key != nullptr)
        RegCloseKey(key);
    return ok;
}

}  // namespace

ScopedTestSettings::ScopedTestSettings(RegFileEncoding /*encoding*/) {
    static int counter = 0;
    static bool registered = false;
    RemovePrivateKeys();
    g_base = "Software\\TorvaneTests\\" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(counter++);
    // HKEY_CURRENT_USER last: both keys are made under the real one.
    if (!Redirect(HKEY_LOCAL_MACHINE, "LOCAL_MACHINE") ||
        !Redirect(HKEY_CURRENT_USER, "CURRENT_USER")) {
        std::fprintf(stderr, "ScopedTestSettings: cannot redirect the registry roots\n");
        std::abort();
    }
    if (!registered) {
        registered = true;
        std::atexit(RemovePrivateKeys);  // a death-test child ends through exit()
    }
}

ScopedTestSettings::~ScopedTestSettings() {
    RemovePrivateKeys();
}

// The real registry is the children's store already.
ScopedChildSettings::ScopedChildSettings(const std::string& /*folder*/,
                                         EnvironmentEntries& /*environment*/) {}

ScopedChildSettings::~ScopedChildSettings() = default;

bool SetSettingsString(SettingsRoot root, const std::string& subKey, const std::string& name,
                       const std::string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(RootHandle(root), Trimmed(subKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status =
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool DeleteSettingsValue(SettingsRoot root, const std::string& subKey, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootHandle(root), Trimmed(subKey).c_str(), 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    LONG status = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool DeleteSettingsKey(SettingsRoot root, const std::string& subKey) {
    const bool deleted = RegDeleteTreeA(RootHandle(root), Trimmed(subKey).c_str()) == ERROR_SUCCESS;
    // The key itself too, should the tree call leave it behind empty.
    RegDeleteKeyA(RootHandle(root), Trimmed(subKey).c_str());
    return deleted;
}

bool CreateSettingsKey(SettingsRoot root, const std::string& subKey) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(RootHandle(root), Trimmed(subKey).c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

}  // namespace platform
