// Shared by the users tests: a small system catalogue holding the keys of a
// user record, and helpers that write users files by hand, the way the
// simulator's tools leave them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "containers/cstring.h"
#include "fsutil/file_system.h"
#include "messages/catalogue.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"
#include "users/liste_users.h"

namespace users_test {

// Catalogue keys (1, n) of a folder kind: mode key, path key, sub-folder name.
struct KindKeys {
    int kind;
    std::uint32_t mode, path, sub;
};
inline constexpr KindKeys kCatalogueKinds[] = {
    {1, 25, 26, 24},  {2, 4, 5, 3},     {3, 7, 8, 6},     {4, 10, 11, 9},   {5, 13, 14, 12},
    {6, 16, 17, 15},  {7, 19, 20, 18},  {8, 22, 23, 21},  {9, 28, 29, 27},  {10, 44, 45, 43},
    {11, 31, 32, 30}, {12, 34, 35, 33}, {14, 37, 38, 36}, {13, 47, 48, 46},
};

// The catalogue texts: names that say what they are, so that a file read in
// a test can be checked by eye.
inline std::string CatalogueText(std::uint32_t n) {
    static const std::map<std::uint32_t, std::string> fixed = {
        {1, "Nom utilisateur"}, {2, "Administrateur"},       {39, "Mode base"},
        {40, "Chemin base"},    {41, "Utilisateur courant"}, {42, "Code acces"}};
    if (auto at = fixed.find(n); at != fixed.end())
        return at->second;
    for (const KindKeys& k : kCatalogueKinds) {
        const std::string kind = std::to_string(k.kind);
        if (n == k.mode || n == k.path)
            return (n == k.mode ? "Mode dossier " : "Chemin dossier ") + kind;
        if (n == k.sub)
            return "Sous" + kind + "\\";
    }
    return "";
}

// Writes the catalogue into `dir` and loads it as the system catalogue.
inline void LoadSystemCatalogue(const testsupport::TempDir& dir) {
    std::string text;
    for (std::uint32_t n = 1; n <= 48; ++n)
        if (!CatalogueText(n).empty())
            text += "[1," + std::to_string(n) + "] " + CatalogueText(n) + "\n";
    testsupport::WriteBytes(dir.path() / "msgsys.txt", text);
    ASSERT_TRUE(g_systemMessages.LoadSystemCatalogue(dir.File("msgsys.txt")));
}

// The key of a folder's mode line (`mode`) or path line. Kinds 15 to 19 have
// fixed keys that the catalogue does not give.
inline std::string FolderKey(int kind, bool mode) {
    static const std::map<int, std::string> fixed = {
        {15, "XML"}, {17, "REP BATCH"}, {18, "TEXTURE"}, {19, "TMP_COL"}};
    if (kind == 0)
        return CatalogueText(mode ? 39 : 40);
    if (auto at = fixed.find(kind); at != fixed.end())
        return (mode ? "RT " : "RN ") + at->second;
    for (const KindKeys& k : kCatalogueKinds)
        if (k.kind == kind)
            return CatalogueText(mode ? k.mode : k.path);
    return "";
}

// The body of one user chapter, built line by line.
class UserChapter {
  public:
    explicit UserChapter(const std::string& name) { Line(CatalogueText(1), name); }
    UserChapter& Line(const std::string& key, const std::string& value) {
        m_body += key + " = " + value + "\n";
        return *this;
    }
    UserChapter& Current() { return Line(CatalogueText(41), "1"); }
    UserChapter& Folder(int kind, int mode, const std::string& path) {
        Line(FolderKey(kind, true), std::to_string(mode));
        return Line(FolderKey(kind, false), path);
    }
    const std::string& Body() const { return m_body; }

  private:
    std::string m_body;
};

// A whole users file: header, version chapter, optional company chapter and
// one element chapter per user (plus any extra chapter text given).
inline std::string UsersFile(const std::vector<UserChapter>& users,
                             const std::string& version = "0.2", bool company = true,
                             const std::string& extra = "") {
    std::string text =
        "[[Liste utilisateurs]]\n\n[Version]\nVersion ft = 0.2\nVersion = " + version + "\n\n";
    if (company)
        text += "[Societe]\nNom societe = Quarrow Labs\nVille societe = Lyon\n\n";
    text += extra;
    for (const UserChapter& user : users) text += "[element utilisateur]\n" + user.Body() + "\n";
    return text;
}

// A folder of the test's temporary folder in the system's folder form.
inline CString FolderForm(const std::filesystem::path& path) {
    CString text(path.string());
    return KvFileSystem::NormalizeFolder(text);
}

// Sets an environment variable for the test's lifetime.
using EnvScope = testsupport::ScopedEnv;

}  // namespace users_test
