#include "fsutil/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "messages/catalogue.h"
#include "platform/file_ops.h"
#include "platform/host_path.h"
#include "testsupport/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

// --- Path text ---

CString Folder(CString path) {
    return KvFileSystem::NormalizeFolder(path);
}
CString File(CString path) {
    return KvFileSystem::NormalizePath(path);
}

TEST(FileSystemText, NormalForms) {
    EXPECT_EQ(Folder("C:/a//b"), "C:\\a\\b\\");
    EXPECT_EQ(Folder("\\\\server\\share"), "\\\\server\\share\\");
    EXPECT_EQ(Folder("\\x"), "\\\\x\\");
    EXPECT_EQ(Folder("C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(Folder(""), "");
    // One pass: three backslashes leave two.
    EXPECT_EQ(Folder("a\\\\\\b"), "a\\\\b\\");

    EXPECT_EQ(File("C:\\a\\\\b\\"), "C:\\a\\b");
    EXPECT_EQ(File("C:/a/b/"), "C:/a/b/");
    EXPECT_EQ(File("\\x\\"), "\\\\x");
    EXPECT_EQ(File("\\\\server\\f.txt"), "\\\\server\\f.txt");
    EXPECT_EQ(File(""), "");
}

TEST(FileSystemText, Parts) {
    EXPECT_EQ(KvFileSystem::NamePart("C:\\a/b\\c.txt"), "c.txt");
    EXPECT_EQ(KvFileSystem::NamePart("plain"), "plain");
    EXPECT_EQ(KvFileSystem::FolderPart("C:\\a/b.txt"), "C:\\a/");
    EXPECT_EQ(KvFileSystem::FolderPart("plain"), "");
    EXPECT_EQ(KvFileSystem::JoinPath("C:\\a", "b"), "C:\\a\\b");
    EXPECT_EQ(KvFileSystem::JoinPath("C:/a/", "b"), "C:/a/b");
    EXPECT_EQ(KvFileSystem::JoinPath("", "b"), "b");
    for (const char* absolute : {"C:\\a", "c:", "\\\\s"})
        EXPECT_TRUE(KvFileSystem::IsAbsolute(absolute)) << absolute;
    for (const char* relative : {"\\\\", "\\a\\b", "ab:c", ""})
        EXPECT_FALSE(KvFileSystem::IsAbsolute(relative)) << relative;
}

TEST(FileSystemText, CopyNamesChangeOnlyTheName) {
    // A folder named like the file, or like a copy, is left alone (the
    // numbered forms on the disk: SafeCopyNeverOverwrites).
    EXPECT_EQ(KvFileSystem::CopyName("C:\\Copy of x\\x", "Copy", "of", 2),
              "C:\\Copy of x\\Copy (2) of x");
    EXPECT_EQ(KvFileSystem::CopyName("x", "A", "B", 0), "A B x");
}

// --- On the disk: every test works under a fresh folder in folder form ---

class FileSystemDisk : public ::testing::Test {
  protected:
    FileSystemDisk() : root(Folder(CString(dir.path().string()))) {}
    ~FileSystemDisk() override {
        // MoveFolder changes the current folder; give it back before the
        // temporary folder goes.
        std::error_code ignored;
        fs::current_path(startFolder, ignored);
    }

    // A file inside the root, written with the given bytes.
    CString Put(const std::string& relative, const std::string& bytes = "x") {
        std::string generic = relative;
        std::replace(generic.begin(), generic.end(), '\\', '/');
        fs::path path = dir.path() / fs::path(generic).make_preferred();
        fs::create_directories(path.parent_path());
        WriteBytes(path, bytes);
        return root + CString(relative);
    }
    CString Hidden(const std::string& relative) {
        CString path = Put(relative, "hidden");
        EXPECT_TRUE(platform::MakeHidden(path));
        return path;
    }
    std::string Read(const CString& path) { return ReadBytes(platform::ToHostPath(path)); }

    fs::path startFolder = fs::current_path();
    testsupport::TempDir dir;
    CString root;
    KvFileSystem files;
};

bool Contains(const CStringList& list, const CString& path) {
    return std::find(list.begin(), list.end(), path) != list.end();
}

TEST_F(FileSystemDisk, ExistenceAndFolderCreationWithBothSeparators) {
    CString file = Put("a.txt");
    EXPECT_TRUE(files.Exists(file));
    EXPECT_FALSE(files.IsFolder(file));
    EXPECT_FALSE(files.Exists(root + "*.txt"));
    EXPECT_FALSE(files.Exists(""));
    EXPECT_TRUE(files.CreateFolderPath(root + "a/b\\c"));
    EXPECT_TRUE(files.IsFolder(root + "a\\b\\c"));
    EXPECT_TRUE(files.CreateFolderPath(root + "d\\e/f/"));
    EXPECT_TRUE(files.IsFolder(root + "d\\e\\f"));
    // The result is that of the last folder: it exists already.
    EXPECT_FALSE(files.CreateFolderPath(root + "a\\b\\c"));
    EXPECT_FALSE(files.CreateFolderPath(""));
    // A file in the way stops the path.
    Put("blocker");
    EXPECT_FALSE(files.CreateFolderPath(root + "blocker\\x"));
}

TEST_F(FileSystemDisk, ListingsFollowTheMasks) {
    CString plain = Put("plain.txt");
    CString hidden = Hidden(".hid");
    CString sub = root + "sub";
    Put("sub\\inner.txt");
    CString hiddenSub = root + ".hsub";
    ASSERT_TRUE(files.CreateFolderPath(hiddenSub));
    ASSERT_TRUE(platform::MakeHidden(hiddenSub));
    const CString all = root + "*.*";

    for (int mask : {0, KvFileSystem::kPlainFiles}) {
        CStringList list = files.ListFolder(all, mask);
        ASSERT_EQ(list.size(), 1u) << mask;
        EXPECT_EQ(list[0], plain);
    }
    CStringList folders = files.ListFolder(all, KvFileSystem::kFolders);
    EXPECT_EQ(folders.size(), 2u);
    EXPECT_TRUE(Contains(folders, sub) && Contains(folders, hiddenSub));
    CStringList every = files.ListFolder(all, KvFileSystem::kEverything);
    EXPECT_EQ(every.size(), 4u);
    EXPECT_FALSE(Contains(every, root + ".") || Contains(every, root + ".."));
    CStringList hiddenOnly = files.ListFolder(all, 0x2);
    EXPECT_EQ(hiddenOnly.size(), 2u);
    EXPECT_TRUE(Contains(hiddenOnly, hidden) && Contains(hiddenOnly, hiddenSub));

    CStringList names = files.ListSubfolders(root, false);
    EXPECT_EQ(names.size(), 2u);
    EXPECT_TRUE(Contains(names, "sub") && Contains(names, ".hsub"));
    EXPECT_TRUE(Contains(files.ListSubfolders(root, true), sub));

    EXPECT_TRUE(files.ListFolder(root + "missing\\*.*", -1).empty());
    EXPECT_TRUE(files.ListFolder(root + "*.none", -1).empty());
}

TEST_F(FileSystemDisk, RemovalOfFilesAndFolders) {
    CString a = Put("t\\a.txt");
    Put("t\\b.log");
    Hidden("t\\.h");
    Put("t\\sub\\deeper\\c.txt");
    EXPECT_TRUE(files.RemoveFile(a));
    EXPECT_FALSE(files.RemoveFile(a));
    EXPECT_TRUE(files.RemoveFiles(root + "t\\*.log", KvFileSystem::kPlainFiles));
    EXPECT_FALSE(files.Exists(root + "t\\b.log"));
    EXPECT_TRUE(files.Exists(root + "t\\.h"));

    EXPECT_FALSE(files.RemoveFile(root + "t\\sub"));  // a folder is no file
    // Not recursive: only an empty folder goes.
    EXPECT_FALSE(files.RemoveFolder(root + "t", false));
    EXPECT_TRUE(files.IsFolder(root + "t\\sub\\deeper"));
    EXPECT_TRUE(files.RemoveFolder(root + "t", true));
    EXPECT_FALSE(files.Exists(root + "t"));
    EXPECT_FALSE(files.RemoveFolder(root + "t", true));
}

// A tree with nested folders, an empty folder and a hidden file.
class TreeTest : public FileSystemDisk {
  protected:
    void SetUp() override {
        Put("src\\a.txt", "A");
        Put("src\\sub\\b.txt", "B");
        Put("src\\sub\\deeper\\c.txt", "C");
        ASSERT_TRUE(files.CreateFolderPath(root + "src\\empty"));
        Hidden("src\\sub\\.secret");
    }
};

TEST_F(TreeTest, MoveCarriesHiddenFilesAlong) {
    EXPECT_TRUE(files.MoveFolder(root + "src", root + "moved"));
    EXPECT_FALSE(files.Exists(root + "src"));
    CString moved = root + "moved\\";
    EXPECT_EQ(Read(moved + "a.txt"), "A");
    EXPECT_EQ(Read(moved + "sub\\deeper\\c.txt"), "C");
    EXPECT_EQ(Read(moved + "sub\\.secret"), "hidden");
    EXPECT_TRUE(files.IsFolder(moved + "empty"));
}

TEST_F(TreeTest, CopyOrMoveOntoItselfChangesNothing) {
    CString same = root + "SRC//";
    same.Replace('\\', '/');
    EXPECT_TRUE(files.MoveFolder(root + "src", same));
    EXPECT_TRUE(files.CopyFolder(root + "src\\\\", root + "src"));
    EXPECT_EQ(Read(root + "src\\a.txt"), "A");
    EXPECT_EQ(Read(root + "src\\sub\\.secret"), "hidden");
    EXPECT_EQ(files.ListFiles(root + "src\\*.*", -1, true).size(), 7u);

    // Into its own subtree: refused, the source stays whole.
    EXPECT_FALSE(files.MoveFolder(root + "src", root + "src\\sub\\inside"));
    EXPECT_EQ(Read(root + "src\\sub\\deeper\\c.txt"), "C");
}

TEST_F(FileSystemDisk, SafeCopyNeverOverwrites) {
    CString source = Put("in/source.txt", "new");
    CString report = Put("out/report.txt", "old");
    const CString out = root + "out\\";
    // The copy names come from the user catalogue.
    Put("lang/languages.txt", "English=en.txt\nFrancais=fr.txt\n");
    Put("lang/fr.txt", "[6,7,1,0] Copie\n[6,7,1,1] de\n");
    ASSERT_TRUE(g_userMessages.LoadLanguageList(root + "lang\\languages.txt"));
    ASSERT_TRUE(g_userMessages.SelectLanguage("Francais"));
    const CString first = "Copie";
    const CString second = "de";
    // Three copies onto the same name: three numbered names, nothing replaced.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(files.SafeCopyFile(source, report)) << i;
    EXPECT_EQ(Read(report), "old");
    EXPECT_EQ(Read(out + first + " " + second + " report.txt"), "new");
    EXPECT_EQ(Read(out + first + " (1) " + second + " report.txt"), "new");
    EXPECT_EQ(Read(out + first + " (2) " + second + " report.txt"), "new");
    EXPECT_EQ(files.ListFolder(out + "*.*", KvFileSystem::kEverything).size(), 4u);

    // Forward slashes count; a missing absolute folder is made on the way.
    CString slashed = root + "made/on/the/way.txt";
    EXPECT_TRUE(files.SafeCopyFile(source, slashed));
    EXPECT_EQ(Read(root + "made\\on\\the\\way.txt"), "new");
    // A missing folder on a relative path is not made; a missing source fails.
    EXPECT_FALSE(files.SafeCopyFile(source, "no-such-folder-here\\x.txt"));
    EXPECT_FALSE(files.Exists("no-such-folder-here"));
    EXPECT_FALSE(files.SafeCopyFile(root + "missing.txt", root + "out\\m.txt"));
    EXPECT_FALSE(files.Exists(root + "out\\m.txt"));
}

#ifndef _WIN32
TEST_F(FileSystemDisk, RemovalLeavesTheTargetOfALinkedFolder) {
    Put("outside/keep.txt", "k");
    Put("tree/own.txt");
    fs::create_directory_symlink(dir.path() / "outside", dir.path() / "tree" / "link");
    EXPECT_TRUE(files.RemoveFolder(root + "tree", true));
    EXPECT_FALSE(files.Exists(root + "tree"));
    EXPECT_EQ(Read(root + "outside\\keep.txt"), "k");
}
#endif

}  // namespace
