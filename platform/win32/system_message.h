// Win32 only: the system's text for a Windows error code, without the final
// period and line end, for failure reasons shown next to a file name.
#pragma once

#include <string>

namespace platform {

std::string SystemMessage(unsigned long code);

}  // namespace platform
