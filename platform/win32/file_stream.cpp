#include "platform/file_stream.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <string>

#include "platform/host_faults.h"

namespace platform {

std::FILE* OpenStream(std::string_view windowsPath, const char* mode) {
    if (!ParseStreamMode(mode).valid) {
        errno = EINVAL;
        return nullptr;
    }
    // "N": the handle is not inherited by processes the program starts.
    std::string hostMode = std::string(mode) + "N";
    return std::fopen(std::string(windowsPath).c_str(), hostMode.c_str());
}

bool LineReadKeepsPositions() {
    return false;
}

const char* LineReadMode() {
    return "r";
}

bool FlushToDisk(std::FILE* stream, std::string_view windowsPath) {
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    if (InjectedFaultFor(HostCall::kFlushToDisk, windowsPath))
        return false;
    return _commit(_fileno(stream)) == 0;
}

bool EndFileHere(std::FILE* stream) {
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    const int fd = _fileno(stream);
    const __int64 end = _lseeki64(fd, 0, SEEK_CUR);
    return end >= 0 && _chsize_s(fd, end) == 0;
}

bool WriteUntranslated(std::FILE* stream, std::string_view bytes) {
    if (bytes.empty())
        return true;
    if (std::fflush(stream) != 0)
        return false;
    const int fd = _fileno(stream);
    const int previous = _setmode(fd, _O_BINARY);
    if (previous == -1)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
                         std::fflush(stream) == 0;
    _setmode(fd, previous);
    return written;
}

}  // namespace platform
