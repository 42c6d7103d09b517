#include "users/user.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fsutil/file_system.h"
#include "platform/host_path.h"
#include "testsupport/temp_dir.h"
#include "users/liste_users.h"
#include "users/users_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace users_test;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using enum KvObjetFile::Result;

// The mirror itself ("Secret 42" is "WEG8E6 vx") is checked through the
// users file's code; here, its range and that it undoes itself.
TEST(ScrambleText, MirrorsTheRangeFromZeroToLowerZ) {
    EXPECT_EQ(CUser::ScrambleText("0z"), "z0");
    // Outside the range, bytes above 127 included, nothing changes.
    EXPECT_EQ(CUser::ScrambleText("/ {\x7f\xe9\x80/"), "/ {\x7f\xe9\x80/");
    std::string every;
    for (int code = 1; code < 256; ++code) every += static_cast<char>(code);
    EXPECT_EQ(CUser::ScrambleText(CUser::ScrambleText(every)), every);
}

// Folder operations on users read from a small users file, with their
// folders under the test's temporary folder.
class UserFolders : public ::testing::Test {
  protected:
    void SetUp() override { LoadSystemCatalogue(dir); }
    // Moving a folder makes the destination the current folder; give the old
    // one back before the temporary folder goes.
    ~UserFolders() override {
        std::error_code ignored;
        fs::current_path(startFolder, ignored);
    }

