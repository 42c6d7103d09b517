#include "fsutil/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "messages/catalogue.h"
#include "platform/file_ops.h"
#include "platform/host_path.h"
#include "testsupport/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

// The normal forms, which the file system makes in place.
CString Folder(CString path) {
    return KvFileSystem::NormalizeFolder(path);
}
CString File(CString path) {
    return KvFileSystem::NormalizePath(path);
}

TEST(FileSystemText, NormalFormsAndParts) {
    const std::pair<const char*, const char*> folders[] = {
        {"C:/a//b", "C:\\a\\b\\"},
        {"\\\\server\\share", "\\\\server\\share\\"},
        {"\\x", "\\\\x\\"},
        {"C:\\a\\", "C:\\a\\"},
        {"", ""},
        {"a\\\\\\b", "a\\\\b\\"},  // one pass: three leave two
    };
    for (const auto& [path, expected] : folders) EXPECT_EQ(Folder(path), expected) << path;
    const std::pair<const char*, const char*> files[] = {{"C:\\a\\\\b\\", "C:\\a\\b"},
                                                         {"C:/a/b/", "C:/a/b/"},
                                                         {"\\x\\", "\\\\x"},
                                                         {"\\\\server\\f.txt", "\\\\server\\f.txt"},
                                                         {"", ""}};
    for (const auto& [path, expected] : files) EXPECT_EQ(File(path), expected) << path;

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
    // A folder named like the file, or like a copy, is left alone.
    EXPECT_EQ(KvFileSystem::CopyName("C:\\Copy of x\\x", "Copy", "of", 2),
              "C:\\Copy of x\\Copy (2) of x");
    EXPECT_EQ(KvFileSystem::CopyName("x", "A", "B", 0), "A B x");
}

// Every test works under a fresh folder in folder form.
class FileSystemDisk : public ::testing::Test {
  protected:
    FileSystemDisk() : root(Folder(CString(dir.path().string()))) {}
    // MoveFolder changes the current folder; give it back before the folder goes.
    ~FileSystemDisk() override {
        std::error_code ignored;
        fs::current_path(startFolder, ignored);
    }

    // A file inside the root with the given bytes, hidden when they are "hidden".
    CString Put(const std::string& relative, const std::string& bytes = "x") {
        std::string generic = relative;
        std::replace(generic.begin(), generic.end(), '\\', '/');
        fs::path path = dir.path() / fs::path(generic).make_preferred();
        fs::create_directories(path.parent_path());
        testsupport::WriteBytes(path, bytes);
        if (bytes == "hidden") {
            EXPECT_TRUE(platform::MakeHidden(root + CString(relative)));
        }
        return root + CString(relative);
    }
    std::string Read(const CString& path) {
        return testsupport::ReadBytes(platform::ToHostPath(path));
    }
    // The entries of a listing, the root taken off; one outside it whole, after "!".
    Names Listed(const CStringList& list) {
        const std::string prefix = root.c_str();
        Names names;
        for (const CString& entry : list) {
            const std::string text = entry.c_str();
            names.insert(text.starts_with(prefix) ? text.substr(prefix.size()) : "!" + text);
        }
        return names;
    }

    fs::path startFolder = fs::current_path();
    testsupport::TempDir dir;
    CString root;
    KvFileSystem files;
};

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
    Put("blocker");
    EXPECT_FALSE(files.CreateFolderPath(root + "blocker\\x")) << "a file in the way";
}

TEST_F(FileSystemDisk, ListingsFollowTheMasks) {
    Put("plain.txt");
    Put(".hid", "hidden");
    Put("sub\\inner.txt");
    ASSERT_TRUE(files.CreateFolderPath(root + ".hsub"));
    ASSERT_TRUE(platform::MakeHidden(root + ".hsub"));
    const CString all = root + "*.*";

    EXPECT_EQ(Listed(files.ListFolder(all, KvFileSystem::kPlainFiles)), Names{"plain.txt"});
    EXPECT_EQ(Listed(files.ListFolder(all, KvFileSystem::kFolders)), (Names{"sub", ".hsub"}));
    EXPECT_EQ(Listed(files.ListFolder(all, KvFileSystem::kEverything)),
              (Names{"plain.txt", ".hid", "sub", ".hsub"}));
    EXPECT_EQ(Listed(files.ListSubfolders(root, true)), (Names{"sub", ".hsub"}));
    EXPECT_TRUE(files.ListFolder(root + "missing\\*.*", -1).empty());
    EXPECT_TRUE(files.ListFolder(root + "*.none", -1).empty());
}

