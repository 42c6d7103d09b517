#include "tools/installation_settings.h"

#include <filesystem>

#include "app/install_paths.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

// A REGEDIT4 string: "\" and double quotes escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Hive(const char* root, const SettingValues& values) {
    std::string key = GetRegistryKeyPath().str();
    key.pop_back();  // the final backslash
    std::string text = "REGEDIT4\r\n\r\n[" + std::string(root) + "\\" + key + "]\r\n";
    for (const auto& [name, value] : values) text += Quoted(name) + "=" + Quoted(value) + "\r\n";
    return text;
}

}  // namespace

bool WriteInstallationSettings(const std::string& folder, const SettingValues& machine,
                               const SettingValues& user,
                               platform::EnvironmentEntries& environment) {
    testsupport::WriteBytes(std::filesystem::path(folder) / "machine.reg",
                            Hive("HKEY_LOCAL_MACHINE", machine));
    testsupport::WriteBytes(std::filesystem::path(folder) / "user.reg",
                            Hive("HKEY_CURRENT_USER", user));
    environment.emplace_back("TORVANE_PREFIX", folder);
    return true;
}

bool RemoveInstallationSettings(const std::string& folder,
                                platform::EnvironmentEntries& environment) {
    testsupport::WriteBytes(std::filesystem::path(folder) / "machine.reg", "REGEDIT4\r\n");
    testsupport::WriteBytes(std::filesystem::path(folder) / "user.reg", "REGEDIT4\r\n");
    environment.emplace_back("TORVANE_PREFIX", folder);
    return true;
}

bool MessageBoxesOnStandardError() {
    return true;
}

}  // namespace e2e
