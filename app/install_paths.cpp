#include "app/install_paths.h"

#include "messages/regkey.h"

CString GetRegistryKeyPath() {
    return CString("SOFTWARE\\Quarrow Labs\\Torvane8\\");
}

platform::Status GetInstallFolder(CString* folder) {
    KvRegKey key;
    return key.ReadValue("REPSOFTWARE", GetRegistryKeyPath().c_str(),
                         platform::SettingsRoot::LocalMachine, folder);
}
