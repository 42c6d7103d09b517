#include "messages/shell_link.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/file_stream.h"

namespace shelllink {
namespace {

// Link flags of the header.
constexpr std::uint32_t kHasLinkTargetIdList = 0x1;
constexpr std::uint32_t kHasLinkInfo = 0x2;
constexpr std::uint32_t kHasName = 0x4;
constexpr std::uint32_t kHasRelativePath = 0x8;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kForceNoLinkInfo = 0x100;

// LinkInfo flags.
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x1;
constexpr std::uint32_t kCommonNetworkRelativeLink = 0x2;

constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kEnvironmentBlockSignature = 0xA0000001;
constexpr std::size_t kEnvironmentBlockSize = 0x314;

// A bounded view of part of the file: every read is checked against the
// view's own end, so a structure cannot be read past its declared size.
class Bytes {
  public:
    explicit Bytes(std::string_view data) : m_data(data) {}

    std::size_t size() const { return m_data.size(); }

    bool U16(std::size_t offset, std::uint32_t& value) const {
        if (offset > m_data.size() || m_data.size() - offset < 2)
            return false;
        value = Byte(offset) | (Byte(offset + 1) << 8);
        return true;
    }
    bool U32(std::size_t offset, std::uint32_t& value) const {
        if (offset > m_data.size() || m_data.size() - offset < 4)
            return false;
        value = Byte(offset) | (Byte(offset + 1) << 8) | (Byte(offset + 2) << 16) |
                (Byte(offset + 3) << 24);
        return true;
    }
    // The sub-view [offset, offset + length), or nullopt when it does not fit.
    std::optional<Bytes> Sub(std::size_t offset, std::size_t length) const {
        if (offset > m_data.size() || m_data.size() - offset < length)
            return std::nullopt;
        return Bytes(m_data.substr(offset, length));
    }
    // A zero-terminated ANSI string starting at offset; the terminator must
    // lie inside the view.
    bool AnsiZ(std::size_t offset, std::string& out) const {
        if (offset >= m_data.size())
            return false;
        std::size_t end = m_data.find('\0', offset);
        if (end == std::string_view::npos)
            return false;
        out.assign(m_data.substr(offset, end - offset));
        return true;
    }
    // A zero-terminated UTF-16LE string starting at offset, given in ANSI.
    bool UnicodeZ(std::size_t offset, std::string& out) const {
        std::u16string wide;
        for (std::size_t at = offset;; at += 2) {
            std::uint32_t unit = 0;
            if (!U16(at, unit))
                return false;
            if (unit == 0)
                break;
            wide += static_cast<char16_t>(unit);
        }
        out = platform::WideToAnsi(wide);
        return true;
    }
    // `count` characters (not terminated) of one byte or two each.
    bool Counted(std::size_t offset, std::size_t count, bool unicode, std::string& out) const {
        std::size_t bytes = unicode ? count * 2 : count;
        auto part = Sub(offset, bytes);
        if (!part)
            return false;
        if (!unicode) {
            out.assign(part->m_data);
            return true;
        }
        std::u16string wide;
        wide.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            std::uint32_t unit = 0;
            part->U16(i * 2, unit);
            wide += static_cast<char16_t>(unit);
        }
        out = platform::WideToAnsi(wide);
        return true;
    }
    // A fixed-size field holding a zero-terminated string; a field without a
    // terminator is taken whole.
    std::string FixedAnsi(std::size_t offset, std::size_t length) const {
        auto part = Sub(offset, length);
        if (!part)
            return std::string();
        std::string_view text = part->m_data;
        return std::string(text.substr(0, text.find('\0')));
    }
    std::string FixedUnicode(std::size_t offset, std::size_t length) const {
        auto part = Sub(offset, length);
        if (!part)
            return std::string();
        std::u16string wide;
        for (std::size_t at = 0; at + 1 < length; at += 2) {
            std::uint32_t unit = 0;
            part->U16(at, unit);
            if (unit == 0)
                break;
            wide += static_cast<char16_t>(unit);
        }
        return platform::WideToAnsi(wide);
    }
    bool StartsWith(const unsigned char* expected, std::size_t offset, std::size_t length) const {
        auto part = Sub(offset, length);
        return part && std::memcmp(part->m_data.data(), expected, length) == 0;
    }

