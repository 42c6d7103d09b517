#include "users/liste_users.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/temp_dir.h"
#include "users/users_test_support.h"

namespace {

using namespace users_test;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using enum KvObjetFile::Result;

class UsersList : public ::testing::Test {
  protected:
    void SetUp() override { LoadSystemCatalogue(dir); }

    // Writes `text` as users.txt and loads it into `list`.
    int Load(const std::string& text, const std::string& name = "users.txt") {
        WriteBytes(dir.path() / name, text);
        return list.Load(dir.File(name));
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const CUser& user : list.Users()) names.push_back(user.GetName().str());
        return names;
    }

    TempDir dir;
    ListeUsers list;
};

TEST_F(UsersList, SavedListLoadsBackWithTheSameUsersAndFolders) {
    CString root = FolderForm(dir.path());
    EnvScope env("TV_USERS_ROOT", root.str());
    UserChapter alice("alice");
    alice.Current()
        .Line(CatalogueText(2), "1")
        .Line(CatalogueText(42), "WEG8E6 vx")
        .Line("Web", "www.example.com")
        .Folder(0, 0, "%TV_USERS_ROOT%\\alice")
        .Folder(1, 1, "")
        .Folder(2, 3, "%TV_USERS_ROOT%\\work")
        .Folder(3, 2, "")
        .Folder(6, 0, root.str() + "six")
        .Folder(17, 1, "");
    UserChapter bob("bob");
    bob.Folder(0, 0, root.str() + "bob").Folder(3, 0, root.str() + "bob3").Line("Web", "a<saut>b");
    ASSERT_EQ(Load(UsersFile({alice, bob})), kLoaded);
    ASSERT_EQ(list.Users().GetCount(), 2u);
    EXPECT_EQ(list.m_companyName, "Quarrow Labs");
    EXPECT_EQ(list.m_companyTown, "Lyon");

    ASSERT_EQ(list.Save(dir.File("saved.txt")), kSaved);
    std::string saved = ReadBytes(dir.path() / "saved.txt");
    std::erase(saved, '\r');

    // The company chapter follows the version lines, every value in field order.
    std::string company =
        "Version = 0.2\n\n\n\n\n[Societe]\n\nNom societe = Quarrow Labs\nAdresse societe = \n"
        "Code Postal societe = \nVille societe = Lyon\nTel societe = \nFax societe = \n"
        "EMail societe = \n\n\n\n\n[element utilisateur]\n\n";
    EXPECT_NE(saved.find(company), std::string::npos) << saved;
    // A user chapter is 43 value lines: name, flags, code, web, then the
    // folders (mode line before path line), kind 16 never.
    std::size_t start = saved.find("[element utilisateur]\n\n") + 23;
    std::size_t end = saved.find("\n\n", start);
    std::string first = saved.substr(start, end - start + 1);
    std::vector<std::string> keys;
    for (std::size_t at = 0; at < first.size();) {
        std::size_t eol = first.find('\n', at);
        keys.push_back(first.substr(at, first.find(" = ", at) - at));
        at = eol + 1;
    }
    std::vector<std::string> expected = {
        CatalogueText(1), CatalogueText(2), CatalogueText(41), CatalogueText(42), "Web",
        ModeKey(0),       PathKey(0)};
    for (int kind : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 13, 15, 17, 18, 19}) {
        expected.push_back(ModeKey(kind));
        expected.push_back(PathKey(kind));
    }
    EXPECT_EQ(keys, expected);
    // The code is written scrambled again, the line break as "<saut>".
    EXPECT_NE(first.find(CatalogueText(42) + " = WEG8E6 vx\n"), std::string::npos);
    EXPECT_NE(saved.find("Web = a<saut>b\n"), std::string::npos);

    ListeUsers again;
    ASSERT_EQ(again.Load(dir.File("saved.txt")), kLoaded);
    ASSERT_EQ(again.Users().GetCount(), 2u);
    // Saving the reloaded list writes the same file.
    ASSERT_EQ(again.Save(dir.File("saved2.txt")), kSaved);
    EXPECT_EQ(ReadBytes(dir.path() / "saved2.txt"), ReadBytes(dir.path() / "saved.txt"));
    // The same bytes hold every stored field; the reloaded values follow.
    EXPECT_EQ(again.Users().GetAt(0)->GetScrambledText(), "Secret 42");
    EXPECT_EQ(again.Users().GetAt(0)->GetFolder(2), root + "work\\");
}

