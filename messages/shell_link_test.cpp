#include "messages/shell_link.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "messages/paths.h"
#include "messages/shell_link_test_writer.h"
#include "platform/codepage.h"
#include "platform/host_shell_link_testing.h"
#include "testsupport/temp_dir.h"

namespace {

using shelllink::ParseShellLink;
using shelllink::ShellLinkTarget;
using testlink::BuildLink;
using testlink::LinkLayout;

LinkLayout LocalLink(const std::string& path) {
    LinkLayout layout;
    layout.withIdList = true;
    layout.localBasePath = path;
    layout.name = "a job";
    layout.relativePath = ".\\f.txt";
    layout.workingDir = "C:\\data";
    return layout;
}

TEST(ShellLinkReader, LocalTargetsForFilesAndFolders) {
    EXPECT_EQ(ShellLinkTarget(BuildLink(LocalLink("C:\\data\\f.txt"))), "C:\\data\\f.txt");
    EXPECT_EQ(ShellLinkTarget(BuildLink(LocalLink("C:\\data\\jobs.d"))), "C:\\data\\jobs.d");

    // The base path and the suffix make the target together.
    LinkLayout split = LocalLink("C:\\data\\");
    split.suffix = "jobs\\f.txt";
    EXPECT_EQ(ShellLinkTarget(BuildLink(split)), "C:\\data\\jobs\\f.txt");
    split.localBasePath = "C:\\data";
    EXPECT_EQ(ShellLinkTarget(BuildLink(split)), "C:\\data\\jobs\\f.txt");
}

TEST(ShellLinkReader, StringDataIsReadInBothForms) {
    for (bool unicode : {true, false}) {
        LinkLayout layout = LocalLink("C:\\data\\f.txt");
        layout.unicodeStrings = unicode;
        auto link = ParseShellLink(BuildLink(layout));
        ASSERT_TRUE(link.has_value()) << unicode;
        EXPECT_EQ(link->name, "a job");
        EXPECT_EQ(link->relativePath, ".\\f.txt");
        EXPECT_EQ(link->workingDir, "C:\\data");
        EXPECT_EQ(link->Target(), "C:\\data\\f.txt");
    }
}

TEST(ShellLinkReader, NetworkShareComesFirst) {
    LinkLayout layout = LocalLink("Z:\\jobs\\a.txt");
    layout.networkShare = "\\\\server\\share";
    layout.suffix = "jobs\\a.txt";
    EXPECT_EQ(ShellLinkTarget(BuildLink(layout)), "\\\\server\\share\\jobs\\a.txt");

    // A link to the share itself has an empty suffix: no stray backslash.
    LinkLayout share;
    share.networkShare = "\\\\server\\share";
    EXPECT_EQ(ShellLinkTarget(BuildLink(share)), "\\\\server\\share");
}

TEST(ShellLinkReader, UnicodeFormsWinOverAnsiForms) {
    LinkLayout layout;
    layout.unicodeLinkInfo = true;
    layout.localBasePath = "C:\\DONNEES\\CAFE.TXT";
    layout.localBasePathW = u"C:\\Donn\u00e9es\\caf\u00e9.txt";
    layout.suffixW = u"";
    EXPECT_EQ(ShellLinkTarget(BuildLink(layout)),
              platform::WideToAnsi(u"C:\\Donn\u00e9es\\caf\u00e9.txt"));

    // A character the code page lacks comes back as "?", as the shell does.
    layout.localBasePathW = u"C:\\\u03a9\\f.txt";
    EXPECT_EQ(ShellLinkTarget(BuildLink(layout)), platform::WideToAnsi(u"C:\\\u03a9\\f.txt"));

    LinkLayout net;
    net.unicodeLinkInfo = true;
    net.networkShare = "\\\\SERVER\\PARTAGE";
    net.networkShareW = u"\\\\serveur\\partag\u00e9";
    net.suffix = "X";
    net.suffixW = u"r\u00e9sultats";
    EXPECT_EQ(ShellLinkTarget(BuildLink(net)),
              platform::WideToAnsi(u"\\\\serveur\\partag\u00e9\\r\u00e9sultats"));

    // ANSI-only links keep their bytes as they are.
    LinkLayout ansi;
    ansi.localBasePath =
        "C:\\Donn\xe9"
        "es\\f.txt";
    EXPECT_EQ(ShellLinkTarget(BuildLink(ansi)),
              "C:\\Donn\xe9"
              "es\\f.txt");
}

TEST(ShellLinkReader, EnvironmentBlockIsTheFallback) {
    LinkLayout layout;
    layout.withLinkInfo = false;
    layout.withIdList = true;
    layout.withEnvironmentBlock = true;
    layout.environmentAnsi = "%TORVANE%\\ansi.txt";
    layout.environmentWide = u"%TORVANE%\\wide.txt";
    EXPECT_EQ(ShellLinkTarget(BuildLink(layout)), "%TORVANE%\\wide.txt");
    layout.environmentWide.clear();
    EXPECT_EQ(ShellLinkTarget(BuildLink(layout)), "%TORVANE%\\ansi.txt");

    // A LinkInfo the link itself says to ignore does not count.
    layout.withLinkInfo = true;
    layout.forceNoLinkInfo = true;
    layout.localBasePath = "C:\\ignored.txt";
    EXPECT_EQ(ShellLinkTarget(BuildLink(layout)), "%TORVANE%\\ansi.txt");
    // With LinkInfo in force, its path wins over the block.
    layout.forceNoLinkInfo = false;
    EXPECT_EQ(ShellLinkTarget(BuildLink(layout)), "C:\\ignored.txt");

    LinkLayout nothing;
    nothing.withLinkInfo = false;
    nothing.withIdList = true;
    auto link = ParseShellLink(BuildLink(nothing));
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->Target(), "");
}

