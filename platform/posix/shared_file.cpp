// Linux exclusive open: an advisory flock on the descriptor, held for the
// life of the stream (the descriptor is not inherited, so a started process
// cannot keep the lock alive after we close).
#include "platform/shared_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/host_faults.h"
#include "platform/host_path.h"
#include "platform/posix/fd_stream.h"

namespace platform {
namespace {

ExclusiveOpen Failed(int error) {
    ExclusiveOpen result;
    result.status = ErrnoError(error);
    return result;
}

ExclusiveOpen Busy() {
    ExclusiveOpen result;
    result.status = Status::Busy(std::strerror(EWOULDBLOCK));
    return result;
}

// True when `fd` is still the file that `hostPath` names: the holder we
// waited for may have deleted the file or put another in its place.
bool StillNamed(int fd, const std::string& hostPath) {
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::stat(hostPath.c_str(), &named) != 0)
        return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

ExclusiveOpen TryOpenExclusive(std::string_view windowsPath, const char* mode) {
    if (std::optional<InjectedFault> fault =
            InjectedFaultFor(HostCall::kExclusiveOpen, windowsPath)) {
        ExclusiveOpen refused;
        refused.status = fault->busy ? Status::Busy("") : Status::IoError(fault->reason);
        return refused;
    }
    StreamMode parsed = ParseStreamMode(mode);
    if (!parsed.valid)
        return Failed(EINVAL);
    std::string hostPath = ToHostPath(windowsPath);
    // Truncation waits for the lock (below).
    int flags = OpenFlags(parsed) & ~O_TRUNC;
    for (int attempt = 0;; ++attempt) {
        int fd;
        do {
            fd = ::open(hostPath.c_str(), flags, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return Failed(errno);
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
            ::close(fd);
            return Failed(EISDIR);
        }
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) {
            int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK)
                return Busy();
            return Failed(error);
        }
        if (!StillNamed(fd, hostPath)) {
            ::close(fd);
            // Renamed or deleted between our open and our lock: open the
            // name again; a name that keeps changing counts as busy.
            if (attempt < 3)
                continue;
            return Busy();
        }
        if (parsed.truncate && ::ftruncate(fd, 0) != 0) {
            int error = errno;
            ::close(fd);
            return Failed(error);
        }
        std::FILE* stream = StreamFromDescriptor(fd, parsed);
        if (stream == nullptr)
            return Failed(errno);
        ExclusiveOpen result;
        result.stream = stream;
        return result;
    }
}

}  // namespace platform
