// Fuzz target: the users list, loaded the way the launcher loads it at
// start-up, followed by what the launcher asks of it: the current user, its
// batch folder, a job's log path, the batch project file and a user by name.
//
// Loading a users list moves folder contents and finding a batch project file
// may create a folder, so the harness keeps the input from reaching the real
// file system: the environment is emptied (no expansion can turn one path
// into another), the working folder is the scratch folder (relative paths
// stay there), and the batch project file is only asked for when that asks
// for no new folder, or when the one folder it would create is "home\BATCH"
// inside the scratch folder.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_support.h"
#include "messages/catalogue.h"
#include "users/liste_users.h"

namespace {

// The keys of a user record: texts of the system catalogue (1, n), the same
// words as the users tests use (users/users_test_support.h).
std::string SystemCatalogue() {
    static const struct {
        int kind;
        int mode;
        int path;
        int sub;
    } kinds[] = {
        {1, 25, 26, 24},  {2, 4, 5, 3},     {3, 7, 8, 6},     {4, 10, 11, 9},   {5, 13, 14, 12},
        {6, 16, 17, 15},  {7, 19, 20, 18},  {8, 22, 23, 21},  {9, 28, 29, 27},  {10, 44, 45, 43},
        {11, 31, 32, 30}, {12, 34, 35, 33}, {14, 37, 38, 36}, {13, 47, 48, 46},
    };
    std::string text =
        "[1,1] Nom utilisateur\n[1,2] Administrateur\n[1,41] Utilisateur courant\n"
        "[1,42] Code acces\n[1,39] Mode base\n[1,40] Chemin base\n";
    for (const auto& k : kinds) {
        const std::string kind = std::to_string(k.kind);
        text += "[1," + std::to_string(k.mode) + "] Mode dossier " + kind + "\n";
        text += "[1," + std::to_string(k.path) + "] Chemin dossier " + kind + "\n";
        text += "[1," + std::to_string(k.sub) + "] Sous" + kind + "\\\n";
    }
    return text;
}

void Fail(const char* what) {
    std::fprintf(stderr, "users_list_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    const std::string catalogue = fuzzsupport::ScratchFile("msgsys.txt");
    fuzzsupport::WriteFile(catalogue, SystemCatalogue());
    if (!g_systemMessages.LoadSystemCatalogue(catalogue.c_str()))
        Fail("the system catalogue does not load");
    if (clearenv() != 0)
        Fail("clearenv failed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = fuzzsupport::ScratchFolder();
    static const std::string path = fuzzsupport::ScratchFile("users.txt");
    // A folder move changes the working folder; every run starts from here.
    if (chdir(folder.c_str()) != 0)
        Fail("cannot enter the scratch folder");
    fuzzsupport::WriteFile(path, data, size);

    ListeUsers users;
    if (users.Load(path.c_str()) == KvFile::kLoaded) {
        CUser* current = users.GetCurrentUser();
        if (current != nullptr) {
            const CString batch = current->GetFolder(CUser::kBatchFolder);
            const CString log = current->GetJobLogPath("C:\\Jobs\\piece.v2.tvs");
            if (!batch.IsEmpty() && !StartsWithNoCase(log.str(), batch.str()))
                Fail("a job log lies outside the batch folder");
            if (!batch.IsEmpty() || current->GetFolderRaw(CUser::kBaseFolder) == "home\\")
                current->GetBatchProjectPath();
            if (users.FindUser(current->GetName()) == nullptr)
                Fail("the current user is not found by its own name");
        }
        users.FindUser("public");
        for (CUser& user : users.Users()) user.GetFolder(CUser::kBatchFolder);
    }
    return 0;
}
