// The system's own reader of Windows shortcut (.lnk) files.
//
// A shortcut stands in for a file or a folder; the system only needs its
// target path. The reader understands the shell-link binary format without any
// component library, so it works the same on every host: the fixed header (its
// size and class identifier are checked), the target ID list (skipped by its
// size), the LinkInfo structure (local base path, network share name and
// common path suffix, in ANSI and Unicode forms), the string data, and the
// environment-variable block of the extra data.
//
// Every offset and size in the file is checked against the bytes that are
// really there: a damaged, truncated or hostile file gives "no target", never
// a read outside the buffer. ParseShellLink works on a byte buffer so that it
// can be fuzzed directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace shelllink {

// What a shortcut file holds, with text already in the ANSI code page (the
// Unicode forms are preferred when the file has them).
struct ShellLinkData {
    bool hasLinkInfo = false;
    std::string localBasePath;
    std::string networkShareName;  // e.g. \\server\share
    std::string commonPathSuffix;
    std::string environmentTarget;  // target of the environment-variable block
    // The optional strings of the string data.
    std::string name;
    std::string relativePath;
    std::string workingDir;
    std::string arguments;
    std::string iconLocation;

    // The target path, as the shell reports it with UNC priority: the network
    // share name, "\" and the suffix when the link has a share; otherwise the
    // local base path followed by the suffix; when LinkInfo gives neither, the
    // environment-variable target as stored (not expanded). Empty when none.
    std::string Target() const;
};

// Parses the bytes of a shortcut file; nullopt when they are not a readable
// shortcut (wrong header, a structure running past the end, a string without
// its terminator inside its structure).
std::optional<ShellLinkData> ParseShellLink(std::string_view bytes);

// The target of the shortcut held in `bytes`; empty when unreadable.
std::string ShellLinkTarget(std::string_view bytes);

// Shortcut files are small; anything larger than this is not read and
// counts as unreadable.
inline constexpr std::size_t kMaxShellLinkFileSize = 1 << 20;

// Reads the shortcut file at a Windows-form path (through the host's streams)
// and returns its target; empty when the file is missing, too large or
// unreadable.
std::string ReadShellLinkTarget(std::string_view windowsPath);

}  // namespace shelllink
