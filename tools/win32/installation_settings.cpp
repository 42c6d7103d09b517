#include <windows.h>

#include "app/install_paths.h"
#include "tools/installation_settings.h"

namespace e2e {
namespace {

std::string ProductKey() {
    std::string key = GetRegistryKeyPath().str();
    key.pop_back();  // the final backslash
    return key;
}

void RemoveKeys() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ProductKey().c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ProductKey().c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, ProductKey().c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ProductKey().c_str());
}

bool WriteKey(HKEY root, const SettingValues& values) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, ProductKey().c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool written = true;
    for (const auto& [name, value] : values) {
        written = written && RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(value.c_str()),
                                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return written;
}

}  // namespace

bool WriteInstallationSettings(const std::string& /*folder*/, const SettingValues& machine,
                               const SettingValues& user,
                               platform::EnvironmentEntries& /*environment*/) {
    RemoveKeys();
    return WriteKey(HKEY_LOCAL_MACHINE, machine) && WriteKey(HKEY_CURRENT_USER, user);
}

bool RemoveInstallationSettings(const std::string& /*folder*/,
                                platform::EnvironmentEntries& /*environment*/) {
    RemoveKeys();
    HKEY key = nullptr;
    const bool gone =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, ProductKey().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS;
    if (!gone)
        RegCloseKey(key);
    return gone;
}

bool MessageBoxesOnStandardError() {
    return false;
}

}  // namespace e2e