TEST_F(UsersList, RefusedAndForeignFilesLeaveTheListEmpty) {
    ASSERT_EQ(Load(UsersFile({UserChapter("a"), UserChapter("b")})), kLoaded);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b"}));
    // Loading again replaces the users instead of adding to them.
    ASSERT_EQ(Load(UsersFile({UserChapter("c")})), kLoaded);
    EXPECT_EQ(Names(), std::vector<std::string>{"c"});

    // A refused file leaves no user of the previous one behind.
    EXPECT_EQ(Load("[[Batch informations]]\n[Version]\nVersion ft = 0.2\nVersion = 0.2\n"),
              kNotThisFile);
    EXPECT_TRUE(Names().empty());
    // Another major version is refused, another minor one loads.
    ASSERT_EQ(Load(UsersFile({UserChapter("c")})), kLoaded);
    EXPECT_EQ(Load(UsersFile({UserChapter("x")}, "1.2")), kFormatVersionRefused);
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(Load(UsersFile({UserChapter("y")}, "0.7")), kLoaded);
    EXPECT_EQ(Names(), std::vector<std::string>{"y"});
    EXPECT_TRUE(list.IsModified());
}

TEST_F(UsersList, ChaptersOfOtherClassesAndMissingCompanyAreAccepted) {
    std::string extra =
        "[element machine]\nNom utilisateur = not a user\n\n"
        "[Notes]\nanything = at all\n\n";
    ASSERT_EQ(Load(UsersFile({UserChapter("a"), UserChapter("b")}, "0.2", false, extra)), kLoaded);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(list.m_companyName.IsEmpty());
    EXPECT_TRUE(list.m_companyTown.IsEmpty());
    // A second "Societe" chapter is offered as an element and ignored.
    extra = "[Societe]\nNom societe = Second\n\n";
    ASSERT_EQ(Load(UsersFile({UserChapter("a")}, "0.2", true, extra)), kLoaded);
    EXPECT_EQ(list.m_companyName, "Quarrow Labs");
    EXPECT_EQ(Names(), std::vector<std::string>{"a"});
}

TEST_F(UsersList, CurrentUserIsTheLastFlaggedElseEveryPublicUser) {
    std::string twoPublic =
        UsersFile({UserChapter("public"), UserChapter("x"), UserChapter("public")});
    // The shared XML and texture folders (their keys are missing) look the
    // current user up during the load, which flags both public users.
    ASSERT_EQ(Load(twoPublic), kLoaded);
    CUser* first = list.Users().GetAt(0);
    CUser* second = list.Users().GetAt(2);
    EXPECT_TRUE(first->IsCurrent());
    EXPECT_EQ(list.GetCurrentUser(), second);
    // Unflagged again, the look-up alone flags them.
    first->SetCurrent(false);
    second->SetCurrent(false);
    EXPECT_EQ(list.GetCurrentUser(), second);
    EXPECT_TRUE(first->IsCurrent());
    EXPECT_TRUE(second->IsCurrent());
    EXPECT_FALSE(list.Users().GetAt(1)->IsCurrent());
    // Later calls find them flagged and still answer the last.
    EXPECT_EQ(list.GetCurrentUser(), second);

    ASSERT_EQ(Load(UsersFile({UserChapter("public"), UserChapter("chief").Current(),
                              UserChapter("deputy").Current(), UserChapter("Public")})),
              kLoaded);
    EXPECT_EQ(list.GetCurrentUser(), list.Users().GetAt(2));
    EXPECT_FALSE(list.Users().GetAt(0)->IsCurrent());

    // "Public" is not "public": no current user.
    ASSERT_EQ(Load(UsersFile({UserChapter("Public"), UserChapter("x")})), kLoaded);
    EXPECT_EQ(list.GetCurrentUser(), nullptr);
    ASSERT_EQ(Load(UsersFile({})), kLoaded);
    EXPECT_EQ(list.GetCurrentUser(), nullptr);
}

