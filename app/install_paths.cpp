#include "app/install_paths.h"

#include "messages/regkey.h"

CString GetRegistryKeyPath() {
    return CString("SOFTWARE\\Quarrow Labs\\Torvane8\\");
}

platform::Status GetInstallFolder(CString* folder) {
    return ReadSettingsValue("REPSOFTWARE", GetRegistryKeyPath().c_str(),
                             platform::SettingsRoot::LocalMachine, folder);
}
