// The settings store: where the launcher's settings (registry values) live.
//
// A thin, handle-based mirror of the three registry calls the settings reader
// needs, so that the reader keeps the shape of the Windows code:
//   OpenSettingsKey   - RegOpenKeyExA(root, subKey, 0, KEY_READ, &key)
//   QuerySettingsValue- RegQueryValueExA(key, name, nullptr, &type, buffer, &size)
//   CloseSettingsKey  - RegCloseKey(key)
// None of them blocks on other programs.
//   Win32: the registry itself.
//   Linux: registry export files (the format regedit writes), read again by
//          OpenSettingsKey whenever one may have changed, so that an edited
//          file counts at once (what was read is kept only for files that
//          had last changed two seconds or more before it was read):
//          $TORVANE_PREFIX/machine.reg then $TORVANE_PREFIX/user.reg, or when
//          TORVANE_PREFIX is unset or empty /etc/torvane8/machine.reg then
//          ${XDG_CONFIG_HOME:-$HOME/.config}/torvane8/user.reg. All sections of
//          both files form one tree, later files winning. A missing or
//          unreadable file is an empty hive; a damaged one is read as far as
//          it makes sense (see reg_file.h).
// "Not found": a key that does not exist cannot be opened; a value that does
// not exist, or whose data do not fit the caller's buffer, cannot be queried.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The predefined root keys.
enum class SettingsRoot {
    ClassesRoot,
    CurrentUser,
    LocalMachine,
    Users,
    CurrentConfig,
};

// Value types, as the registry numbers them.
enum : std::uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiSz = 7,
};

// An open key; null when none is open.
struct SettingsKeyData;
using SettingsKey = SettingsKeyData*;

// Opens root\subKey for reading; subKey "" opens the root itself. Returns null
// when the key does not exist or cannot be opened.
SettingsKey OpenSettingsKey(SettingsRoot root, const char* subKey);

// Reads value `name` ("" or null: the key's default value) into `buffer` of
// *size bytes. String data come in the ANSI code page, terminator included as
// stored; other types come as their raw bytes. On success *size is the
// number of bytes stored and *type (when not null) the value's type. Returns
// false when the value is missing or its data need more than *size bytes;
// the buffer then holds nothing of use.
bool QuerySettingsValue(SettingsKey key, const char* name, char* buffer, std::size_t* size,
                        std::uint32_t* type = nullptr);

// Closes a key from OpenSettingsKey; null is ignored.
void CloseSettingsKey(SettingsKey key);

}  // namespace platform