TEST_F(UsersList, UsersAreFoundByTheirExpandedNameExactly) {
    EnvScope env("TV_USERS_NAME", "marie");
    ASSERT_EQ(Load(UsersFile({UserChapter("anne"), UserChapter("%TV_USERS_NAME%"),
                              UserChapter("%TV_USERS_UNSET%x"), UserChapter("anne")})),
              kLoaded);
    CUser* marie = list.FindUser("marie");
    ASSERT_NE(marie, nullptr);
    EXPECT_EQ(marie, list.Users().GetAt(1));
    EXPECT_EQ(marie->GetStoredName(), "%TV_USERS_NAME%");
    EXPECT_EQ(list.FindUser("%TV_USERS_NAME%"), nullptr);
    EXPECT_EQ(list.FindUser("Marie"), nullptr);
    EXPECT_EQ(list.FindUser("anne"), list.Users().GetAt(0));
    // An unset variable stays in the name as written.
    EXPECT_EQ(list.FindUser("%TV_USERS_UNSET%x"), list.Users().GetAt(2));
    EXPECT_EQ(list.FindUser(""), nullptr);
}

TEST_F(UsersList, OldFormatHoldsTheCodeInPlainText) {
    UserChapter plain("u");
    plain.Line(CatalogueText(42), "Secret 42");
    ASSERT_EQ(Load(UsersFile({UserChapter("u").Line(CatalogueText(42), "WEG8E6 vx")}, "0.2")),
              kLoaded);
    EXPECT_EQ(list.Users().GetAt(0)->GetScrambledText(), "Secret 42");
    ASSERT_EQ(Load(UsersFile({plain}, "0.1")), kLoaded);
    EXPECT_EQ(list.Users().GetAt(0)->GetScrambledText(), "Secret 42");
    // The same line read in the new format is unscrambled.
    ASSERT_EQ(Load(UsersFile({plain}, "0.2")), kLoaded);
    EXPECT_EQ(list.Users().GetAt(0)->GetScrambledText(), "WEG8E6 vx");
    // Without the key the code is empty in both formats.
    ASSERT_EQ(Load(UsersFile({UserChapter("u")}, "0.1")), kLoaded);
    EXPECT_TRUE(list.Users().GetAt(0)->GetScrambledText().IsEmpty());
}

