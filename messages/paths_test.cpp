#include "messages/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "messages/shell_link_test_writer.h"
#include "platform/codepage.h"
#include "platform/file_stream.h"
#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// The Windows form of a test folder, as the system's own paths look: the
// path rules only know backslashes.
CString Win(const std::filesystem::path& path) {
    std::string text = path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return CString(text);
}

void WriteLink(const std::filesystem::path& at, const CString& target) {
    testlink::LinkLayout layout;
    layout.withIdList = true;
    layout.localBasePath = target.str();
    WriteBytes(at, testlink::BuildLink(layout));
}

std::string ReadText(std::FILE* stream) {
    if (stream == nullptr)
        return "<not opened>";
    std::string text;
    for (int ch; (ch = std::fgetc(stream)) != EOF;) text += static_cast<char>(ch);
    std::fclose(stream);
    return text;
}

TEST(SplitPath, BackslashAndColonSeparate) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
    } cases[] = {
        {"C:\\a\\b\\f.txt", "C:\\a\\b", "f.txt"},
        {"C:f.txt", "C:", "f.txt"},
        {"f.txt", "", "f.txt"},
        {"C:\\a\\", "C:\\a", ""},
        {"C:\\f.txt", "C:", "f.txt"},
        {"\\\\server\\share\\f.txt", "\\\\server\\share", "f.txt"},
        {"C:\\a\\b/c.txt", "C:\\a", "b/c.txt"},  // a forward slash is ordinary here
        {"a/b/c.txt", "", "a/b/c.txt"},
        {"C:\\v1.2\\job", "C:\\v1.2", "job"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        CString folder = "junk", name = "junk";
        SplitPath(c.path, &folder, &name);
        EXPECT_EQ(folder, c.folder) << c.path;
        EXPECT_EQ(name, c.name) << c.path;
        EXPECT_EQ(GetFolderPart(c.path), c.folder) << c.path;
        EXPECT_EQ(GetNamePart(c.path), c.name) << c.path;
    }
    CString name;
    SplitPath("C:\\a\\f.txt", nullptr, &name);  // either part may be left out
    EXPECT_EQ(name, "f.txt");
}

TEST(SplitPath, PathsBeyondTheBuffersAreRefused) {
    CString longest = "C:\\" + CString(std::string(kMaxPathPart - 3 - 4, 'a')) + "\\f.x";
    ASSERT_EQ(longest.GetLength(), kMaxPathPart);
    EXPECT_EQ(GetNamePart(longest), "f.x");
    EXPECT_EQ(GetFolderPart(longest).GetLength(), kMaxPathPart - 4);

    CString tooLong = longest + "y";
    CString folder = "junk", name = "junk";
    SplitPath(tooLong, &folder, &name);
    EXPECT_EQ(folder, "");
    EXPECT_EQ(name, "");
    // With no folder to look at, a long path is left as it is.
    EXPECT_EQ(ResolveLinkedPath(tooLong), tooLong);
}

TEST(Extensions, LastDotForGetFirstDotForChange) {
    EXPECT_EQ(GetExtension("C:\\a\\f.TXT", true), "TXT");
    EXPECT_EQ(GetExtension("C:\\a\\f.TXT", false), ".TXT");
    EXPECT_EQ(GetExtension("C:\\a\\f", true), "");
    EXPECT_EQ(GetExtension("C:\\a\\f", false), "");
    EXPECT_EQ(GetExtension("C:\\a\\f.tar.gz", true), "gz");
    // A dot in a folder name counts for both, in opposite directions.
    EXPECT_EQ(GetExtension("C:\\w.1\\job", true), "1\\job");
    EXPECT_EQ(ChangeExtension("C:\\w.1\\job.bat", "log"), "C:\\w.log");

    EXPECT_EQ(ChangeExtension("C:\\w\\job.bat", "log"), "C:\\w\\job.log");
    EXPECT_EQ(ChangeExtension("C:\\w\\job", ".log"), "C:\\w\\job.log");
    EXPECT_EQ(ChangeExtension("C:\\w\\job.tar.gz", "log"), "C:\\w\\job.log");
}

TEST(Extensions, ShortcutNameTests) {
    EXPECT_TRUE(IsShortcutName("x.lnk"));
    EXPECT_TRUE(IsShortcutName("X.LNK"));
    EXPECT_TRUE(IsShortcutName("C:\\a\\x.Lnk"));
    EXPECT_FALSE(IsShortcutName("C:\\a\\x.lnk.txt"));
    EXPECT_FALSE(IsShortcutName("C:\\a\\lnk"));
    // The strict test of the linked opens looks only at the last component
    // (a forward slash separates there) and only at lower case.
    EXPECT_FALSE(HasShortcutExtension("C:\\d.lnk\\x"));
    EXPECT_TRUE(HasShortcutExtension("C:\\a\\x.lnk"));
    EXPECT_TRUE(HasShortcutExtension("C:\\a/x.lnk"));
    EXPECT_FALSE(HasShortcutExtension("C:\\a\\X.LNK"));
    EXPECT_FALSE(HasShortcutExtension("C:\\a\\lnk"));
}

