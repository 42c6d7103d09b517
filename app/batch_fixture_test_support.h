// A temporary installation for the tests of the queue file and the batch run:
// both catalogues, the product's settings, and users sharing one batch folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "app/batch_exec_file.h"
#include "app/install_paths.h"
#include "batchlog/fichier_log_batch.h"
#include "platform/settings_store_testing.h"
#include "testsupport/temp_dir.h"
#include "users/liste_users.h"
#include "users/users_test_support.h"

namespace apptest {

class BatchFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        users_test::LoadSystemCatalogue(dir);
        LoadTestCatalogue(dir);
        std::filesystem::create_directories(dir.path() / "batch");
        std::filesystem::create_directories(dir.path() / "install");
        batch = users_test::FolderForm(dir.path() / "batch");
        install = users_test::FolderForm(dir.path() / "install");
        ASSERT_TRUE(platform::SetSettingsString(platform::SettingsRoot::LocalMachine,
                                                GetRegistryKeyPath().str(), "REPSOFTWARE",
                                                install.str()));
    }

    // A users list of `names` (the first is the current user).
    void LoadUsers(const std::vector<std::string>& names) {
        std::vector<users_test::UserChapter> chapters;
        for (const std::string& name : names) {
            users_test::UserChapter chapter(name);
            if (chapters.empty())
                chapter.Current();
            chapter.Folder(17, 0, batch.Left(batch.GetLength() - 1).str());
            chapters.push_back(chapter);
        }
        testsupport::WriteBytes(dir.path() / "users.txt", users_test::UsersFile(chapters));
        ASSERT_EQ(users.Load(dir.File("users.txt")), 0);
    }

    std::filesystem::path BatchFile(const std::string& name) const {
        return dir.path() / "batch" / name;
    }
    std::string ReadBatchFile(const std::string& name) const {
        return testsupport::ReadBytes(BatchFile(name));
    }
    void WriteBatchFile(const std::string& name, const std::string& bytes) const {
        testsupport::WriteBytes(BatchFile(name), bytes);
    }

    testsupport::TempDir dir;
    platform::ScopedTestSettings settings{platform::RegFileEncoding::Ansi};
    ListeUsers users;
    CString batch;
    CString install;
};

}  // namespace apptest
