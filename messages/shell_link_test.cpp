#include "messages/shell_link.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "messages/shell_link_test_writer.h"
#include "platform/codepage.h"
#include "platform/host_shell_link_testing.h"
#include "testsupport/temp_dir.h"

namespace {

using shelllink::ParseShellLink;
using shelllink::ShellLinkTarget;
using testlink::BuildLink;
using testlink::LinkLayout;

struct TargetCase {
    const char* what;
    LinkLayout layout;
    std::string target;
};

// Every prefix of a link reads as nothing or as the whole target, never a part of it.
TEST(ShellLinkReader, TargetsOfWholeAndTruncatedLinks) {
    const std::string share = "\\\\srv\\share";
    const std::string ansi = "C:\\caf\xe9";
    const std::u16string wide = u"C:\\Donn\u00e9es\\caf\u00e9.txt";
    const TargetCase cases[] = {
        {"file, after an ID list; string data after it",
         {.withIdList = true, .localBasePath = "C:\\d\\f", .name = "n", .workingDir = "C:\\d"},
         "C:\\d\\f"},
        {"base\\ and suffix", {.localBasePath = "C:\\d\\", .suffix = "j\\f"}, "C:\\d\\j\\f"},
        {"base and suffix", {.localBasePath = "C:\\d", .suffix = "j\\f"}, "C:\\d\\j\\f"},
        {"share first",
         {.withIdList = true, .localBasePath = "Z:\\j\\a", .networkShare = share, .suffix = "j\\a"},
         share + "\\j\\a"},
        {"the share itself: no stray backslash", {.networkShare = share}, share},
        {"Unicode first",
         {.localBasePath = "C:\\X", .localBasePathW = wide},
         platform::WideToAnsi(wide)},
        {"Unicode share and suffix",
         {.networkShare = "\\\\S", .suffix = "X", .networkShareW = u"\\\\\xe9", .suffixW = u"\xe9"},
         platform::WideToAnsi(u"\\\\\xe9\\\xe9")},
        {"ANSI bytes kept as they are", {.localBasePath = ansi}, ansi},
        {"environment block after UTF-16 string data, wide form first",
         {.withLinkInfo = false, .name = "n", .environmentAnsi = "%A%", .environmentWide = u"%W%"},
         "%W%"},
        {"environment block after ANSI string data, ANSI form",
         {.withLinkInfo = false, .unicodeStrings = false, .name = "n", .environmentAnsi = "%T%\\a"},
         "%T%\\a"},
        {"a LinkInfo the header says to ignore",
         {.forceNoLinkInfo = true, .localBasePath = "C:\\i", .environmentAnsi = "%T%\\a"},
         "%T%\\a"},
        {"LinkInfo over the environment block",
         {.localBasePath = "C:\\i", .environmentAnsi = "%T%\\a"},
         "C:\\i"},
    };
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bytes = BuildLink(c.layout);
        ASSERT_EQ(ShellLinkTarget(bytes), c.target);
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            std::string got = ShellLinkTarget(std::string_view(bytes).substr(0, length));
            ASSERT_TRUE(got.empty() || got == c.target) << "length " << length << ": " << got;
        }
    }
}

// `bytes` with the 32-bit field at `at` set to `value`.
std::string With32(std::string bytes, std::size_t at, std::uint32_t value) {
    testlink::Set32(bytes, at, value);
    return bytes;
}

TEST(ShellLinkReader, RefusesWhatIsNotAShortcutAndCorruptSizesAndOffsets) {
    const std::string good = BuildLink({.localBasePath = "C:\\data\\f.txt"});
    const std::size_t info = 0x4C;                               // LinkInfo right after the header
    EXPECT_FALSE(ParseShellLink(With32(good, 0, 0x4D)));         // header size
    EXPECT_FALSE(ParseShellLink(With32(good, 16, 0x47000000)));  // class identifier
    EXPECT_EQ(ShellLinkTarget(With32(good, info, 0xFFFFFFFF)), "");       // larger than the file
    EXPECT_EQ(ShellLinkTarget(With32(good, info, 8)), "");                // smaller than its header
    EXPECT_EQ(ShellLinkTarget(With32(good, info + 4, 0x1000)), "");       // header too large
    EXPECT_EQ(ShellLinkTarget(With32(good, info + 16, 0xFFFFFFF0)), "");  // path far outside
    // The suffix's terminator overwritten: the string runs to the end of the LinkInfo.
    std::string noZero = good;
    noZero[info + static_cast<unsigned char>(good[info]) - 1] = 'x';
    EXPECT_EQ(ShellLinkTarget(noZero), "");

    std::string list = BuildLink({.withIdList = true, .localBasePath = "C:\\f.txt"});
    list[0x4C] = '\xff';  // an ID list claiming more bytes than the file has
    list[0x4D] = '\xff';
    EXPECT_EQ(ShellLinkTarget(list), "");

    std::string net = BuildLink({.networkShare = "\\\\server\\share"});
    std::uint32_t netOffset = static_cast<unsigned char>(net[info + 20]);
    EXPECT_EQ(ShellLinkTarget(With32(net, info + netOffset, 0x400)), "");  // beyond the LinkInfo

    // A damaged extra-data block after a whole LinkInfo keeps the target.
    std::string extra = good.substr(0, good.size() - 4);
    testlink::Put(extra, 0x314);
    testlink::Put(extra, 0xA0000001);
    EXPECT_EQ(ShellLinkTarget(extra + "%X%"), "C:\\data\\f.txt");

    // A link without LinkInfo or environment block is read, with no target.
    auto nothing = ParseShellLink(BuildLink({.withIdList = true, .withLinkInfo = false}));
    ASSERT_TRUE(nothing.has_value());
    EXPECT_EQ(nothing->Target(), "");
}

// Links the host's shell-link component (Windows, Wine) writes read the same through it.
TEST(ShellLinkReader, AgreesWithTheHostShellLinkComponent) {
    if (!platform::HostShellLinkAvailable())
        GTEST_SKIP() << "this host has no shell-link component";
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.path() / "sub dir");
    testsupport::WriteBytes(dir.path() / "sub dir" / "target file.txt", "x");
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
}

}  // namespace
