// Test-only: shortcut files written and read by the host's own shell-link
// component, to check the system's .lnk reader against the real thing.
//
// The system itself never uses this service (its shortcuts are read by its
// own reader on every host) and never initialises a component library; only
// tests do, through these calls.
//   Win32: IShellLinkA + IPersistFile after CoInitialize (Wine provides both);
//          blocking, short.
//   Linux: there is no such component: both calls report "not available".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// True when the host has a shell-link component these calls can use.
bool HostShellLinkAvailable();

// Writes a shortcut at linkPath pointing to targetPath (IShellLinkA::SetPath,
// then IPersistFile::Save). False when unavailable or when the host refuses.
bool HostWriteShellLink(std::string_view linkPath, std::string_view targetPath);

// The target the host reports for the shortcut at linkPath
// (IPersistFile::Load, then IShellLinkA::GetPath with UNC priority into a
// 260-character buffer); nullopt when unavailable or the link does not load.
std::optional<std::string> HostShellLinkPath(std::string_view linkPath);

}  // namespace platform