TEST_F(FileSystemDisk, RemovalOfFilesAndFolders) {
    CString a = Put("t\\a.txt");
    Put("t\\b.log");
    Put("t\\.h", "hidden");
    Put("t\\sub\\deeper\\c.txt");
    EXPECT_TRUE(files.RemoveFile(a));
    EXPECT_FALSE(files.RemoveFile(a));
    EXPECT_TRUE(files.RemoveFiles(root + "t\\*.log", KvFileSystem::kPlainFiles));
    EXPECT_FALSE(files.Exists(root + "t\\b.log"));
    EXPECT_TRUE(files.Exists(root + "t\\.h"));

    EXPECT_FALSE(files.RemoveFile(root + "t\\sub"));  // a folder is no file
    EXPECT_FALSE(files.RemoveFolder(root + "t", false)) << "not recursive: only an empty folder";
    EXPECT_TRUE(files.IsFolder(root + "t\\sub\\deeper"));
    EXPECT_TRUE(files.RemoveFolder(root + "t", true));
    EXPECT_FALSE(files.Exists(root + "t"));
    EXPECT_FALSE(files.RemoveFolder(root + "t", true));
}

// A tree with nested folders, an empty folder and a hidden file.
TEST_F(FileSystemDisk, MoveOntoItselfChangesNothingAndAMoveCarriesHiddenFiles) {
    Put("src\\a.txt", "A");
    Put("src\\sub\\deeper\\c.txt", "C");
    Put("src\\sub\\.secret", "hidden");
    ASSERT_TRUE(files.CreateFolderPath(root + "src\\empty"));
    CString same = root + "SRC//";
    same.Replace('\\', '/');
    EXPECT_TRUE(files.MoveFolder(root + "src", same));
    EXPECT_EQ(Read(root + "src\\sub\\.secret"), "hidden");
    EXPECT_EQ(files.ListFiles(root + "src\\*.*", -1, true).size(), 6u);
    // Into its own subtree: refused, the source stays whole.
    EXPECT_FALSE(files.MoveFolder(root + "src", root + "src\\sub\\inside"));
    EXPECT_EQ(Read(root + "src\\sub\\deeper\\c.txt"), "C");

    EXPECT_TRUE(files.MoveFolder(root + "src", root + "moved"));
    EXPECT_FALSE(files.Exists(root + "src"));
    EXPECT_EQ(Read(root + "moved\\a.txt"), "A");
    EXPECT_EQ(Read(root + "moved\\sub\\deeper\\c.txt"), "C");
    EXPECT_EQ(Read(root + "moved\\sub\\.secret"), "hidden");
    EXPECT_TRUE(files.IsFolder(root + "moved\\empty"));
}

TEST_F(FileSystemDisk, SafeCopyNeverOverwrites) {
    CString source = Put("in/source.txt", "new");
    CString report = Put("out/report.txt", "old");
    // The copy names come from the user catalogue.
    Put("lang/languages.txt", "English=en.txt\nFrancais=fr.txt\n");
    Put("lang/fr.txt", "[6,7,1,0] Copie\n[6,7,1,1] de\n");
    ASSERT_TRUE(g_userMessages.LoadLanguageList(root + "lang\\languages.txt"));
    ASSERT_TRUE(g_userMessages.SelectLanguage("Francais"));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(files.SafeCopyFile(source, report)) << i;
    EXPECT_EQ(Read(report), "old");
    for (const char* copy : {"Copie de", "Copie (1) de", "Copie (2) de"})
        EXPECT_EQ(Read(root + "out\\" + copy + " report.txt"), "new") << copy;
    EXPECT_EQ(files.ListFolder(root + "out\\*.*", KvFileSystem::kEverything).size(), 4u);

    // Forward slashes count; a missing absolute folder is made on the way.
    EXPECT_TRUE(files.SafeCopyFile(source, root + "made/on/the/way.txt"));
    EXPECT_EQ(Read(root + "made\\on\\the\\way.txt"), "new");
    // A missing folder on a relative path is not made; a missing source fails.
    EXPECT_FALSE(files.SafeCopyFile(source, "no-such-folder-here\\x.txt"));
    EXPECT_FALSE(files.Exists("no-such-folder-here"));
    EXPECT_FALSE(files.SafeCopyFile(root + "missing.txt", root + "out\\m.txt"));
    EXPECT_FALSE(files.Exists(root + "out\\m.txt"));
}

#ifndef _WIN32
// Recursive removal removes a linked folder itself, never its target.
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
