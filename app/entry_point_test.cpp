// The start-up sequence in-process, on an installation written by the test.
// The other ways of failing at start-up are run on the real program (tools/).
#include "app/entry_point.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/batch_fixture_test_support.h"
#include "platform/shared_file.h"
#include "testsupport/host_faults.h"

namespace {

class EntryPoint : public apptest::BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        LoadUsers({"anne"});
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

    int Main(std::vector<std::string> arguments = {}) {
        std::string program = "torvane-batch";
        std::vector<char*> argv{program.data()};
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        BatchRunHost host;
        host.sleep = [](std::uint32_t) {};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = TorvaneBatchMain(static_cast<int>(argv.size() - 1), argv.data(), host);
        output = testing::internal::GetCapturedStdout();
        errors = testing::internal::GetCapturedStderr();
        return status;
    }
    std::string output;
    std::string errors;
};

const char* const kBanner = "Torvane Batch v1.1.6 - Release\n";

TEST_F(EntryPoint, ASecondLauncherOnTheSameBatchFolderEndsAtOnce) {
    WriteBatchFile("batchexec.txt", "nb = 0\r\n");
    platform::ExclusiveOpen held =
        platform::TryOpenExclusive((batch + kLauncherLockName).str(), "w");
    ASSERT_TRUE(held.status.ok()) << held.status.ToString();
    EXPECT_EQ(Main(), 1);
    std::fclose(held.stream);
    EXPECT_EQ(output, kBanner);
    EXPECT_NE(errors.find("another launcher is already running"), std::string::npos) << errors;
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), "nb = 0\r\n");
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
    EXPECT_EQ(Main(), kOpenFailureExitStatus);
    EXPECT_EQ(output, kBanner);
    EXPECT_EQ(errors, "torvane-batch: cannot open \"" + report + "\": No space left on device\n");
    // The queue holds the job marked as started, for the next run; the lock is free.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), apptest::QueueText({{"anne", "a", 1}}));
    EXPECT_TRUE(platform::TryOpenExclusive((batch + kLauncherLockName).str(), "r").status.ok());
}

TEST_F(EntryPoint, AStrangerOrAnEngineThatCannotBeUsedLeavesTheQueueAsItWas) {
    const std::string queue = apptest::QueueText({{"anne", "part1"}});
    WriteBatchFile("batchexec.txt", queue);
    const std::string folder = batch.str();
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--run-job"},
          {"--run-job", folder, "anne", "part1", "0"},
          {"--run-job", folder, "anne", "part1", "0", "token", "more"},
          {"--Run-Job", folder, "anne", "part1", "0", "token"},
          // Well formed, but no submission of this queue holds that token.
          {"--run-job", folder, "anne", "part1", "0", "torvane-1-2-0-1"}}) {
        EXPECT_EQ(Main(arguments), 1) << arguments.size();
        EXPECT_EQ(output, "");
        EXPECT_EQ(ReadBatchFile("batchexec.txt"), queue);
    }

    // An engine that cannot be used (the choice is cluster/'s test): one line, status 2.
    SetValue("BATCHENGINE", "pbs");
    EXPECT_EQ(Main(), 2);
    EXPECT_EQ(output, "");
    EXPECT_EQ(errors.rfind("torvane-batch: ", 0), 0u) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << errors;
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), queue);
}

}  // namespace
