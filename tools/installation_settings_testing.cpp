#include "tools/installation_settings_testing.h"

#include "app/install_paths.h"
#include "platform/message_box_testing.h"
#include "platform/settings_store_testing.h"

namespace e2e {
namespace {

constexpr platform::SettingsRoot kRoots[] = {platform::SettingsRoot::LocalMachine,
                                             platform::SettingsRoot::CurrentUser};

std::string ProductKey() {
    std::string key = GetRegistryKeyPath().str();
    key.pop_back();  // the final backslash
    return key;
}

void RemoveKeys() {
    // A key that is not there has nothing to remove.
    for (platform::SettingsRoot root : kRoots) platform::DeleteSettingsKey(root, ProductKey());
}

bool WriteKey(platform::SettingsRoot root, const SettingValues& values) {
    bool written = platform::CreateSettingsKey(root, ProductKey());
    for (const auto& [name, value] : values)
        written = written && platform::SetSettingsString(root, ProductKey(), name, value);
    return written;
}

}  // namespace

bool WriteInstallationSettings(const std::string& folder, const SettingValues& machine,
                               const SettingValues& user,
                               platform::EnvironmentEntries& environment) {
    platform::ScopedChildSettings store(folder, environment);
    RemoveKeys();
    return WriteKey(platform::SettingsRoot::LocalMachine, machine) &&
           WriteKey(platform::SettingsRoot::CurrentUser, user);
}

bool RemoveInstallationSettings(const std::string& folder,
                                platform::EnvironmentEntries& environment) {
    platform::ScopedChildSettings store(folder, environment);
    RemoveKeys();
    platform::SettingsKey key =
        platform::OpenSettingsKey(platform::SettingsRoot::LocalMachine, ProductKey().c_str());
    platform::CloseSettingsKey(key);
    return key == nullptr;
}

bool MessageBoxesOnStandardError() {
    return platform::MessageBoxesOnlyOnStandardError();
}

}  // namespace e2e
