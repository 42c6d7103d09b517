// Win32 only: the system's text for a Windows error code, without the final
// period and line end, for failure reasons shown next to a file name.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {

std::string SystemMessage(unsigned long code);

// An I/O error carrying the system's text for a Windows error code.
inline Status WindowsError(unsigned long code) {
    return Status::IoError(SystemMessage(code));
}

}  // namespace platform
