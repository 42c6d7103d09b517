// Linux has no shell-link component; the system's own reader is all there is.
#include "platform/host_shell_link_testing.h"

namespace platform {

bool HostShellLinkAvailable() {
    return false;
}

bool HostWriteShellLink(std::string_view, std::string_view) {
    return false;
}

std::optional<std::string> HostShellLinkPath(std::string_view) {
    return std::nullopt;
}

}  // namespace platform