TEST(TrailingBackslash, AddAndRemove) {
    struct Case {
        const char* path;
        const char* with;
        const char* without;
    } cases[] = {
        {"C:\\\\data", "C:\\data\\", "C:\\data"},
        {"\\\\server\\share", "\\\\server\\share\\", "\\\\server\\share"},
        {"C:\\data\\", "C:\\data\\", "C:\\data"},
        {"C:\\", "C:\\", "C:"},
        {"\\data", "\\\\data\\", "\\\\data"},  // one leading backslash becomes two
        {"C:\\\\\\\\a\\\\\\b", "C:\\\\a\\\\b\\", "C:\\\\a\\\\b"},  // one pass only
        {"C:/data/", "C:/data/\\", "C:/data/"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        CString with = c.path, without = c.path;
        EXPECT_EQ(WithTrailingBackslash(with), c.with) << c.path;
        EXPECT_EQ(with, c.with) << c.path;  // changed in place
        EXPECT_EQ(WithoutTrailingBackslash(without), c.without) << c.path;
        EXPECT_EQ(without, c.without) << c.path;
    }
}

TEST(FileExists, OnlyReadableFiles) {
    TempDir dir;
    WriteBytes(dir.path() / "f.txt", "x");
    EXPECT_TRUE(FileExists(Win(dir.path() / "f.txt")));
    EXPECT_FALSE(FileExists(Win(dir.path() / "g.txt")));
    EXPECT_FALSE(FileExists(Win(dir.path())));  // a folder
    EXPECT_FALSE(FileExists(""));
}

TEST(ResolveShortcut, FollowsOneLevel) {
    TempDir dir;
    WriteLink(dir.path() / "a.lnk", "D:\\real\\b.lnk");
    EXPECT_EQ(ResolveShortcut(Win(dir.path() / "a.lnk")), "D:\\real\\b.lnk");
    EXPECT_EQ(ResolveShortcut(Win(dir.path() / "missing.lnk")), "");
    EXPECT_EQ(ResolveShortcut(""), "");
    WriteBytes(dir.path() / "bad.lnk", "not a shortcut");
    EXPECT_EQ(ResolveShortcut(Win(dir.path() / "bad.lnk")), "");

    // The shell reports targets through a 260-character buffer.
    CString fits = "C:\\" + CString(std::string(256, 'a'));
    ASSERT_EQ(fits.GetLength(), 259);
    WriteLink(dir.path() / "fits.lnk", fits);
    EXPECT_EQ(ResolveShortcut(Win(dir.path() / "fits.lnk")), fits);
    WriteLink(dir.path() / "long.lnk", fits + "a");
    EXPECT_EQ(ResolveShortcut(Win(dir.path() / "long.lnk")), "");
}

TEST(ResolveLinkedPath, FileShortcutsAndFolderShortcuts) {
    TempDir dir;
    CString root = Win(dir.path());
    // Only root\a.lnk exists, pointing at D:\real.
    WriteLink(dir.path() / "a.lnk", "D:\\real");
    EXPECT_EQ(ResolveLinkedPath(root + "\\a\\b\\f.txt"), "D:\\real\\b\\f.txt");
    EXPECT_EQ(ResolveLinkedPath(root + "\\a\\f.txt"), "D:\\real\\f.txt");
    EXPECT_EQ(ResolveLinkedPath(root + "\\a"), "D:\\real");  // the path + .lnk
    // A path that exists, or that has no shortcut anywhere, is left alone.
    WriteBytes(dir.path() / "here.txt", "x");
    EXPECT_EQ(ResolveLinkedPath(root + "\\here.txt"), root + "\\here.txt");
    EXPECT_EQ(ResolveLinkedPath(root + "\\x\\y.txt"), root + "\\x\\y.txt");

    // A shortcut for the file itself, named with or without .lnk.
    WriteLink(dir.path() / "job.txt.lnk", "D:\\jobs\\job.txt");
    EXPECT_EQ(ResolveLinkedPath(root + "\\job.txt"), "D:\\jobs\\job.txt");
    // A shortcut that exists is a file like any other: it is not followed,
    // and a missing one gets no second .lnk.
    EXPECT_EQ(ResolveLinkedPath(root + "\\job.txt.lnk"), root + "\\job.txt.lnk");
    WriteLink(dir.path() / "nope.lnk.lnk", "D:\\wrong");
    EXPECT_EQ(ResolveLinkedPath(root + "\\nope.lnk"), root + "\\nope.lnk");

    // The deepest folder with a shortcut wins; only one shortcut is followed.
    std::filesystem::create_directories(dir.path() / "p" / "q");
    WriteLink(dir.path() / "p.lnk", "D:\\outer");
    WriteLink(dir.path() / "p" / "q" / "r.lnk", "D:\\inner");
    EXPECT_EQ(ResolveLinkedPath(root + "\\p\\q\\r\\s\\f.txt"), "D:\\inner\\s\\f.txt");
    EXPECT_EQ(ResolveLinkedPath(root + "\\p\\z\\f.txt"), "D:\\outer\\z\\f.txt");

    // A deepest folder shortcut that cannot be read leaves the path alone.
    WriteBytes(dir.path() / "p" / "broken.lnk", "junk");
    EXPECT_EQ(ResolveLinkedPath(root + "\\p\\broken\\f.txt"), root + "\\p\\broken\\f.txt");
}

TEST(OpenFileLinked, OpensThroughAFolderShortcutDeepInThePath) {
    TempDir dir;
    CString root = Win(dir.path());
    std::filesystem::create_directories(dir.path() / "real" / "sub");
    std::filesystem::create_directories(dir.path() / "users" / "jean");
    WriteBytes(dir.path() / "real" / "sub" / "f.txt", "through\r\nthe link\r\n");
    WriteLink(dir.path() / "users" / "jean" / "batch.lnk", root + "\\real");

    CString viaLink = root + "\\users\\jean\\batch\\sub\\f.txt";
    EXPECT_EQ(ReadText(OpenFileLinked(viaLink, "rt")), "through\nthe link\n");
    EXPECT_EQ(ReadText(OpenFileLinked(viaLink, "rb")), "through\r\nthe link\r\n");

    // Writing into a folder that exists only as a shortcut lands in its target.
    std::FILE* out = OpenFileLinked(root + "\\users\\jean\\batch\\new.txt", "wt");
    ASSERT_NE(out, nullptr);
    std::fputs("one\n", out);
    std::fclose(out);
    EXPECT_EQ(ReadBytes(dir.path() / "real" / "new.txt"), "one\r\n");

    EXPECT_EQ(OpenFileLinked(root + "\\users\\paul\\f.txt", "r"), nullptr);
}

// The linked open takes an existing file as it is; the wide open prefers a
// shortcut beside it, even one that cannot be followed.
TEST(OpenFileWide, PrefersAShortcutBesideTheFileWhereTheLinkedOpenDoesNot) {
    TempDir dir;
    CString root = Win(dir.path());
    WriteBytes(dir.path() / "f.txt", "plain");
    WriteBytes(dir.path() / "other.txt", "linked");
    EXPECT_EQ(ReadText(OpenFileWide(root + "\\f.txt", "rb")), "plain");

    WriteLink(dir.path() / "f.txt.lnk", root + "\\other.txt");
    EXPECT_EQ(ReadText(OpenFileLinked(root + "\\f.txt", "r")), "plain");
    EXPECT_EQ(ReadText(OpenFileWide(root + "\\f.txt", "rb")), "linked");
    EXPECT_EQ(ReadText(OpenFileWide(root + "\\f.txt.lnk", "rb")), "linked");
    // Without the plain file, the linked open follows the shortcut for it.
    std::filesystem::remove(dir.path() / "f.txt");
    EXPECT_EQ(ReadText(OpenFileLinked(root + "\\f.txt", "r")), "linked");

    WriteBytes(dir.path() / "f.txt.lnk", "damaged");
    WriteBytes(dir.path() / "f.txt", "plain");
    EXPECT_EQ(OpenFileWide(root + "\\f.txt", "rb"), nullptr);
    EXPECT_EQ(OpenFileWide(root + "\\none.txt", "rb"), nullptr);
}

TEST(OpenFileWide, NamesOutsideAsciiThroughUnicodeLinks) {
    TempDir dir;
    CString root = Win(dir.path());
    // The file is named in the ANSI code page, as the system names files.
    CString target = root + "\\caf\xe9.txt";
    std::FILE* out = platform::OpenStream(target, "wb");
    ASSERT_NE(out, nullptr);
    std::fputs("caf\xe9", out);
    std::fclose(out);

    testlink::LinkLayout layout;
    layout.unicodeLinkInfo = true;
    layout.localBasePath = "C:\\WRONG.TXT";
    layout.localBasePathW = platform::AnsiToWide(target);
    WriteBytes(dir.path() / "menu.txt.lnk", testlink::BuildLink(layout));
    EXPECT_EQ(ResolveShortcut(root + "\\menu.txt.lnk"), target);
    EXPECT_EQ(ReadText(OpenFileWide(root + "\\menu.txt", "rb")), "caf\xe9");
    EXPECT_EQ(ReadText(OpenFileLinked(root + "\\menu.txt", "rb")), "caf\xe9");
}

}  // namespace
