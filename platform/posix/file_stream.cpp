// Linux streams. Binary streams are plain fdopen streams; text streams are
// glibc cookie streams over the file descriptor that translate line ends the
// way the Windows runtime does, so the bytes on disk match the Windows build.
#include "platform/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/host_faults.h"
#include "platform/host_path.h"
#include "platform/posix/fd_stream.h"

namespace platform {
namespace {

// Large buffers: a batch log of a million lines is read and written through
// these streams, and every refill or flush is a system call.
constexpr std::size_t kTextBufferSize = 64 * 1024;

struct TextCookie {
    int fd = -1;
    // Raw bytes read from the file but not yet handed to the stream, or the
    // translated bytes of a write on their way to the file.
    char raw[kTextBufferSize];
    // The stream's own buffer, which lives as long as the stream.
    char stream[kTextBufferSize];
    std::size_t rawPos = 0;
    std::size_t rawLen = 0;
    bool rawEof = false;
};

// The text streams open now and their cookies: a cookie stream has no
// descriptor that fileno would give, and WriteUntranslated needs it. Like the
// Windows runtime's own table of descriptor modes, this belongs to the
// process.
std::mutex g_textStreamsLock;
std::vector<std::pair<std::FILE*, TextCookie*>> g_textStreams;

TextCookie* FindTextCookie(std::FILE* stream) {
    std::lock_guard<std::mutex> lock(g_textStreamsLock);
    for (const auto& [open, cookie] : g_textStreams)
        if (open == stream)
            return cookie;
    return nullptr;
}

// Refills the raw buffer, keeping `keep` unread bytes at its start.
bool Refill(TextCookie& c) {
    std::size_t keep = c.rawLen - c.rawPos;
    std::memmove(c.raw, c.raw + c.rawPos, keep);
    c.rawPos = 0;
    c.rawLen = keep;
    for (;;) {
        ssize_t got = ::read(c.fd, c.raw + c.rawLen, sizeof c.raw - c.rawLen);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            c.rawEof = true;
        c.rawLen += static_cast<std::size_t>(got);
        return true;
    }
}

ssize_t TextRead(void* cookie, char* out, size_t size) {
    auto& c = *static_cast<TextCookie*>(cookie);
    std::size_t n = 0;
    while (n < size) {
        if (c.rawPos == c.rawLen) {
            if (n > 0 || c.rawEof)
                break;
            if (!Refill(c))
                return -1;
            if (c.rawPos == c.rawLen)
                break;
        }
        // Bytes up to the next "\r" pass unchanged, in one copy.
        const char* from = c.raw + c.rawPos;
        std::size_t run = std::min(size - n, c.rawLen - c.rawPos);
        const void* cr = std::memchr(from, '\r', run);
        if (cr != nullptr)
            run = static_cast<std::size_t>(static_cast<const char*>(cr) - from);
        std::memcpy(out + n, from, run);
        n += run;
        c.rawPos += run;
        if (cr == nullptr)
            continue;
        // A "\r" needs the next byte to know whether it ends a line.
        if (c.rawPos + 1 == c.rawLen && !c.rawEof) {
            if (!Refill(c))
                return -1;
            continue;
        }
        char ch = '\r';
        if (c.rawPos + 1 < c.rawLen && c.raw[c.rawPos + 1] == '\n') {
            ++c.rawPos;
            ch = '\n';
        }
        out[n++] = ch;
        ++c.rawPos;
    }
    return static_cast<ssize_t>(n);
}

// Bytes still buffered for reading lie ahead of the descriptor's position:
// steps back so that a write or a cut after a read lands where the stream
// stands.
void DropReadAhead(TextCookie& c) {
    if (c.rawPos != c.rawLen)
        ::lseek(c.fd, -static_cast<off_t>(c.rawLen - c.rawPos), SEEK_CUR);
    c.rawPos = c.rawLen = 0;
    c.rawEof = false;
}

ssize_t TextWrite(void* cookie, const char* data, size_t size) {
    auto& c = *static_cast<TextCookie*>(cookie);
    DropReadAhead(c);
    // The stream hands over its buffer when it is full: the runs between line
    // ends are copied whole into the cookie's own buffer, which is written
    // out whenever it cannot take the next run.
    char* out = c.raw;
    std::size_t used = 0;
    for (std::size_t i = 0; i < size;) {
        const void* nl = std::memchr(data + i, '\n', size - i);
        std::size_t run = nl == nullptr ? size - i : static_cast<const char*>(nl) - (data + i);
        std::size_t need = run + (nl != nullptr ? 2 : 0);
        if (used + need > sizeof c.raw) {
            if (!WriteAll(c.fd, out, used))
                return 0;
            used = 0;
            if (need > sizeof c.raw) {
                if (!WriteAll(c.fd, data + i, run))
                    return 0;
                i += run;
                continue;
            }
        }
        std::memcpy(out + used, data + i, run);
        used += run;
        i += run;
        if (nl != nullptr) {
            out[used++] = '\r';
            out[used++] = '\n';
            ++i;
        }
    }
    if (!WriteAll(c.fd, out, used))
        return 0;
    return static_cast<ssize_t>(size);
}

int TextSeek(void* cookie, off64_t* offset, int whence) {
    auto& c = *static_cast<TextCookie*>(cookie);
    off64_t target = *offset;
    if (whence == SEEK_CUR) {
        target -= static_cast<off64_t>(c.rawLen - c.rawPos);
    }
    off64_t result = ::lseek64(c.fd, target, whence);
    if (result < 0)
        return -1;
    c.rawPos = c.rawLen = 0;
    c.rawEof = false;
    *offset = result;
    return 0;
}

int TextClose(void* cookie) {
    auto* c = static_cast<TextCookie*>(cookie);
    {
        std::lock_guard<std::mutex> lock(g_textStreamsLock);
        std::erase_if(g_textStreams, [c](const auto& entry) { return entry.second == c; });
    }
    int result = ::close(c->fd);
    delete c;
    return result;
}

}  // namespace

std::FILE* StreamFromDescriptor(int fd, const StreamMode& parsed) {
    if (parsed.binary) {
        const char* fdMode =
            parsed.append ? (parsed.read ? "a+b" : "ab")
                          : (parsed.read && parsed.write ? "r+b" : (parsed.write ? "wb" : "rb"));
        std::FILE* stream = ::fdopen(fd, fdMode);
        if (stream == nullptr)
            ::close(fd);
        return stream;
    }

    auto* cookie = new TextCookie;
    cookie->fd = fd;
    cookie_io_functions_t functions{TextRead, TextWrite, TextSeek, TextClose};
    const char* cookieMode =
        parsed.append ? (parsed.read ? "a+" : "a")
                      : (parsed.read && parsed.write ? "r+" : (parsed.write ? "w" : "r"));
    std::FILE* stream = ::fopencookie(cookie, cookieMode, functions);
    if (stream == nullptr) {
        int saved = errno;
        ::close(fd);
        delete cookie;
        errno = saved;
        return nullptr;
    }
    std::setvbuf(stream, cookie->stream, _IOFBF, sizeof cookie->stream);
    std::lock_guard<std::mutex> lock(g_textStreamsLock);
    g_textStreams.emplace_back(stream, cookie);
    return stream;
}

int OpenFlags(const StreamMode& parsed) {
    int flags = O_CLOEXEC;
    flags |= parsed.read && parsed.write ? O_RDWR : (parsed.write ? O_WRONLY : O_RDONLY);
    if (parsed.create)
        flags |= O_CREAT;
    if (parsed.truncate)
        flags |= O_TRUNC;
    if (parsed.append)
        flags |= O_APPEND;
    return flags;
}

std::FILE* OpenStream(std::string_view windowsPath, const char* mode) {
    StreamMode parsed = ParseStreamMode(mode);
    if (!parsed.valid) {
        errno = EINVAL;
        return nullptr;
    }
    std::string hostPath = ToHostPath(windowsPath);
    int fd = ::open(hostPath.c_str(), OpenFlags(parsed), 0666);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return nullptr;
    }
    return StreamFromDescriptor(fd, parsed);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool WriteUntranslated(std::FILE* stream, std::string_view bytes) {
    if (bytes.empty())
        return true;
    TextCookie* cookie = FindTextCookie(stream);
    if (cookie == nullptr)
        return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    if (std::fflush(stream) != 0)
        return false;
    DropReadAhead(*cookie);
    return WriteAll(cookie->fd, bytes.data(), bytes.size());
}

bool EndFileHere(std::FILE* stream) {
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    TextCookie* cookie = FindTextCookie(stream);
    int fd = ::fileno(stream);
    if (cookie != nullptr) {
        DropReadAhead(*cookie);
        fd = cookie->fd;
    }
    const off_t end = fd >= 0 ? ::lseek(fd, 0, SEEK_CUR) : -1;
    return end >= 0 && ::ftruncate(fd, end) == 0;
}

bool LineReadKeepsPositions() {
    return true;
}

const char* LineReadMode() {
    return "rb";
}

bool FlushToDisk(std::FILE* stream, std::string_view windowsPath) {
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    if (InjectedFaultFor(HostCall::kFlushToDisk, windowsPath))
        return false;
    const TextCookie* cookie = FindTextCookie(stream);
    const int fd = cookie != nullptr ? cookie->fd : ::fileno(stream);
    return fd >= 0 && ::fdatasync(fd) == 0;
}

}  // namespace platform
