// Win32 settings store: the registry, through its ANSI calls.
#include "platform/settings_store.h"

#include <windows.h>

#include "platform/win32/registry_root.h"

namespace platform {

// The opaque key type is the registry handle itself.
SettingsKey OpenSettingsKey(SettingsRoot root, const char* subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootHandle(root), subKey ? subKey : "", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return nullptr;
    return reinterpret_cast<SettingsKey>(key);
}

bool QuerySettingsValue(SettingsKey key, const char* name, char* buffer, std::size_t* size,
                        std::uint32_t* type) {
    if (key == nullptr || size == nullptr)
        return false;
    DWORD valueType = 0;
    DWORD length = *size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(*size);
    LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), name ? name : "", nullptr,
                                   &valueType, reinterpret_cast<BYTE*>(buffer), &length);
    *size = length;
    if (status != ERROR_SUCCESS)
        return false;
    if (type != nullptr)
        *type = valueType;
    return true;
}

void CloseSettingsKey(SettingsKey key) {
    if (key != nullptr)
        RegCloseKey(reinterpret_cast<HKEY>(key));
}

}  // namespace platform
