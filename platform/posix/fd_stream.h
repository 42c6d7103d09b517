// Linux only: turning an open file descriptor into a C stream the way
// OpenStream does (text streams translate line ends like the Windows
// runtime, binary streams are plain). Shared by OpenStream and the
// exclusive open, which needs to lock the descriptor before it becomes a
// stream. Not part of the portable interface.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/file_stream.h"

namespace platform {

// Takes ownership of `fd`: it is closed with the stream, or at once when no
// stream can be made (nullptr, errno set). `mode` must be valid.
std::FILE* StreamFromDescriptor(int fd, const StreamMode& mode);

// The open(2) flags of a parsed mode, O_CLOEXEC always included.
int OpenFlags(const StreamMode& mode);

// Writes all `size` bytes, resuming after partial writes and signals; false
// when the descriptor refuses (disk full, closed pipe).
bool WriteAll(int fd, const char* data, std::size_t size);

}  // namespace platform
