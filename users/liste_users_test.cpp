#include "users/liste_users.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/catalogue.h"
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

    int Load(const std::string& text) {
        WriteBytes(dir.path() / "users.txt", text);
        return list.Load(dir.File("users.txt"));
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const CUser& user : list.Users()) names.push_back(user.GetName().str());
        return names;
    }
    CUser* At(unsigned index) { return list.Users().GetAt(index); }

    TempDir dir;
    CString root = FolderForm(dir.path());
    ListeUsers list;
};

// The keys are texts of the system catalogue: a list loaded again after the
// catalogue changed reads the new ones, not those of its first load.
TEST_F(UsersList, EachLoadTakesItsKeysFromTheCatalogueOfTheMoment) {
    UserChapter user("alice");
    user.Line("Nom", "bob");
    ASSERT_EQ(Load(UsersFile({user})), kLoaded);
    EXPECT_EQ(Names(), std::vector<std::string>{"alice"});
    WriteBytes(dir.path() / "other.txt", "[1,1] Nom\n");
    ASSERT_TRUE(g_systemMessages.LoadSystemCatalogue(dir.File("other.txt")));
    ASSERT_EQ(list.Load(dir.File("users.txt")), kLoaded);
    EXPECT_EQ(Names(), std::vector<std::string>{"bob"});
}

TEST_F(UsersList, SavedListLoadsBackWithTheSameUsersAndFolders) {
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
    ASSERT_EQ(list.Save(dir.File("saved.txt")), kSaved);
    std::string saved = ReadBytes(dir.path() / "saved.txt");
    std::erase(saved, '\r');

    // One blank line after the version head, the company chapter after the
    // version lines, every value in field order, then the users' chapters.
    EXPECT_NE(saved.find("[Version]\n\nVersion ft = 0.2\nVersion = 0.2\n\n\n\n\n[Societe]\n\n"
                         "Nom societe = Quarrow Labs\nAdresse societe = \nCode Postal societe = \n"
                         "Ville societe = Lyon\nTel societe = \nFax societe = \n"
                         "EMail societe = \n\n\n\n\n[element utilisateur]\n\n"),
              std::string::npos)
        << saved;
    // A user chapter: name, flags, code, web, then the folders (mode line
    // before path line), kind 16 never.
    std::size_t start = saved.find("[element utilisateur]\n\n") + 23;
    std::vector<std::string> keys;
    for (std::size_t at = start; saved[at] != '\n'; at = saved.find('\n', at) + 1)
        keys.push_back(saved.substr(at, saved.find(" = ", at) - at));
    std::vector<std::string> expected = {CatalogueText(1), CatalogueText(2), CatalogueText(41),
                                         CatalogueText(42), "Web"};
    for (int kind : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 13, 15, 17, 18, 19}) {
        expected.push_back(FolderKey(kind, true));
        expected.push_back(FolderKey(kind, false));
    }
    EXPECT_EQ(keys, expected);
    // The code is written scrambled again, the line break as "<saut>".
    EXPECT_NE(saved.find(CatalogueText(42) + " = WEG8E6 vx\n"), std::string::npos);
    EXPECT_NE(saved.find("Web = a<saut>b\n"), std::string::npos);

    ListeUsers again;
    ASSERT_EQ(again.Load(dir.File("saved.txt")), kLoaded);
    ASSERT_EQ(again.Users().GetCount(), 2u);
    ASSERT_EQ(again.Save(dir.File("saved2.txt")), kSaved);
    EXPECT_EQ(ReadBytes(dir.path() / "saved2.txt"), ReadBytes(dir.path() / "saved.txt"));
    EXPECT_EQ(again.Users().GetAt(0)->GetScrambledText(), "Secret 42");
    EXPECT_EQ(again.Users().GetAt(0)->GetFolder(2), root + "work\\");
}

TEST_F(UsersList, EachLoadReplacesTheUsersAndRefusedFilesLeaveNone) {
    // Chapters of other classes and a missing company are accepted.
    ASSERT_EQ(Load(UsersFile({UserChapter("a"), UserChapter("b")}, "0.2", false,
                             "[element machine]\nNom utilisateur = not a user\n\n"
                             "[Notes]\nanything = at all\n\n")),
              kLoaded);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(list.m_companyName.IsEmpty());
    ASSERT_EQ(Load(UsersFile({UserChapter("c")})), kLoaded);
    EXPECT_EQ(Names(), std::vector<std::string>{"c"});
    EXPECT_EQ(list.m_companyTown, "Lyon");

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

    // A second "Societe" chapter is offered as an element and ignored.
    ASSERT_EQ(Load(UsersFile({UserChapter("a")}, "0.2", true, "[Societe]\nNom societe = 2nd\n\n")),
              kLoaded);
    EXPECT_EQ(list.m_companyName, "Quarrow Labs");
    EXPECT_EQ(Names(), std::vector<std::string>{"a"});
}