TEST(ShellLinkReader, RefusesWhatIsNotAShortcut) {
    std::string good = BuildLink(LocalLink("C:\\f.txt"));
    EXPECT_FALSE(ParseShellLink(""));
    EXPECT_FALSE(ParseShellLink("L\0\0\0"));
    std::string badSize = good;
    badSize[0] = 0x4D;
    EXPECT_FALSE(ParseShellLink(badSize));
    std::string badClsid = good;
    badClsid[4 + 15] = 0x47;
    EXPECT_FALSE(ParseShellLink(badClsid));
    EXPECT_FALSE(ParseShellLink(std::string(200, 'x')));
}

// Every prefix of a link reads either as nothing or as the whole target,
// never as a part of it.
TEST(ShellLinkReader, TruncatedLinksGiveNoTargetOrTheWholeOne) {
    LinkLayout net = LocalLink("Z:\\jobs\\a.txt");
    net.networkShare = "\\\\server\\share";
    net.suffix = "jobs\\a.txt";
    LinkLayout unicode;
    unicode.unicodeLinkInfo = true;
    unicode.localBasePathW = u"C:\\caf\u00e9\\f.txt";
    unicode.localBasePath = "C:\\CAFE\\F.TXT";
    LinkLayout env;
    env.withLinkInfo = false;
    env.withEnvironmentBlock = true;
    env.environmentAnsi = "%X%\\f.txt";
    for (const LinkLayout& layout : {LocalLink("C:\\data\\f.txt"), net, unicode, env}) {
        std::string bytes = BuildLink(layout);
        std::string whole = ShellLinkTarget(bytes);
        ASSERT_FALSE(whole.empty());
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            std::string got = ShellLinkTarget(std::string_view(bytes).substr(0, length));
            EXPECT_TRUE(got.empty() || got == whole) << "length " << length << ": " << got;
        }
        // Cut inside the LinkInfo or the string data: nothing at all.
        EXPECT_EQ(ShellLinkTarget(std::string_view(bytes).substr(0, 0x4C + 30)), "");
    }
}

TEST(ShellLinkReader, CorruptSizesAndOffsetsAreRefused) {
    LinkLayout layout = LocalLink("C:\\data\\f.txt");
    layout.withIdList = false;
    layout.name.clear();
    layout.relativePath.clear();
    layout.workingDir.clear();
    const std::string good = BuildLink(layout);
    const std::size_t info = 0x4C;  // LinkInfo right after the header
    auto with32 = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = good;
        testlink::Set32(bytes, at, value);
        return ShellLinkTarget(bytes);
    };
    EXPECT_EQ(with32(info, 0xFFFFFFFF), "");       // LinkInfo larger than the file
    EXPECT_EQ(with32(info, 8), "");                // smaller than its own header
    EXPECT_EQ(with32(info + 4, 0x1000), "");       // header larger than the LinkInfo
    EXPECT_EQ(with32(info + 16, 0xFFFFFFF0), "");  // local path far outside
    // The suffix's terminator overwritten: its string runs to the end of the
    // LinkInfo without one.
    std::string noZero = good;
    std::uint32_t infoSize = static_cast<unsigned char>(good[info]);
    noZero[info + infoSize - 1] = 'x';
    EXPECT_EQ(ShellLinkTarget(noZero), "");

    // An ID list claiming more bytes than the file has.
    LinkLayout withList = layout;
    withList.withIdList = true;
    std::string list = BuildLink(withList);
    list[0x4C] = '\xff';
    list[0x4D] = '\xff';
    EXPECT_EQ(ShellLinkTarget(list), "");

    // A network structure claiming to be larger than the LinkInfo.
    LinkLayout net;
    net.networkShare = "\\\\server\\share";
    std::string netBytes = BuildLink(net);
    std::uint32_t netOffset = static_cast<unsigned char>(netBytes[info + 20]);
    testlink::Set32(netBytes, info + netOffset, 0x400);
    EXPECT_EQ(ShellLinkTarget(netBytes), "");

    // A damaged extra-data block after a whole LinkInfo keeps the target.
    std::string extra = good.substr(0, good.size() - 4);
    testlink::Put32(extra, 0x314);
    testlink::Put32(extra, 0xA0000001);
    extra += "%X%";
    EXPECT_EQ(ShellLinkTarget(extra), "C:\\data\\f.txt");
}

