// The start-up sequence in-process: a whole run on an installation written by
// the test, catalogue failures, and the single-launcher lock. The other ways
// of failing at start-up are run on the real program by the end-to-end tests.
#include "app/entry_point.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/batch_test_fixture.h"
#include "platform/shared_file.h"
#include "testsupport/host_faults.h"

namespace {

namespace fs = std::filesystem;

class EntryPoint : public apptest::BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        users_test::UserChapter anne("anne");
        anne.Current().Folder(17, 0, batch.Left(batch.GetLength() - 1).str());
        testsupport::WriteBytes(dir.path() / "users.txt", users_test::UsersFile({anne}));
        SetValue("FILEMSGSYS", dir.File("msgsys.txt"));
        SetValue("FILEMSGU_TORVANE", dir.File("languages.txt"));
        SetValue("FILEUSERS", dir.File("users.txt"));
        ASSERT_TRUE(platform::SetSettingsString(platform::SettingsRoot::CurrentUser,
                                                GetRegistryKeyPath().str(), "LANGUAGE", "EN"));
    }
    void SetValue(const char* name, const std::string& value) {
        ASSERT_TRUE(platform::SetSettingsString(platform::SettingsRoot::LocalMachine,
                                                GetRegistryKeyPath().str(), name, value));
    }

    // Runs the program; its standard output goes to `output`.
    int Main(std::string& output) {
        char program[] = "torvane-batch";
        char* argv[] = {program, nullptr};
        BatchRunHost host;
        host.sleep = [](std::uint32_t) {};
        host.launcher = [](std::string_view, const platform::LaunchOptions&) {
            platform::LaunchResult result;
            result.created = true;
            return result;
        };
        testing::internal::CaptureStdout();
        int status = TorvaneBatchMain(1, argv, host);
        output = testing::internal::GetCapturedStdout();
        return status;
    }
};

const char* const kBanner = "Torvane Batch v1.1.6 - Release\n";

TEST_F(EntryPoint, ARunOnAnEmptyQueuePrintsTheBannerAndEndsWithZero) {
    WriteBatchFile("batchexec.txt", "nb = 0\r\n");
    std::string output;
    EXPECT_EQ(Main(output), 0);
    EXPECT_EQ(output, kBanner);
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
    EXPECT_EQ(g_users, nullptr);
}

TEST_F(EntryPoint, MissingOrBrokenCataloguesAreNamedOnStandardOutput) {
    std::string output;
    ASSERT_TRUE(platform::DeleteSettingsValue(platform::SettingsRoot::LocalMachine,
                                              GetRegistryKeyPath().str(), "FILEMSGSYS"));
    EXPECT_EQ(Main(output), 1);
    EXPECT_EQ(output, "File does not exist : \n");

    // A path with "%" is printed as it stands.
    SetValue("FILEMSGSYS", dir.File("missing 100%s %d.txt"));
    EXPECT_EQ(Main(output), 1);
    EXPECT_EQ(output, "File does not exist : " + dir.File("missing 100%s %d.txt") + "\n");
}

TEST_F(EntryPoint, ASecondLauncherOnTheSameBatchFolderEndsAtOnce) {
    WriteBatchFile("batchexec.txt", "nb = 0\r\n");
    platform::ExclusiveOpen held =
        platform::TryOpenExclusive((batch + kLauncherLockName).str(), "w");
    ASSERT_TRUE(held.status.ok()) << held.status.ToString();
    std::string output;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Main(output), 1);
    std::string errors = testing::internal::GetCapturedStderr();
    std::fclose(held.stream);
    EXPECT_EQ(output, kBanner);
    EXPECT_NE(errors.find("another launcher is already running"), std::string::npos) << errors;
    // The queue was not touched.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), "nb = 0\r\n");

    // Once the first launcher is gone the lock is free again.
    EXPECT_EQ(Main(output), 0);
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
}

TEST_F(EntryPoint, AReportThatCannotBeOpenedStopsTheRunWithStatusTwoAndOneLine) {
    WriteBatchFile("batchexec.txt", apptest::QueueText({{"anne", "a"}}));
    const std::string report = (batch + "batchreport.txt").str();
    testsupport::ScopedFaultRule full(
        [&](platform::HostCall call,
            std::string_view path) -> std::optional<platform::InjectedFault> {
            if (call != platform::HostCall::kExclusiveOpen || path != report)
                return std::nullopt;
            return platform::InjectedFault{"No space left on device"};
        });
    std::string output;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Main(output), kOpenFailureExitStatus);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(output, kBanner);
    EXPECT_EQ(errors, "torvane-batch: cannot open \"" + report + "\": No space left on device\n");
    // The queue holds, whole, what was written before the failure: the job
    // marked as started, for the next run to take up. The lock is released.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), apptest::QueueText({{"anne", "a", 1}}));
    EXPECT_TRUE(platform::TryOpenExclusive((batch + kLauncherLockName).str(), "r").status.ok());
}

}  // namespace
