// Win32 only: the predefined registry key of a settings root, shared by the
// settings store and its test helper. Not part of the portable interface.
#pragma once

#include <windows.h>

#include "platform/settings_store.h"

namespace platform {

inline HKEY RootHandle(SettingsRoot root) {
    switch (root) {
        case SettingsRoot::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case SettingsRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case SettingsRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case SettingsRoot::Users:
            return HKEY_USERS;
        case SettingsRoot::CurrentConfig:
            return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

}  // namespace platform
