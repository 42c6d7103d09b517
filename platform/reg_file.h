// Registry export files (.reg): the reader behind the Linux settings store.
//
// Pure code, no OS call except the whole-file read of LoadRegistryFile, so
// that it can be unit-tested on every host and fed arbitrary bytes by a fuzz
// target (RegistryTree::ApplyRegFile takes a byte buffer).
//
// The accepted format is the one regedit writes and reads:
//   - a first line "REGEDIT4" (8-bit text) or "Windows Registry Editor
//     Version 5.00" (UTF-16LE with a byte-order mark; UTF-8 also accepted);
//     content without either header is not a registry file and adds nothing;
//   - the text's encoding comes from its first bytes: FF FE is UTF-16LE (also
//     recognised without the mark when the text starts with "R\0" or "W\0"),
//     EF BB BF is UTF-8; otherwise text that is valid UTF-8 and uses at least
//     one multi-byte sequence is UTF-8, and anything else is Windows-1252 (so
//     a hand-written file works whichever way the editor saved it);
//   - "[ROOT\path]" opens a key (created with its parents), "[-ROOT\path]"
//     deletes it with everything below; roots HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
//     HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG and their short forms
//     HKLM, HKCU, HKCR, HKU, HKCC;
//   - "name"=... or @=... (the default value) with "string" (escapes \\, \",
//     \n, \r, \0), dword:XXXXXXXX, hex:bytes, hex(N):bytes (continued over
//     lines by a final "\"), or "-" to delete the value;
//   - in a "REGEDIT4" file the bytes of hex(1), hex(2) and hex(7) are ANSI
//     text, in a version 5 file UTF-16LE, as regedit has it;
//   - key and value names compare without regard to case (ASCII and Latin-1
//     letters); comments start with ";" or "#".
// A line that does not parse is skipped, and so is a value whose data are
// cut off; a truncated or damaged file keeps everything before the damage.
// Work is linear in the size of the content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"

namespace platform {

// A value as the registry keeps it: string types (1, 2, 7) as UTF-16LE bytes,
// other types as their bytes.
struct RegValue {
    std::uint32_t type = kRegNone;
    std::string data;
};

// The values of one key, by folded name ("" is the default value).
using RegValues = std::map<std::u16string, RegValue>;

class RegistryTree {
  public:
    // Applies the content of one .reg file over what the tree holds. Returns
    // false (and changes nothing) when the content has no registry header.
    bool ApplyRegFile(std::string_view bytes);

    // The key root\subKey (ANSI; "" is the root itself), or null when it
    // does not exist. Roots always exist.
    const RegValues* FindKey(SettingsRoot root, std::string_view subKey) const;
    // The value `name` (ANSI; "" is the default value) of a key, or null.
    static const RegValue* FindValue(const RegValues& key, std::string_view name);

    std::size_t KeyCount() const { return m_keys.size(); }

  private:
    std::map<std::u16string, RegValues> m_keys;  // by folded "root\path"

    friend class RegFileParser;
};

// The data RegQueryValueExA gives for a value: string types converted to the
// ANSI code page, other types as stored.
std::string AnsiValueData(const RegValue& value);

// The settings files of the Linux store, in the order they are applied
// (see settings_store.h); reads the environment on every call.
std::vector<std::string> SettingsFilePaths();

// Applies the file at `hostPath` to `tree`. A missing file, a folder, a
// device or anything else that is not a regular file adds nothing; at most
// the first 16 MiB are read (a settings file is a few kilobytes; the cap
// keeps a wrong path from eating memory). Returns true when a registry file
// was applied.
bool LoadRegistryFile(RegistryTree& tree, const std::string& hostPath);

}  // namespace platform