  private:
    std::uint32_t Byte(std::size_t offset) const {
        return static_cast<unsigned char>(m_data[offset]);
    }
    std::string_view m_data;
};

// The CommonNetworkRelativeLink structure: only the share name is used.
bool ParseNetworkLink(const Bytes& link, ShellLinkData& out) {
    std::uint32_t size = 0, netNameOffset = 0;
    if (!link.U32(0, size) || size < 0x14 || size > link.size())
        return false;
    Bytes net = *link.Sub(0, size);
    if (!net.U32(8, netNameOffset))
        return false;
    // A share-name offset beyond the fixed part announces the Unicode offsets.
    if (netNameOffset > 0x14) {
        std::uint32_t unicodeOffset = 0;
        if (!net.U32(0x14, unicodeOffset))
            return false;
        if (unicodeOffset != 0)
            return net.UnicodeZ(unicodeOffset, out.networkShareName);
    }
    return net.AnsiZ(netNameOffset, out.networkShareName);
}

bool ParseLinkInfo(const Bytes& info, ShellLinkData& out) {
    std::uint32_t headerSize = 0, flags = 0, localOffset = 0, netOffset = 0, suffixOffset = 0;
    if (!info.U32(4, headerSize) || headerSize < 0x1C || headerSize > info.size())
        return false;
    info.U32(8, flags);
    info.U32(16, localOffset);
    info.U32(20, netOffset);
    info.U32(24, suffixOffset);
    std::uint32_t localOffsetUnicode = 0, suffixOffsetUnicode = 0;
    if (headerSize >= 0x24) {
        info.U32(28, localOffsetUnicode);
        info.U32(32, suffixOffsetUnicode);
    }
    out.hasLinkInfo = true;

    if (flags & kVolumeIdAndLocalBasePath) {
        bool ok = localOffsetUnicode != 0 ? info.UnicodeZ(localOffsetUnicode, out.localBasePath)
                                          : info.AnsiZ(localOffset, out.localBasePath);
        if (!ok)
            return false;
    }
    if (flags & kCommonNetworkRelativeLink) {
        auto net = info.Sub(netOffset, info.size() - std::min<std::size_t>(netOffset, info.size()));
        if (!net || !ParseNetworkLink(*net, out))
            return false;
    }
    if (suffixOffsetUnicode != 0)
        return info.UnicodeZ(suffixOffsetUnicode, out.commonPathSuffix);
    if (suffixOffset != 0)
        return info.AnsiZ(suffixOffset, out.commonPathSuffix);
    return true;
}

// Joins two parts of a path with exactly the backslash the parts lack.
std::string JoinPath(const std::string& head, const std::string& tail) {
    if (head.empty() || tail.empty())
        return head + tail;
    if (head.back() == '\\' || tail.front() == '\\')
        return head + tail;
    return head + "\\" + tail;
}

}  // namespace

std::string ShellLinkData::Target() const {
    if (!networkShareName.empty())
        return JoinPath(networkShareName, commonPathSuffix);
    if (!localBasePath.empty())
        return JoinPath(localBasePath, commonPathSuffix);
    return environmentTarget;
}

std::optional<ShellLinkData> ParseShellLink(std::string_view data) {
    Bytes file(data);
    std::uint32_t headerSize = 0, flags = 0;
    if (!file.U32(0, headerSize) || headerSize != kHeaderSize || file.size() < kHeaderSize)
        return std::nullopt;
    if (!file.StartsWith(kLinkClsid, 4, sizeof kLinkClsid))
        return std::nullopt;
    file.U32(20, flags);
    ShellLinkData out;
    std::size_t pos = kHeaderSize;

    if (flags & kHasLinkTargetIdList) {
        std::uint32_t idListSize = 0;
        if (!file.U16(pos, idListSize) || !file.Sub(pos + 2, idListSize))
            return std::nullopt;
        pos += 2 + idListSize;
    }

    if (flags & kHasLinkInfo) {
        std::uint32_t infoSize = 0;
        if (!file.U32(pos, infoSize) || infoSize < 0x1C)
            return std::nullopt;
        auto info = file.Sub(pos, infoSize);
        if (!info)
            return std::nullopt;
        // A link that says its LinkInfo is to be ignored still carries it.
        if (!(flags & kForceNoLinkInfo) && !ParseLinkInfo(*info, out))
            return std::nullopt;
        pos += infoSize;
    }

    const bool unicode = (flags & kIsUnicode) != 0;
    const std::pair<std::uint32_t, std::string*> strings[] = {
        {kHasName, &out.name},
        {kHasRelativePath, &out.relativePath},
        {kHasWorkingDir, &out.workingDir},
        {kHasArguments, &out.arguments},
        {kHasIconLocation, &out.iconLocation},
    };
    for (const auto& [flag, target] : strings) {
        if (!(flags & flag))
            continue;
        std::uint32_t count = 0;
        if (!file.U16(pos, count) || !file.Counted(pos + 2, count, unicode, *target))
            return std::nullopt;
        pos += 2 + (unicode ? 2 * count : count);
    }

    // Extra data: blocks of (size, signature, body) up to a block of size
    // below 4. Damage here ends the scan but keeps what was read before: the
    // blocks are optional additions to a link that is already whole.
    for (;;) {
        std::uint32_t blockSize = 0, signature = 0;
        if (!file.U32(pos, blockSize) || blockSize < 8 || !file.Sub(pos, blockSize))
            break;
        file.U32(pos + 4, signature);
        if (signature == kEnvironmentBlockSignature && blockSize >= kEnvironmentBlockSize) {
            Bytes block = *file.Sub(pos, blockSize);
            std::string wide = block.FixedUnicode(8 + 260, 520);
            out.environmentTarget = !wide.empty() ? wide : block.FixedAnsi(8, 260);
        }
        pos += blockSize;
    }
    return out;
}

std::string ShellLinkTarget(std::string_view bytes) {
    auto link = ParseShellLink(bytes);
    return link ? link->Target() : std::string();
}

std::string ReadShellLinkTarget(std::string_view windowsPath) {
    std::FILE* stream = platform::OpenStream(windowsPath, "rb");
    if (stream == nullptr)
        return std::string();
    std::string bytes;
    char chunk[4096];
    bool tooLarge = false;
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) {
        bytes.append(chunk, got);
        if (bytes.size() > kMaxShellLinkFileSize) {
            tooLarge = true;
            break;
        }
    }
    bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    if (tooLarge || failed)
        return std::string();
    return ShellLinkTarget(bytes);
}

}  // namespace shelllink
