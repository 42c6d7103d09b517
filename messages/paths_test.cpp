#include "messages/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "messages/shell_link.h"
#include "messages/shell_link_test_writer.h"
#include "platform/codepage.h"
#include "platform/file_stream.h"
#include "testsupport/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteBytes;

// The Windows form of a test folder: the path rules only know backslashes.
CString Win(const std::filesystem::path& path) {
    std::string text = path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return CString(text);
}

// "/" is an ordinary character; a path beyond the buffers gives empty parts.
TEST(FolderAndNameParts, BackslashAndColonSeparate) {
    const std::string longest = "C:\\" + std::string(kMaxPathPart - 3 - 4, 'a') + "\\f.x";
    // {path, folder, name}
    const std::string cases[][3] = {{"C:\\a\\b\\f.txt", "C:\\a\\b", "f.txt"},
                                    {"C:f.txt", "C:", "f.txt"},
                                    {"f.txt", "", "f.txt"},
                                    {"C:\\a\\", "C:\\a", ""},
                                    {"C:\\f.txt", "C:", "f.txt"},
                                    {"C:\\a\\b/c.txt", "C:\\a", "b/c.txt"},
                                    {"", "", ""},
                                    {longest, longest.substr(0, kMaxPathPart - 4), "f.x"},
                                    {longest + "y", "", ""}};
    for (const auto& [path, folderPart, namePart] : cases) {
        EXPECT_EQ(GetFolderPart(path), folderPart) << path;
        EXPECT_EQ(GetNamePart(path), namePart) << path;
    }
    // With no folder to look at, a long path is left as it is.
    EXPECT_EQ(ResolveLinkedPath(longest + "y"), longest + "y");
}

TEST(Extensions, LastDotForGetFirstDotForChange) {
    EXPECT_EQ(GetExtension("C:\\a\\f.TXT", true), "TXT");
    EXPECT_EQ(GetExtension("C:\\a\\f", true), "");
    EXPECT_EQ(GetExtension("C:\\a\\f.tar.gz", true), "gz");
    // A dot in a folder name counts for both, in opposite directions.
    EXPECT_EQ(GetExtension("C:\\w.1\\job", true), "1\\job");
    EXPECT_EQ(ChangeExtension("C:\\w.1\\job.bat", "log"), "C:\\w.log");
    EXPECT_EQ(ChangeExtension("C:\\w\\job", ".log"), "C:\\w\\job.log");
    EXPECT_EQ(ChangeExtension("C:\\w\\job.tar.gz", "log"), "C:\\w\\job.log");
}

// The strict test: last component only ("/" separates there), lower case only.
TEST(Extensions, ShortcutNameTests) {
    const struct {
        const char* path;
        bool loose;
        bool strict;
    } cases[] = {{"x.lnk", true, true},         {"C:\\a\\X.LNK", true, false},
                 {"C:\\a\\x.Lnk", true, false}, {"C:\\a\\x.lnk.txt", false, false},
                 {"C:\\a\\lnk", false, false},  {"C:\\d.lnk\\x", false, false},
                 {"C:\\a/x.lnk", true, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsShortcutName(c.path), c.loose) << c.path;
        EXPECT_EQ(HasShortcutExtension(c.path), c.strict) << c.path;
    }
}

// Pairs of backslashes collapse in one pass; a single leading one is doubled.
TEST(TrailingBackslash, Add) {
    const char* const cases[][2] = {{"C:\\\\data", "C:\\data\\"},
                                    {"\\\\server\\share", "\\\\server\\share\\"},
                                    {"C:\\data\\", "C:\\data\\"},
                                    {"\\data", "\\\\data\\"},
                                    {"C:\\\\\\\\a\\\\\\b", "C:\\\\a\\\\b\\"},
                                    {"C:/data/", "C:/data/\\"},
                                    {"", ""}};
    for (const auto& [path, withOne] : cases) {
        CString with = path;
        EXPECT_EQ(WithTrailingBackslash(with), withOne) << path;
        EXPECT_EQ(with, withOne) << path;  // changed in place
    }
}

// A test folder; names below it are given with "/", paths to the system with "\".
class LinkedPaths : public testing::Test {
  protected:
    void Put(const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories((m_dir.path() / name).parent_path());
        WriteBytes(m_dir.path() / name, bytes);
    }
    void Link(const std::string& name, const CString& target) {
        Put(name, testlink::BuildLink({.withIdList = true, .localBasePath = target.str()}));
    }
    TempDir m_dir;
    const CString m_root = Win(m_dir.path());
};