TEST_F(UsersList, CurrentUserIsTheLastFlaggedElseEveryPublicUser) {
    // The shared XML and texture folders (their keys are missing) look the
    // current user up during the load, which flags both public users.
    ASSERT_EQ(Load(UsersFile({UserChapter("public"), UserChapter("x"), UserChapter("public")})),
              kLoaded);
    EXPECT_TRUE(At(0)->IsCurrent());
    EXPECT_EQ(list.GetCurrentUser(), At(2));
    // Unflagged again, the look-up alone flags them.
    At(0)->SetCurrent(false);
    At(2)->SetCurrent(false);
    EXPECT_EQ(list.GetCurrentUser(), At(2));
    EXPECT_TRUE(At(0)->IsCurrent());
    EXPECT_TRUE(At(2)->IsCurrent());
    EXPECT_FALSE(At(1)->IsCurrent());
    EXPECT_EQ(list.GetCurrentUser(), At(2));

    ASSERT_EQ(Load(UsersFile({UserChapter("public"), UserChapter("chief").Current(),
                              UserChapter("deputy").Current(), UserChapter("Public")})),
              kLoaded);
    EXPECT_EQ(list.GetCurrentUser(), At(2));
    EXPECT_FALSE(At(0)->IsCurrent());

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
    EXPECT_EQ(list.FindUser("marie"), At(1));
    EXPECT_EQ(At(1)->GetStoredName(), "%TV_USERS_NAME%");
    EXPECT_EQ(list.FindUser("%TV_USERS_NAME%"), nullptr);
    EXPECT_EQ(list.FindUser("Marie"), nullptr);
    EXPECT_EQ(list.FindUser("anne"), At(0));
    // An unset variable stays in the name as written.
    EXPECT_EQ(list.FindUser("%TV_USERS_UNSET%x"), At(2));
    EXPECT_EQ(list.FindUser(""), nullptr);
}

TEST_F(UsersList, OldFormatHoldsTheCodeInPlainText) {
    const std::vector<std::vector<std::string>> cases = {
        // version, the code line's value ("-" for no line), the code read
        {"0.2", "WEG8E6 vx", "Secret 42"},
        {"0.1", "Secret 42", "Secret 42"},
        {"0.2", "Secret 42", "WEG8E6 vx"},
        {"0.1", "-", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0] + " " + c[1]);
        UserChapter user("u");
        if (c[1] != "-")
            user.Line(CatalogueText(42), c[1]);
        ASSERT_EQ(Load(UsersFile({user}, c[0])), kLoaded);
        EXPECT_EQ(At(0)->GetScrambledText(), c[2]);
    }
}

// Folder modes 0 to 3 after a load, with the current user listed after the
// user whose folders are shared with it.
TEST_F(UsersList, FolderModesResolveThroughTheCurrentUser) {
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
    // Kinds 15 and 18 lack their mode keys: shared with the chief's, whose XML
    // folder is below its base folder and whose texture folder is shared with
    // itself and so has no path. Kind 19 copies kind 14, which the file lacks.
    struct Folder {
        int kind, mode;
        const char* below;  // the path below the test's folder, null for none
    };
    const Folder folders[] = {
        {0, 0, "x\\"},        {1, 0, "x1\\"},       {2, 2, "shared2\\"},   {3, 2, "shared3\\"},
        {4, 1, "x\\Sous4\\"}, {5, 3, "x5\\deep\\"}, {17, 1, "x\\Batch\\"}, {15, 2, "chief\\XML\\"},
        {18, 2, nullptr},     {19, -1, nullptr},
    };
    for (const Folder& f : folders) {
        SCOPED_TRACE(f.kind);
        EXPECT_EQ(user->GetFolderMode(f.kind), f.mode);
        EXPECT_EQ(user->GetFolder(f.kind), f.below ? root + f.below : CString());
    }
    ASSERT_NE(list.GetCurrentUser(), nullptr);
    EXPECT_EQ(list.GetCurrentUser()->GetFolder(17), root + "queue\\");
    // Nothing was created on disk by the load.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "x1"));

    // Outside any list a shared folder has no path.
    CUser outside = *user;
    outside.SetList(nullptr);
    EXPECT_EQ(outside.GetFolder(2), "");
    EXPECT_EQ(outside.GetFolder(1), root + "x1\\");

    // Each list's users resolve through their own current user.
    UserChapter otherChief("chief");
    otherChief.Current().Folder(0, 0, root.str() + "other").Folder(2, 0, root.str() + "other2");
    ListeUsers other;
    WriteBytes(dir.path() / "other.txt", UsersFile({x, otherChief}));
    ASSERT_EQ(other.Load(dir.File("other.txt")), kLoaded);
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
        .Line(FolderKey(3, true), "not a number")
        .Line(FolderKey(3, false), "C:\\three");
    ASSERT_EQ(Load(UsersFile({old, partial})), kLoaded);
    EXPECT_EQ(At(0)->GetFolderMode(19), 0);
    EXPECT_EQ(At(0)->GetFolder(19), "C:\\col14\\");
    EXPECT_EQ(At(0)->GetFolderMode(17), -1);
    EXPECT_EQ(At(0)->GetFolder(17), "");
    EXPECT_FALSE(At(0)->IsCurrent());
    // The batch path is read without its mode key, the XML path is not; a
    // mode that does not convert stays unset.
    EXPECT_EQ(At(1)->GetFolderMode(17), -1);
    EXPECT_EQ(At(1)->GetFolder(17), "C:\\batch\\");
    EXPECT_EQ(At(1)->GetFolderMode(3), -1);
    EXPECT_EQ(At(1)->GetFolder(3), "C:\\three\\");
    EXPECT_TRUE(At(0)->GetScrambledText().IsEmpty());
    EXPECT_EQ(At(1)->GetFolderEntry(15)->assigned, "");
}

}  // namespace
