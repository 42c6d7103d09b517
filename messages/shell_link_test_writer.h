// A writer of shortcut (.lnk) files for the tests, laying the format out byte
// by byte and sharing nothing with the reader, so that the tests check the
// reader against an independent picture of the format.
#pragma once

#include <cstdint>
#include <string>

namespace testlink {

struct LinkLayout {
    bool withIdList = false;
    bool withLinkInfo = true;
    bool forceNoLinkInfo = false;    // the header says to ignore the LinkInfo
    std::string localBasePath = {};  // ANSI forms; an empty one is left out
    std::string networkShare = {};
    std::string suffix = {};
    std::u16string localBasePathW = {};  // Unicode forms: any of them makes
    std::u16string networkShareW = {};   // the LinkInfo the longer, Unicode one
    std::u16string suffixW = {};
    bool unicodeStrings = true;  // IsUnicode: string data in UTF-16
    std::string name = {};       // string data; empty ones are left out
    std::string workingDir = {};
    std::string environmentAnsi = {};  // an environment block when either is given
    std::u16string environmentWide = {};
};

inline void Put(std::string& out, std::uint32_t value, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
inline void Set32(std::string& out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
// Stores the current length of `out` as the offset field at `at`.
inline void SetOffset(std::string& out, std::size_t at) {
    Set32(out, at, static_cast<std::uint32_t>(out.size()));
}
inline void PutWideZ(std::string& out, const std::u16string& text) {
    for (char16_t unit : text + u'\0') Put(out, unit, 2);
}

inline std::string BuildLinkInfo(const LinkLayout& layout) {
    const bool unicode =
        !layout.localBasePathW.empty() || !layout.networkShareW.empty() || !layout.suffixW.empty();
    std::string info(unicode ? 0x24 : 0x1C, '\0');
    std::uint32_t flags = 0;
    if (!layout.localBasePath.empty() || !layout.localBasePathW.empty()) {
        flags |= 1;
        SetOffset(info, 12);  // VolumeID: fixed drive, serial number, empty label
        info += std::string("\x11\0\0\0\x03\0\0\0\xCD\xAB\x34\x12\x10\0\0\0\0", 17);
        SetOffset(info, 16);
        info += layout.localBasePath + '\0';
    }
    if (!layout.networkShare.empty() || !layout.networkShareW.empty()) {
        flags |= 2;
        SetOffset(info, 20);
        std::string net;
        net += std::string(8, '\0');      // size (set below), flags
        Put(net, unicode ? 0x1C : 0x14);  // the share name after the fixed fields
        net += std::string(unicode ? 16 : 8, '\0');
        net += layout.networkShare + '\0';
        if (unicode) {
            SetOffset(net, 0x14);
            PutWideZ(net, layout.networkShareW);
        }
        SetOffset(net, 0);
        info += net;
    }
    SetOffset(info, 24);
    info += layout.suffix + '\0';
    if (unicode) {
        if (!layout.localBasePathW.empty()) {
            SetOffset(info, 28);
            PutWideZ(info, layout.localBasePathW);
        }
        SetOffset(info, 32);
        PutWideZ(info, layout.suffixW);
    }
    SetOffset(info, 0);
    Set32(info, 4, unicode ? 0x24 : 0x1C);
    Set32(info, 8, flags);
    return info;
}

inline std::string BuildLink(const LinkLayout& layout) {
    const std::uint32_t flags =
        (layout.withIdList ? 0x1 : 0) | (layout.withLinkInfo ? 0x2 : 0) |
        (layout.name.empty() ? 0 : 0x4) | (layout.workingDir.empty() ? 0 : 0x10) |
        (layout.unicodeStrings ? 0x80 : 0) | (layout.forceNoLinkInfo ? 0x100 : 0);

    std::string out;
    Put(out, 0x4C);
    out += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    Put(out, flags);
    Put(out, 0x20);                        // archive attribute
    out += std::string(24 + 4 + 4, '\0');  // file times, size, icon index
    Put(out, 1);                           // show normal
    out += std::string(2 + 2 + 8, '\0');   // hot key and reserved fields

    if (layout.withIdList)  // its size, one item of three bytes, the terminator
        out += std::string("\x05\x00\x03\x00x\x00\x00", 7);
    if (layout.withLinkInfo)
        out += BuildLinkInfo(layout);
    for (const std::string* text : {&layout.name, &layout.workingDir}) {
        if (text->empty())
            continue;
        Put(out, static_cast<std::uint32_t>(text->size()), 2);
        for (char ch : *text)
            Put(out, static_cast<unsigned char>(ch), layout.unicodeStrings ? 2 : 1);
    }
    if (!layout.environmentAnsi.empty() || !layout.environmentWide.empty()) {
        Put(out, 0x314);
        Put(out, 0xA0000001);
        out += layout.environmentAnsi + std::string(260 - layout.environmentAnsi.size(), '\0');
        for (std::size_t i = 0; i < 260; ++i)
            Put(out, i < layout.environmentWide.size() ? layout.environmentWide[i] : 0, 2);
    }
    Put(out, 0);  // the terminal block
    return out;
}

}  // namespace testlink