// Only readable files exist; shortcuts are followed one level.
TEST_F(LinkedPaths, FileExistsAndResolveShortcut) {
    Link("a.lnk", "D:\\real\\b.lnk");
    Put("bad.lnk", "not a shortcut");
    EXPECT_TRUE(FileExists(m_root + "\\a.lnk"));
    EXPECT_FALSE(FileExists(m_root + "\\g.txt"));
    EXPECT_FALSE(FileExists(m_root));  // a folder
    EXPECT_FALSE(FileExists(""));
    EXPECT_EQ(ResolveShortcut(m_root + "\\a.lnk"), "D:\\real\\b.lnk");
    // Missing, unnamed, damaged, a folder, too large to be a shortcut.
    Put("big.lnk", testlink::BuildLink({.localBasePath = "C:\\f"}) +
                       std::string(shelllink::kMaxShellLinkFileSize, '\0'));
    for (const CString& path :
         {m_root + "\\missing.lnk", CString(), m_root + "\\bad.lnk", m_root, m_root + "\\big.lnk"})
        EXPECT_EQ(ResolveShortcut(path), "") << path.str();
    // The shell reports targets through a 260-character buffer.
    CString fits = "C:\\" + CString(std::string(256, 'a'));
    Link("fits.lnk", fits);
    Link("long.lnk", fits + "a");
    EXPECT_EQ(ResolveShortcut(m_root + "\\fits.lnk"), fits);
    EXPECT_EQ(ResolveShortcut(m_root + "\\long.lnk"), "");
}

TEST_F(LinkedPaths, ResolveLinkedPathForFileAndFolderShortcuts) {
    Link("a.lnk", "D:\\real");
    Put("here.txt", "x");
    Link("job.txt.lnk", "D:\\jobs\\job.txt");
    Link("nope.lnk.lnk", "D:\\wrong");
    Link("p.lnk", "D:\\outer");
    Link("p/q/r.lnk", "D:\\inner");
    Put("p/broken.lnk", "junk");
    const char* const cases[][2] = {
        // below the test folder; null: left as it is
        {"\\a\\b\\f.txt", "D:\\real\\b\\f.txt"},
        {"\\a", "D:\\real"},      // the path + .lnk
        {"\\here.txt", nullptr},  // it exists
        {"\\x\\y.txt", nullptr},  // no shortcut anywhere
        {"\\job.txt", "D:\\jobs\\job.txt"},
        {"\\job.txt.lnk", nullptr},  // an existing shortcut is a file like any other
        {"\\nope.lnk", nullptr},     // a missing shortcut gets no second .lnk
        {"\\p\\q\\r\\s\\f.txt", "D:\\inner\\s\\f.txt"},  // the deepest wins, alone
        {"\\p\\z\\f.txt", "D:\\outer\\z\\f.txt"},
        {"\\p\\broken\\f.txt", nullptr},  // the deepest cannot be read
    };
    for (const auto& [path, resolved] : cases)
        EXPECT_EQ(ResolveLinkedPath(m_root + path), resolved ? CString(resolved) : m_root + path)
            << path;
}

TEST_F(LinkedPaths, OpenFileLinkedThroughAFolderShortcutDeepInThePath) {
    Put("real/sub/f.txt", "through\r\nthe link\r\n");
    Link("users/jean/batch.lnk", m_root + "\\real");
    CString viaLink = m_root + "\\users\\jean\\batch\\sub\\f.txt";
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileLinked(viaLink, "rt")), "through\nthe link\n");
    EXPECT_EQ(OpenFileLinked(m_root + "\\users\\paul\\f.txt", "r"), nullptr);
}

// Only the wide open prefers a shortcut beside a file, even one that cannot be followed.
TEST_F(LinkedPaths, OpenFileWidePrefersAShortcutBesideTheFile) {
    const CString file = m_root + "\\f.txt";
    Put("f.txt", "plain");
    Put("other.txt", "linked");
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileWide(file, "rb")), "plain");

    Link("f.txt.lnk", m_root + "\\other.txt");
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileLinked(file, "r")), "plain");
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileWide(file, "rb")), "linked");
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileWide(file + ".lnk", "rb")), "linked");
    std::filesystem::remove(m_dir.path() / "f.txt");
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileLinked(file, "r")), "linked");

    Put("f.txt.lnk", "damaged");
    Put("f.txt", "plain");
    EXPECT_EQ(OpenFileWide(file, "rb"), nullptr);
    EXPECT_EQ(OpenFileWide(m_root + "\\none.txt", "rb"), nullptr);

    // The file is named in the ANSI code page, as the system names files.
    CString target = m_root + "\\caf\xe9.txt";
    std::FILE* out = platform::OpenStream(target, "wb");
    ASSERT_NE(out, nullptr);
    std::fputs("caf\xe9", out);
    std::fclose(out);

    Put("menu.txt.lnk", testlink::BuildLink({.localBasePath = "C:\\WRONG.TXT",
                                             .localBasePathW = platform::AnsiToWide(target)}));
    EXPECT_EQ(ResolveShortcut(m_root + "\\menu.txt.lnk"), target);
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileWide(m_root + "\\menu.txt", "rb")), "caf\xe9");
    EXPECT_EQ(testsupport::ReadAndClose(OpenFileLinked(m_root + "\\menu.txt", "rb")), "caf\xe9");
}

}  // namespace
