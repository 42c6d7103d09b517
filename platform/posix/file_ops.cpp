#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/dir_search.h"
#include "platform/host_path.h"
#include "platform/posix/fd_stream.h"
#include "platform/posix/host_attributes.h"

namespace platform {
namespace {

std::string LastComponent(const std::string& hostPath) {
    std::string path = hostPath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool CopyBytes(int in, int out) {
    char buffer[64 * 1024];
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!WriteAll(out, buffer, static_cast<std::size_t>(got)))
            return false;
    }
}

}  // namespace

bool GetAttributes(std::string_view path, unsigned& attributes) {
    if (path.empty())
        return false;
    std::string host = ToHostPath(path);
    return posix::AttributesAt(AT_FDCWD, host.c_str(), LastComponent(host), attributes);
}

std::optional<std::int64_t> ModificationTimeMs(std::string_view path) {
    std::string host = ToHostPath(path);
    struct stat info {};
    if (host.empty() || ::stat(host.c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
}

bool MakeFolder(std::string_view path) {
    std::string host = ToHostPath(path);
    return !host.empty() && ::mkdir(host.c_str(), 0777) == 0;
}

bool RemoveEmptyFolder(std::string_view path) {
    std::string host = ToHostPath(path);
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    struct stat link {};
    if (host.empty() || ::lstat(host.c_str(), &link) != 0)
        return false;
    if (S_ISLNK(link.st_mode)) {
        struct stat target {};
        if (::stat(host.c_str(), &target) != 0 || !S_ISDIR(target.st_mode))
            return false;
        return ::unlink(host.c_str()) == 0;
    }
    return ::rmdir(host.c_str()) == 0;
}

bool CopyOneFile(std::string_view source, std::string_view destination, bool overwrite) {
    std::string from = ToHostPath(source);
    std::string to = ToHostPath(destination);
    // O_NONBLOCK: opening a fifo for reading would otherwise wait for a writer.
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return false;
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? 0 : O_EXCL);
    int out = ::open(to.c_str(), flags, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    struct stat target {};
    if (::fstat(out, &target) != 0 ||
        (target.st_dev == info.st_dev && target.st_ino == info.st_ino)) {
        // Copying a file onto itself would truncate it before reading it.
        ::close(out);
        ::close(in);
        return false;
    }
    bool ok = ::ftruncate(out, 0) == 0 && CopyBytes(in, out);
    if (ok) {
        ::fchmod(out, info.st_mode & 07777);
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        ::futimens(out, times);
    }
    ok = (::close(out) == 0) && ok;
    ::close(in);
    if (!ok)
        ::unlink(to.c_str());
    return ok;
}

bool DeleteOneFile(std::string_view path) {
    std::string host = ToHostPath(path);
    struct stat link {};
    if (host.empty() || ::lstat(host.c_str(), &link) != 0 || S_ISDIR(link.st_mode))
        return false;
    return ::unlink(host.c_str()) == 0;
}

bool MoveIntoPlace(std::string_view source, std::string_view destination) {
    std::string from = ToHostPath(source);
    std::string to = ToHostPath(destination);
    return !from.empty() && !to.empty() && ::rename(from.c_str(), to.c_str()) == 0;
}

bool ChangeCurrentFolder(std::string_view path) {
    std::string host = ToHostPath(path);
    return !host.empty() && ::chdir(host.c_str()) == 0;
}

bool MakeHidden(std::string_view path) {
    unsigned attributes = 0;
    return GetAttributes(path, attributes) && (attributes & kAttrHidden) != 0;
}

}  // namespace platform
