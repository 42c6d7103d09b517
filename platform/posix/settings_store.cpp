// Linux settings store: the registry export files named by SettingsFilePaths,
// read afresh whenever one of them may have changed. A key handle carries a
// copy of the key's values, so that what a caller reads does not change while
// the key is open, as with a registry key read between two edits.
#include "platform/settings_store.h"

#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/reg_file.h"

namespace platform {
namespace {

// What tells one state of a settings file from another without reading it.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

std::int64_t Nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileIdentity IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {
        true, st.st_dev, st.st_ino, st.st_size, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// The tree of the files as last read. The launcher opens a dozen keys as it
// starts, and reading and parsing both files for each was a noticeable part of
// its start. The tree is used again only while every file looks exactly as it
// did, and only when each had last changed at least two seconds before it was
// read: a change within one tick of the file system's clock could otherwise
// leave the same times and size (the rule git uses for its index).
struct ReadTree {
    std::vector<std::string> paths;
    std::vector<FileIdentity> files;
    RegistryTree tree;
};

constexpr std::int64_t kSettledNs = 2'000'000'000;

bool Settled(const std::vector<FileIdentity>& files) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t settledBefore = Nanoseconds(now) - kSettledNs;
    for (const FileIdentity& file : files) {
        if (file.exists && (file.modifiedNs > settledBefore || file.changedNs > settledBefore))
            return false;
    }
    return true;
}

std::mutex g_readLock;
std::optional<ReadTree> g_read;  // guarded by g_readLock

}  // namespace

struct SettingsKeyData {
    RegValues values;
};

namespace {

SettingsKey OpenIn(const RegistryTree& tree, SettingsRoot root, const char* subKey) {
    const RegValues* key = tree.FindKey(root, subKey ? subKey : "");
    if (key == nullptr)
        return nullptr;
    return new SettingsKeyData{*key};
}

}  // namespace

SettingsKey OpenSettingsKey(SettingsRoot root, const char* subKey) {
    std::vector<std::string> paths = SettingsFilePaths();
    std::vector<FileIdentity> files;
    for (const std::string& path : paths) files.push_back(IdentityOf(path));
    std::lock_guard<std::mutex> lock(g_readLock);
    if (g_read && g_read->paths == paths && g_read->files == files)
        return OpenIn(g_read->tree, root, subKey);
    g_read.reset();
    RegistryTree tree;
    for (const std::string& path : paths) LoadRegistryFile(tree, path);
    SettingsKey key = OpenIn(tree, root, subKey);
    if (Settled(files))
        g_read = ReadTree{std::move(paths), std::move(files), std::move(tree)};
    return key;
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
