// Linux settings store: the registry export files named by SettingsFilePaths,
// read afresh on every open. A key handle carries a copy of the key's values,
// so that what a caller reads does not change while the key is open, as with
// a registry key read between two edits.
#include "platform/settings_store.h"

#include <cstring>
#include <string>

#include "platform/reg_file.h"

namespace platform {

struct SettingsKeyData {
    RegValues values;
};

SettingsKey OpenSettingsKey(SettingsRoot root, const char* subKey) {
    RegistryTree tree;
    for (const std::string& path : SettingsFilePaths()) LoadRegistryFile(tree, path);
    const RegValues* key = tree.FindKey(root, subKey ? subKey : "");
    if (key == nullptr)
        return nullptr;
    return new SettingsKeyData{*key};
}

bool QuerySettingsValue(SettingsKey key, const char* name, char* buffer, std::size_t* size,
                        std::uint32_t* type) {
    if (key == nullptr || size == nullptr)
        return false;
    const RegValue* value = RegistryTree::FindValue(key->values, name ? name : "");
    if (value == nullptr)
        return false;
    std::string data = AnsiValueData(*value);
    if (data.size() > *size || (buffer == nullptr && !data.empty())) {
        *size = data.size();
        return false;
    }
    if (!data.empty())
        std::memcpy(buffer, data.data(), data.size());
    *size = data.size();
    if (type != nullptr)
        *type = value->type;
    return true;
}

void CloseSettingsKey(SettingsKey key) {
    delete key;
}

}  // namespace platform
