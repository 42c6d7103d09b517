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

// The Windows form of a test folder: the path rules only know backslashes.
CString Win(const std::filesystem::path& path) {
    std::string text = path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return CString(text);
}

std::string ReadText(std::FILE* stream) {
    if (stream == nullptr)
        return "<not opened>";
    std::string text;
    for (int ch; (ch = std::fgetc(stream)) != EOF;) text += static_cast<char>(ch);
    std::fclose(stream);
    return text;
}

// "/" is an ordinary character; a path beyond the buffers gives empty parts.
TEST(SplitPath, BackslashAndColonSeparate) {
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
        CString folder = "junk", name = "junk";
        SplitPath(path, &folder, &name);
        EXPECT_EQ(folder, folderPart) << path;
        EXPECT_EQ(name, namePart) << path;
        EXPECT_EQ(GetFolderPart(path), folderPart) << path;
        EXPECT_EQ(GetNamePart(path), namePart) << path;
    }
    CString name;
    SplitPath("C:\\a\\f.txt", nullptr, &name);  // either part may be left out
    EXPECT_EQ(name, "f.txt");
    // With no folder to look at, a long path is left as it is.
    EXPECT_EQ(ResolveLinkedPath(longest + "y"), longest + "y");
}

TEST(Extensions, LastDotForGetFirstDotForChange) {
    EXPECT_EQ(GetExtension("C:\\a\\f.TXT", true), "TXT");
    EXPECT_EQ(GetExtension("C:\\a\\f.TXT", false), ".TXT");
    EXPECT_EQ(GetExtension("C:\\a\\f", false), "");
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

// Both collapse pairs of backslashes in one pass and double a single leading one.
TEST(TrailingBackslash, AddAndRemove) {
    const char* const cases[][3] = {
        // path, with, without
        {"C:\\\\data", "C:\\data\\", "C:\\data"},
        {"\\\\server\\share", "\\\\server\\share\\", "\\\\server\\share"},
        {"C:\\data\\", "C:\\data\\", "C:\\data"},
        {"C:\\", "C:\\", "C:"},
        {"\\data", "\\\\data\\", "\\\\data"},
        {"C:\\\\\\\\a\\\\\\b", "C:\\\\a\\\\b\\", "C:\\\\a\\\\b"},
        {"C:/data/", "C:/data/\\", "C:/data/"},
        {"", "", ""}};
    for (const auto& [path, withOne, withoutOne] : cases) {
        CString with = path, without = path;
        EXPECT_EQ(WithTrailingBackslash(with), withOne) << path;
        EXPECT_EQ(with, withOne) << path;  // changed in place
        EXPECT_EQ(WithoutTrailingBackslash(without), withoutOne) << path;
        EXPECT_EQ(without, withoutOne) << path;
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
    EXPECT_EQ(ResolveShortcut(m_root + "\\missing.lnk"), "");
    EXPECT_EQ(ResolveShortcut(""), "");
    EXPECT_EQ(ResolveShortcut(m_root + "\\bad.lnk"), "");
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
    EXPECT_EQ(ReadText(OpenFileLinked(viaLink, "rt")), "through\nthe link\n");
    EXPECT_EQ(ReadText(OpenFileLinked(viaLink, "rb")), "through\r\nthe link\r\n");
    EXPECT_EQ(OpenFileLinked(m_root + "\\users\\paul\\f.txt", "r"), nullptr);

    // Writing into a folder that exists only as a shortcut lands in its target.
    std::FILE* out = OpenFileLinked(m_root + "\\users\\jean\\batch\\new.txt", "wt");
    ASSERT_NE(out, nullptr);
    std::fputs("one\n", out);
    std::fclose(out);
    EXPECT_EQ(ReadBytes(m_dir.path() / "real" / "new.txt"), "one\r\n");
}

// Only the wide open prefers a shortcut beside a file, even one that cannot be followed.
TEST_F(LinkedPaths, OpenFileWidePrefersAShortcutBesideTheFile) {
    const CString file = m_root + "\\f.txt";
    Put("f.txt", "plain");
    Put("other.txt", "linked");
    EXPECT_EQ(ReadText(OpenFileWide(file, "rb")), "plain");

    Link("f.txt.lnk", m_root + "\\other.txt");
    EXPECT_EQ(ReadText(OpenFileLinked(file, "r")), "plain");
    EXPECT_EQ(ReadText(OpenFileWide(file, "rb")), "linked");
    EXPECT_EQ(ReadText(OpenFileWide(file + ".lnk", "rb")), "linked");
    std::filesystem::remove(m_dir.path() / "f.txt");
    EXPECT_EQ(ReadText(OpenFileLinked(file, "r")), "linked");

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
    EXPECT_EQ(ReadText(OpenFileWide(m_root + "\\menu.txt", "rb")), "caf\xe9");
    EXPECT_EQ(ReadText(OpenFileLinked(m_root + "\\menu.txt", "rb")), "caf\xe9");
}

}  // namespace