    CUser* Load(const std::vector<UserChapter>& users) {
        WriteBytes(dir.path() / "users.txt", UsersFile(users));
        EXPECT_EQ(list.Load(dir.File("users.txt")), kLoaded);
        return list.Users().GetAt(0);
    }
    fs::path Host(const CString& path) { return platform::ToHostPath(path.str()); }
    void Put(const CString& path, const std::string& bytes) {
        fs::create_directories(Host(path).parent_path());
        WriteBytes(Host(path), bytes);
    }
    std::string Read(const CString& path) { return ReadBytes(Host(path)); }
    // The contents of every file below `folder`, sorted.
    std::vector<std::string> Contents(const CString& folder) {
        std::vector<std::string> contents;
        for (const auto& entry : fs::recursive_directory_iterator(Host(folder)))
            if (entry.is_regular_file())
                contents.push_back(ReadBytes(entry.path()));
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    fs::path startFolder = fs::current_path();
    TempDir dir;
    CString root = FolderForm(dir.path());
    ListeUsers list;
};

TEST_F(UserFolders, SetFolderStoresNormalisedPathsAndCreatesTheFolder) {
    CUser* user = Load({UserChapter("u").Current().Folder(0, 0, root.str() + "base")});
    ASSERT_NE(user, nullptr);
    // Forward slashes and doubled backslashes: one backslash each, one final.
    user->SetFolder(1, 0, root + "a//b/c\\\\d");
    EXPECT_EQ(user->GetFolder(1), root + "a\\b\\c\\d\\");
    EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c" / "d"));
    // Mode 1: below the base folder, created with its parents.
    user->SetFolder(4, 1, "deep/er");
    EXPECT_EQ(user->GetFolder(4), root + "base\\deep\\er\\");
    EXPECT_TRUE(fs::is_directory(dir.path() / "base" / "deep" / "er"));
    // Mode 3 with a variable: stored as written, looked up expanded.
    EnvScope env("TV_USERS_PLACE", "place");
    user->SetFolder(5, 3, root + "%TV_USERS_PLACE%");
    EXPECT_EQ(user->GetFolderRaw(5), root + "%TV_USERS_PLACE%\\");
    EXPECT_EQ(user->GetFolder(5), root + "place\\");
    EXPECT_TRUE(fs::is_directory(dir.path() / "place"));
    // Mode 2: nothing stored except for kinds 15 and 18, which keep a path
    // below the base folder; the look-up goes to the current user.
    user->SetFolder(6, 0, root + "six");
    user->SetFolder(6, 2, "ignored");
    EXPECT_EQ(user->GetFolderMode(6), 2);
    EXPECT_EQ(user->GetFolderEntry(6)->assigned, root + "six\\");
    user->SetFolder(15, 2, "XML");
    EXPECT_EQ(user->GetFolderEntry(15)->assigned, root + "base\\XML\\");
    EXPECT_EQ(user->GetFolder(15), root + "base\\XML\\");  // it is the current user
    // Kinds outside 0 to 19 have no folder.
    user->SetFolder(20, 0, root + "twenty");
    user->SetFolder(-1, 0, root + "minus");
    EXPECT_EQ(user->GetFolder(20), "");
    EXPECT_EQ(user->GetFolderMode(-1), -1);
    EXPECT_FALSE(fs::exists(dir.path() / "twenty"));
    EXPECT_FALSE(fs::exists(dir.path() / "minus"));
}

TEST_F(UserFolders, ChangedFolderMovesItsContentsWithoutLosingAny) {
    CUser user;
    CString before = root + "before\\";
    CString after = root + "after\\";
    user.SetFolder(5, 0, before);
    Put(before + "job.nc", "old job");
    Put(before + "sub\\part.nc", "part");
    // A file of the same name in the new folder stays; the moved one is kept
    // beside it under a copy name.
    Put(after + "job.nc", "new job");
    user.ChangeFolder(5, after);
    EXPECT_EQ(user.GetFolder(5), after);
    EXPECT_EQ(user.GetFolderMode(5), 0);
    EXPECT_FALSE(fs::exists(Host(before)));
    EXPECT_EQ(Read(after + "job.nc"), "new job");
    EXPECT_EQ(Read(after + "sub\\part.nc"), "part");
    const std::vector<std::string> all = {"new job", "old job", "part"};
    EXPECT_EQ(Contents(after), all);

    // Another spelling of the same path, or a folder inside the old one (its
    // removal would take the new one with it): nothing moves.
    user.ChangeFolder(5, root + "after//");
    user.ChangeFolder(5, after + "sub");
    EXPECT_EQ(user.GetFolder(5), after + "sub\\");
    EXPECT_EQ(Contents(after), all);
    // To an empty path: the folder entry is emptied, the files stay.
    user.ChangeFolder(5, "");
    EXPECT_EQ(user.GetFolder(5), "");
    EXPECT_EQ(Contents(after), all);
}

// Between two loads the variable naming a folder changes: the folder follows
// it and what the first place holds is not touched. A folder the file spells
// with slashes and doubled backslashes is not moved onto itself.
TEST_F(UserFolders, LoadingMovesNothing) {
    UserChapter chapter("u");
    chapter.Current()
        .Folder(0, 0, "%TV_USERS_WORK%\\home")
        .Folder(2, 3, "%TV_USERS_WORK%\\data")
        .Folder(3, 0, "%TV_USERS_WORK%/given");
    CString first = root + "first";
    CString second = root + "second";
    {
        EnvScope env("TV_USERS_WORK", first.str());
        CUser* user = Load({chapter});
        EXPECT_EQ(user->GetFolder(2), first + "\\data\\");
        EXPECT_EQ(user->GetFolder(3), first + "\\given\\");
        Put(user->GetFolder(2) + "kept.txt", "first data");
        Put(user->GetFolder(3) + "kept.txt", "first given");
    }
    EnvScope env("TV_USERS_WORK", second.str());
    CUser* user = Load({chapter});
    EXPECT_EQ(user->GetFolder(0), second + "\\home\\");
    EXPECT_EQ(user->GetFolder(2), second + "\\data\\");
    EXPECT_EQ(user->GetFolder(3), second + "\\given\\");
    EXPECT_EQ(Contents(first), (std::vector<std::string>{"first data", "first given"}));

    CString shared = root + "shared\\";
    Put(shared + "a.txt", "a");
    Put(shared + "sub\\b.txt", "b");
    std::string spelled = root.str() + "shared//";
    std::replace(spelled.begin(), spelled.end(), '\\', '/');
    Load({UserChapter("sharer").Folder(4, 2, ""),
          UserChapter("chief").Current().Folder(4, 3, spelled).Folder(7, 0, spelled)});
    EXPECT_EQ(list.FindUser("sharer")->GetFolder(4), shared);
    EXPECT_EQ(list.FindUser("chief")->GetFolder(7), shared);
    EXPECT_EQ(Contents(shared), (std::vector<std::string>{"a", "b"}));
}

TEST_F(UserFolders, BatchFolderDefaultsToBatchBelowTheBaseFolder) {
    EnvScope env("TV_USERS_SUFFIX", "ne");  // the paths take the expanded name
    CUser* user =
        Load({UserChapter("an%TV_USERS_SUFFIX%").Current().Folder(0, 0, root.str() + "anne")});
    EXPECT_EQ(user->GetFolder(17), "");
    EXPECT_FALSE(fs::exists(dir.path() / "anne"));
    CString batch = root + "anne\\BATCH\\";
    EXPECT_EQ(user->GetBatchProjectPath(), batch + "anne-BATCH.tvs");
    EXPECT_EQ(user->GetFolderMode(17), 1);
    EXPECT_EQ(user->GetFolder(17), batch);
    EXPECT_TRUE(fs::is_directory(Host(batch)));
    EXPECT_EQ(user->GetBatchTempPath(), batch + "anne-BATCH.tmp");
}

TEST_F(UserFolders, JobLogIsTheJobNameCutAtItsFirstDot) {
    CUser* user = Load({UserChapter("u").Current().Folder(17, 0, root.str() + "batch")});
    CString batch = root + "batch\\";
    EXPECT_EQ(user->GetJobLogPath("part"), batch + "part.log");
    EXPECT_EQ(user->GetJobLogPath("C:\\jobs.2024\\part.v2.nc"), batch + "part.log");
    EXPECT_EQ(user->GetJobLogPath("C:\\mixed/slash\\last.one"), batch + "last.log");
    EXPECT_EQ(user->GetJobLogPath(".hidden"), batch + ".log");
    EXPECT_EQ(user->GetJobLogPath(""), batch + ".log");
}

}  // namespace
