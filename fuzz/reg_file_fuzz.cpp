// Fuzz target: the reader of registry export files behind the Linux settings
// store, on a tree that already holds keys (as when a second settings file is
// applied over the first), then every lookup path the store uses.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::RegistryTree tree;
    tree.ApplyRegFile(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Torvane\\Batch]\n"
        "\"Dossier\"=\"C:\\\\Torvane\\\\Batch\"\n\"Delai\"=dword:0000001e\n"
        "@=hex(2):25,54,4d,50,25,00\n");
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    tree.ApplyRegFile(bytes);
    using platform::SettingsRoot;
    for (SettingsRoot root :
         {SettingsRoot::ClassesRoot, SettingsRoot::CurrentUser, SettingsRoot::LocalMachine,
          SettingsRoot::Users, SettingsRoot::CurrentConfig}) {
        for (std::string_view key :
             {"", "SOFTWARE", "SOFTWARE\\Torvane\\Batch", "Software\\a\\b"}) {
            const platform::RegValues* values = tree.FindKey(root, key);
            if (values == nullptr)
                continue;
            for (const auto& [name, value] : *values) platform::AnsiValueData(value);
            for (std::string_view name : {"", "Dossier", "Delai", "x"})
                if (const platform::RegValue* value =
                        platform::RegistryTree::FindValue(*values, name))
                    platform::AnsiValueData(*value);
        }
    }
    return 0;
}
