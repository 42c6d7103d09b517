// Linux: the Windows attribute bits of a file-system entry, shared by the
// directory search and the single-path operations.
#pragma once

#include <string_view>

namespace platform::posix {

// Attributes of `name` inside the open folder `dirFd` (AT_FDCWD for a path);
// false when the entry cannot be read. `name` decides the hidden bit: the
// last component of the path.
bool AttributesAt(int dirFd, const char* path, std::string_view name, unsigned& attributes);

}  // namespace platform::posix