TEST(ShellLinkReader, ReadsFilesAndRefusesOversizedOnes) {
    testsupport::TempDir dir;
    std::string bytes = BuildLink(LocalLink("C:\\data\\f.txt"));
    testsupport::WriteBytes(dir.path() / "a.lnk", bytes);
    EXPECT_EQ(shelllink::ReadShellLinkTarget(dir.File("a.lnk")), "C:\\data\\f.txt");
    EXPECT_EQ(shelllink::ReadShellLinkTarget(dir.File("missing.lnk")), "");
    EXPECT_EQ(shelllink::ReadShellLinkTarget(dir.path().string()), "");  // a folder

    bytes.resize(shelllink::kMaxShellLinkFileSize + 1, '\0');
    testsupport::WriteBytes(dir.path() / "big.lnk", bytes);
    EXPECT_EQ(shelllink::ReadShellLinkTarget(dir.File("big.lnk")), "");
}

// Written once by Wine's shell-link component (IShellLinkA::SetPath, then
// IPersistFile::Save), whose GetPath gave back the same targets: checks the
// reader on host-written links on every host. Wine stores a UNC target as a
// local base path. (The files lie beside this source file.)
TEST(ShellLinkReader, ReadsLinksWrittenByTheHostShell) {
    const std::pair<const char*, const char*> fixtures[] = {
        {"wine_notepad.lnk", "C:\\windows\\system32\\notepad.exe"},
        {"wine_unc.lnk", "\\\\server\\share\\jobs\\a.txt"},
    };
    for (const auto& [file, target] : fixtures) {
        auto fixture = std::filesystem::path(__FILE__).parent_path() / "testdata" / file;
        std::string bytes = testsupport::ReadBytes(fixture);
        ASSERT_FALSE(bytes.empty()) << fixture;
        auto link = ParseShellLink(bytes);
        ASSERT_TRUE(link.has_value()) << file;
        EXPECT_TRUE(link->hasLinkInfo) << file;
        EXPECT_EQ(link->Target(), target);
    }
}

// Where the host has a shell-link component (Windows, Wine), links it writes
// read the same through the system's reader as through the component.
TEST(ShellLinkReader, AgreesWithTheHostShellLinkComponent) {
    if (!platform::HostShellLinkAvailable())
        GTEST_SKIP() << "this host has no shell-link component";
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.path() / "sub dir");
    testsupport::WriteBytes(dir.path() / "sub dir" / "target file.txt", "from the host link");
    const std::string targets[] = {
        (dir.path() / "sub dir" / "target file.txt").string(), (dir.path() / "sub dir").string(),
        "\\\\server\\share\\jobs\\a.txt",
        dir.path().string() + "\\caf\xe9 cr\xe8me.txt",  // ANSI bytes, joined by hand
    };
    for (const std::string& target : targets) {
        std::string link = (dir.path() / "made by host.lnk").string();
        ASSERT_TRUE(platform::HostWriteShellLink(link, target)) << target;
        auto hostSays = platform::HostShellLinkPath(link);
        ASSERT_TRUE(hostSays.has_value()) << target;
        EXPECT_FALSE(hostSays->empty());
        EXPECT_EQ(shelllink::ReadShellLinkTarget(link), *hostSays) << target;
    }

    // And the opens follow such a link.
    std::string beside = (dir.path() / "job.txt.lnk").string();
    ASSERT_TRUE(platform::HostWriteShellLink(beside, targets[0]));
    std::FILE* stream = OpenFileWide((dir.path() / "job.txt").string(), "rb");
    ASSERT_NE(stream, nullptr);
    char text[64] = {};
    std::fread(text, 1, sizeof text - 1, stream);
    std::fclose(stream);
    EXPECT_STREQ(text, "from the host link");
}

}  // namespace