// Folder modes 0 to 3 after a load, with the current user listed after the
// user whose folders are shared with it.
TEST_F(UsersList, FolderModesResolveThroughTheCurrentUser) {
    CString root = FolderForm(dir.path());
    CString rootNoSlash = root.Left(root.GetLength() - 1);
    EnvScope env("TV_USERS_ROOT", rootNoSlash.str());
    UserChapter x("x");
    x.Folder(0, 0, "%TV_USERS_ROOT%\\x")
        .Folder(1, 0, "%TV_USERS_ROOT%\\x1")
        .Folder(2, 2, "ignored")
        .Folder(3, 2, "")
        .Folder(4, 1, "ignored too")
        .Folder(5, 3, "%TV_USERS_ROOT%/x5//deep")
        .Folder(17, 1, "");
    UserChapter chief("chief");
    chief.Current()
        .Folder(0, 0, rootNoSlash.str() + "\\chief")
        .Folder(2, 0, rootNoSlash.str() + "\\shared2")
        .Folder(3, 3, "%TV_USERS_ROOT%\\shared3")
        .Line("RT XML", "1")
        .Line("RN XML", "whatever")
        .Folder(17, 0, "%TV_USERS_ROOT%\\queue");
    ASSERT_EQ(Load(UsersFile({x, chief})), kLoaded);
    CUser* user = list.FindUser("x");
    ASSERT_NE(user, nullptr);

    EXPECT_EQ(user->GetFolder(0), root + "x\\");
    EXPECT_EQ(user->GetFolderMode(1), 0);
    EXPECT_EQ(user->GetFolder(1), root + "x1\\");
    EXPECT_EQ(user->GetFolderRaw(1), root + "x1\\");
    EXPECT_EQ(user->GetFolder(2), root + "shared2\\");
    EXPECT_EQ(user->GetFolder(3), root + "shared3\\");
    EXPECT_EQ(user->GetFolderMode(3), 2);
    EXPECT_EQ(user->GetFolder(4), root + "x\\" + CString(SubFolder(4)));
    EXPECT_EQ(user->GetFolder(5), root + "x5\\deep\\");
    EXPECT_EQ(user->GetFolder(17), root + "x\\Batch\\");
    // Kinds 15 and 18 lack their mode keys: shared with the chief's, whose
    // XML folder is below its base folder and whose texture folder is shared
    // with itself and so has no path.
    EXPECT_EQ(user->GetFolderMode(15), 2);
    EXPECT_EQ(user->GetFolder(15), root + "chief\\XML\\");
    EXPECT_EQ(user->GetFolderMode(18), 2);
    EXPECT_EQ(user->GetFolder(18), "");
    // Kind 19 copies kind 14, which the file does not give.
    EXPECT_EQ(user->GetFolderMode(19), -1);
    EXPECT_EQ(user->GetFolder(19), "");

    CUser* current = list.GetCurrentUser();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->GetName(), "chief");
    EXPECT_EQ(current->GetFolder(17), root + "queue\\");
    // Nothing was created on disk by the load.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "x1"));

    // Outside any list a shared folder has no path.
    CUser outside = *user;
    outside.SetList(nullptr);
    EXPECT_EQ(outside.GetFolder(2), "");
    EXPECT_EQ(outside.GetFolder(1), root + "x1\\");

    // A second list loaded meanwhile, whose current user shares another
    // folder: each list's users resolve through their own current user.
    UserChapter otherChief("chief");
    otherChief.Current().Folder(0, 0, root.str() + "other").Folder(2, 0, root.str() + "other2");
    ListeUsers other;
    WriteBytes(dir.path() / "other.txt", UsersFile({x, otherChief}));
    ASSERT_EQ(other.Load(dir.File("other.txt")), 0);
    ASSERT_NE(other.FindUser("x"), nullptr);
    EXPECT_EQ(other.FindUser("x")->GetFolder(2), root + "other2\\");
    EXPECT_EQ(user->GetFolder(2), root + "shared2\\");
}

TEST_F(UsersList, MissingKeysTakeTheirDefaults) {
    UserChapter old("old");
    old.Folder(0, 0, "C:\\base").Folder(14, 0, "C:\\col14");
    UserChapter partial("partial");
    partial.Line("RN XML", "C:\\never read")
        .Line("RN REP BATCH", "C:\\batch")
        .Line(ModeKey(3), "not a number")
        .Line(PathKey(3), "C:\\three");
    ASSERT_EQ(Load(UsersFile({old, partial})), kLoaded);
    CUser* user = list.FindUser("old");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->GetFolderMode(15), 2);
    EXPECT_EQ(user->GetFolderMode(18), 2);
    EXPECT_EQ(user->GetFolderMode(19), 0);
    EXPECT_EQ(user->GetFolder(19), "C:\\col14\\");
    EXPECT_EQ(user->GetFolderMode(17), -1);
    EXPECT_EQ(user->GetFolder(17), "");
    EXPECT_FALSE(user->IsCurrent());
    EXPECT_TRUE(user->GetScrambledText().IsEmpty());

    user = list.FindUser("partial");
    ASSERT_NE(user, nullptr);
    // The batch path is read without its mode key; the XML path is not.
    EXPECT_EQ(user->GetFolderMode(17), -1);
    EXPECT_EQ(user->GetFolder(17), "C:\\batch\\");
    EXPECT_EQ(user->GetFolderEntry(15)->assigned, "");
    // A mode that does not convert stays unset.
    EXPECT_EQ(user->GetFolderMode(3), -1);
    EXPECT_EQ(user->GetFolder(3), "C:\\three\\");
}

}  // namespace
