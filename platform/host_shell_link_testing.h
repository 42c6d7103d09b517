// Test-only: shortcut files written and read by the host's own shell-link
// component, to check the system's .lnk reader against the real thing (the
// system itself never uses it).
//   Win32: IShellLinkA + IPersistFile after CoInitialize (Wine provides both).
//   Linux: there is no such component: every call reports "not available".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

bool HostShellLinkAvailable();

// IShellLinkA::SetPath, then IPersistFile::Save; false when unavailable or refused.
bool HostWriteShellLink(std::string_view linkPath, std::string_view targetPath);

// IPersistFile::Load, then IShellLinkA::GetPath with UNC priority into a
// 260-character buffer; nullopt when unavailable or the link does not load.
std::optional<std::string> HostShellLinkPath(std::string_view linkPath);

}  // namespace platform
