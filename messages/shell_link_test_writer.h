// A small writer of shortcut (.lnk) files for the tests.
//
// It lays the format out byte by byte on its own, sharing nothing with the
// reader, so that the tests check the reader against an independent picture
// of the format: header, target ID list, LinkInfo (ANSI and optionally the
// Unicode fields), string data and an environment-variable block.
#pragma once

#include <cstdint>
#include <string>

namespace testlink {

struct LinkLayout {
    bool withIdList = false;
    std::string idList = std::string(
        "\x14\x00\x1f\x50\xe0\x4f\xd0\x20\xea\x3a\x69\x10\xa2\xd8\x08\x00"
        "\x2b\x30\x30\x9d\x00\x00",
        22);
    bool withLinkInfo = true;
    bool forceNoLinkInfo = false;
    std::string localBasePath;  // ANSI forms; an empty one is left out
    std::string networkShare;
    std::string suffix;
    bool unicodeLinkInfo = false;  // also writes the Unicode forms below
    std::u16string localBasePathW;
    std::u16string networkShareW;
    std::u16string suffixW;
    bool unicodeStrings = true;  // IsUnicode: string data in UTF-16
    std::string name;            // string data; empty ones are left out
    std::string relativePath;
    std::string workingDir;
    bool withEnvironmentBlock = false;
    std::string environmentAnsi;
    std::u16string environmentWide;
    bool terminalBlock = true;
};

inline void Put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
inline void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}
inline void Set32(std::string& out, std::size_t at, std::uint32_t value) {
    std::string bytes;
    Put32(bytes, value);
    out.replace(at, 4, bytes);
}
inline void PutWideZ(std::string& out, const std::u16string& text) {
    for (char16_t unit : text) Put16(out, unit);
    Put16(out, 0);
}

inline std::string BuildLinkInfo(const LinkLayout& layout) {
    const std::uint32_t headerSize = layout.unicodeLinkInfo ? 0x24 : 0x1C;
    std::string info(headerSize, '\0');
    std::uint32_t flags = 0;
    if (!layout.localBasePath.empty() || !layout.localBasePathW.empty()) {
        flags |= 1;
        Set32(info, 12, static_cast<std::uint32_t>(info.size()));  // VolumeID
        Put32(info, 0x11);
        Put32(info, 3);  // fixed drive
        Put32(info, 0x1234ABCD);
        Put32(info, 0x10);
        info += '\0';
        Set32(info, 16, static_cast<std::uint32_t>(info.size()));
        info += layout.localBasePath;
        info += '\0';
    }
    if (!layout.networkShare.empty() || !layout.networkShareW.empty()) {
        flags |= 2;
        Set32(info, 20, static_cast<std::uint32_t>(info.size()));
        std::string net;
        const std::uint32_t fixed = layout.unicodeLinkInfo ? 0x1C : 0x14;
        Put32(net, 0);  // size, set below
        Put32(net, 0);  // no device name, no provider type
        Put32(net, fixed);
        Put32(net, 0);
        Put32(net, 0);
        if (layout.unicodeLinkInfo) {
            Put32(net, 0);  // set below
            Put32(net, 0);
        }
        net += layout.networkShare;
        net += '\0';
        if (layout.unicodeLinkInfo) {
            Set32(net, 0x14, static_cast<std::uint32_t>(net.size()));
            PutWideZ(net, layout.networkShareW);
        }
        Set32(net, 0, static_cast<std::uint32_t>(net.size()));
        info += net;
    }
    Set32(info, 24, static_cast<std::uint32_t>(info.size()));
    info += layout.suffix;
    info += '\0';
    if (layout.unicodeLinkInfo) {
        if (!layout.localBasePathW.empty()) {
            Set32(info, 28, static_cast<std::uint32_t>(info.size()));
            PutWideZ(info, layout.localBasePathW);
        }
        Set32(info, 32, static_cast<std::uint32_t>(info.size()));
        PutWideZ(info, layout.suffixW);
    }
    Set32(info, 0, static_cast<std::uint32_t>(info.size()));
    Set32(info, 4, headerSize);
    Set32(info, 8, flags);
    return info;
}

inline std::string BuildLink(const LinkLayout& layout) {
    const std::uint32_t flags =
        (layout.withIdList ? 0x1 : 0) | (layout.withLinkInfo ? 0x2 : 0) |
        (layout.name.empty() ? 0 : 0x4) | (layout.relativePath.empty() ? 0 : 0x8) |
        (layout.workingDir.empty() ? 0 : 0x10) | (layout.unicodeStrings ? 0x80 : 0) |
        (layout.forceNoLinkInfo ? 0x100 : 0);

    std::string out;
    Put32(out, 0x4C);
    out += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    Put32(out, flags);
    Put32(out, 0x20);                     // archive attribute
    out += std::string(24, '\0');         // three file times
    Put32(out, 1234);                     // file size
    Put32(out, 0);                        // icon index
    Put32(out, 1);                        // show normal
    out += std::string(2 + 2 + 8, '\0');  // hot key and reserved fields

    if (layout.withIdList) {
        Put16(out, static_cast<std::uint32_t>(layout.idList.size()));
        out += layout.idList;
    }
    if (layout.withLinkInfo)
        out += BuildLinkInfo(layout);
    for (const std::string* text : {&layout.name, &layout.relativePath, &layout.workingDir}) {
        if (text->empty())
            continue;
        Put16(out, static_cast<std::uint32_t>(text->size()));
        for (char ch : *text) {
            out += ch;
            if (layout.unicodeStrings)
                out += '\0';
        }
    }
    if (layout.withEnvironmentBlock) {
        Put32(out, 0x314);
        Put32(out, 0xA0000001);
        std::string ansi = layout.environmentAnsi;
        ansi.resize(260, '\0');
        out += ansi;
        std::string wide;
        for (char16_t unit : layout.environmentWide) Put16(wide, unit);
        wide.resize(520, '\0');
        out += wide;
    }
    if (layout.terminalBlock)
        Put32(out, 0);
    return out;
}

}  // namespace testlink
