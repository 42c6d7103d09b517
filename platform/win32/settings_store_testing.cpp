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

// Replaces the root of every section header "[ROOT\" or "[-ROOT\" of
// HKEY_LOCAL_MACHINE / HKEY_CURRENT_USER by the private keys.
template <typename Text>
Text MoveRoots(const Text& text, const Text& machine, const Text& user, const Text& hklm,
               const Text& hkcu) {
    Text out;
    std::size_t i = 0;
    while (i < text.size()) {
        out += text[i];
        if (text[i++] != '[')
            continue;
        if (i < text.size() && text[i] == '-')
            out += text[i++];
        if (text.compare(i, hklm.size(), hklm) == 0) {
            out += machine;
            i += hklm.size();
        } else if (text.compare(i, hkcu.size(), hkcu) == 0) {
            out += user;
            i += hkcu.size();
        }
    }
    return out;
}

}  // namespace

ScopedTestSettings::ScopedTestSettings(RegFileEncoding /*encoding*/) {
    static int counter = 0;
    static bool registered = false;
    RemovePrivateKeys();
    g_base = "Software\\TorvaneTests\\" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(counter++);
    HKEY machine = nullptr;
    HKEY user = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, (g_base + "\\machine").c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &machine, nullptr);
    RegCreateKeyExA(HKEY_CURRENT_USER, (g_base + "\\user").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &user, nullptr);
    if (machine == nullptr || user == nullptr ||
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_CURRENT_USER, user) != ERROR_SUCCESS) {
        std::fprintf(stderr, "ScopedTestSettings: cannot redirect the registry roots\n");
        std::abort();
    }
    RegCloseKey(machine);
    RegCloseKey(user);
    if (!registered) {
        registered = true;
        std::atexit(RemovePrivateKeys);
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

bool ImportSettingsFile(const std::string& bytes) {
    if (g_base.empty())
        return false;
    std::string machine = "HKEY_CURRENT_USER\\" + g_base + "\\machine";
    std::string user = "HKEY_CURRENT_USER\\" + g_base + "\\user";
    std::string content;
    if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                           (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
        text = MoveRoots<std::wstring>(text, std::wstring(machine.begin(), machine.end()),
                                       std::wstring(user.begin(), user.end()),
                                       L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER");
        content = "\xFF\xFE";
        for (wchar_t unit : text) {
            content += static_cast<char>(unit & 0xFF);
            content += static_cast<char>((unit >> 8) & 0xFF);
        }
    } else {
        content =
            MoveRoots<std::string>(bytes, machine, user, "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER");
    }

    char folder[MAX_PATH + 1] = {};
    char file[MAX_PATH + 1] = {};
    if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "tvr", 0, file) == 0)
        return false;
    HANDLE handle =
        CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(handle);

    std::string command = "regedit.exe /s \"" + std::string(file) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    bool ok = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process) != 0;
    if (ok) {
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    DeleteFileA(file);
    return ok && written == content.size();
}

}  // namespace platform
