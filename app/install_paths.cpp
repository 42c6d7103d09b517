#include "app/install_paths.h"

#include "messages/regkey.h"

CString GetRegistryKeyPath() {
    return CString("SOFTWARE\\Quarrow Labs\\Torvane8\\");
}

CString GetInstallFolder() {
    KvRegKey key;
    return key.ReadValue("REPSOFTWARE", GetRegistryKeyPath().c_str(),
                         platform::SettingsRoot::LocalMachine);
}
