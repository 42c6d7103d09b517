#include "tools/sim_job.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/install_paths.h"
#include "platform/settings_store_testing.h"
#include "platform/sleep.h"
#include "testsupport/test_main.h"
#include "tools/end_to_end_test_support.h"
#include "users/users_test_support.h"

namespace {

using torvanesim::JobPlan;
using torvanesim::ParseArguments;
using torvanesim::PlanJob;
using torvanesim::SimArguments;
using torvanesim::SimSettings;

TEST(SimArguments, TakesTheLaunchersCommandLineInAnyOrderAndRefusesAnythingElse) {
    SimArguments parsed;
    std::string error;
    ASSERT_TRUE(ParseArguments({"-b", "-u", "alice", "-j", "parts\\a b & c.gam"}, parsed, error))
        << error;
    EXPECT_EQ(parsed.user, "alice");
    EXPECT_EQ(parsed.job, "parts\\a b & c.gam");
    ASSERT_TRUE(ParseArguments({"-j", "-u", "-u", "-j", "-b"}, parsed, error)) << error;
    EXPECT_EQ(parsed.job, "-u");
    EXPECT_EQ(parsed.user, "-j");

    const std::vector<std::vector<std::string>> bad = {
        {},
        {"-u", "alice", "-j", "job"},                     // no batch mode
        {"-b", "-j", "job"},                              // no user
        {"-b", "-u", "alice"},                            // no job
        {"-b", "-u", "alice", "-j"},                      // option without value
        {"-b", "-u", "", "-j", "job"},                    // empty user
        {"-b", "-u", "alice", "-j", "job", "extra"},      // stray argument
        {"-b", "-b", "-u", "alice", "-j", "job"},         // repeated option
        {"-b", "-u", "alice", "-u", "bob", "-j", "job"},  // repeated value
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseArguments(args, parsed, error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimPlan, TheJobsNameDecidesItsOutcomeAndSettingsAddEventsAndAPause) {
    struct Row {
        const char* job;
        unsigned extraEvents;
        std::uint32_t settingsSleepMs;
        bool simuOK, crash;
        std::uint32_t sleepMs;
        std::size_t events, alerts, errors;
    };
    const std::uint32_t slow = torvanesim::kSlowJobMs;
    for (const Row& row : {
             Row{"parts\\bracket.gam", 0, 0, true, false, 0, 1, 0, 0},
             Row{"Housing-FAIL.gam", 0, 0, false, false, 0, 1, 0, 1},
             Row{"shaft_Events", 0, 0, true, false, 0, 3, 2, 0},
             Row{"crash-fail", 0, 0, true, true, 0, 0, 0, 0},
             Row{"SlowJob", 0, 0, true, false, slow, 1, 0, 0},
             // Words combine: a failing job may also report events.
             Row{"events-fail", 0, 0, false, false, 0, 3, 2, 1},
             Row{"slow events", 1000, 250, true, false, slow + 250, 1003, 2, 0},
         }) {
        SCOPED_TRACE(row.job);
        SimSettings settings;
        settings.extraEvents = row.extraEvents;
        settings.sleepMs = row.settingsSleepMs;
        const JobPlan plan = PlanJob(row.job, settings);
        EXPECT_EQ(plan.simuOK, row.simuOK);
        EXPECT_EQ(plan.crash, row.crash);
        EXPECT_EQ(plan.sleepMs, row.sleepMs);
        EXPECT_EQ(plan.events.size(), row.events);
        EXPECT_EQ(plan.alerts.size(), row.alerts);
        EXPECT_EQ(plan.errors.size(), row.errors);
    }
}

TEST(SimSettings, ReadFromTheEnvironmentWithLimits) {
    users_test::EnvScope events("TORVANE_SIM_EXTRA_EVENTS", "12");
    users_test::EnvScope sleep("TORVANE_SIM_SLEEP_MS", "30");
    SimSettings settings = torvanesim::ReadSettings();
    EXPECT_EQ(settings.extraEvents, 12u);
    EXPECT_EQ(settings.sleepMs, 30u);

    users_test::EnvScope huge("TORVANE_SIM_EXTRA_EVENTS", "99999999999999999999999");
    users_test::EnvScope junk("TORVANE_SIM_SLEEP_MS", "12ms");
    settings = torvanesim::ReadSettings();
    EXPECT_EQ(settings.extraEvents, 1000000u);
    EXPECT_EQ(settings.sleepMs, 0u);

    users_test::EnvScope hugeJunk("TORVANE_SIM_EXTRA_EVENTS", "99999999999999999999999x");
    EXPECT_EQ(torvanesim::ReadSettings().extraEvents, 0u);

    EXPECT_EQ(torvanesim::ReadSettings().childMs, 0u);
    users_test::EnvScope child("TORVANE_SIM_CHILD_MS", "1500");
    EXPECT_EQ(torvanesim::ReadSettings().childMs, 1500u);
    users_test::EnvScope longChild("TORVANE_SIM_CHILD_MS", "86400000");
    EXPECT_EQ(torvanesim::ReadSettings().childMs, 3600u * 1000);
}

TEST(SimLinger, SleepsThenWritesItsMarkerAndRefusesAnythingElse) {
    testsupport::TempDir dir;
    std::string errors;
    const std::string marker = dir.File("job.log.child");
    ASSERT_EQ(torvanesim::RunLinger({"0", marker}, errors), torvanesim::kExitDone) << errors;
    EXPECT_EQ(testsupport::ReadBytes(marker), "lingered 0 ms\n");

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {}, {"10"}, {"ten", marker}, {"10", ""}, {"10", marker, "more"}}) {
        errors.clear();
        EXPECT_EQ(torvanesim::RunLinger(bad, errors), torvanesim::kExitUsage) << bad.size();
        EXPECT_NE(errors.find("usage"), std::string::npos) << errors;
    }
    errors.clear();
    EXPECT_EQ(torvanesim::RunLinger({"1", dir.File("no-folder") + "/job.log.child"}, errors),
              torvanesim::kExitSettings);
    EXPECT_NE(errors.find("no-folder"), std::string::npos) << errors;
}

// A small installation: the system catalogue and a users list with one
// current user whose batch folder is "Batch\" in its base folder.
class SimRun : public testing::Test {
  protected:
    void SetUp() override {
        users_test::LoadSystemCatalogue(m_dir);
        const std::string base = users_test::FolderForm(m_dir.path() / "alice").str();
        const std::string users = users_test::UsersFile(
            {users_test::UserChapter("alice").Current().Folder(0, 0, base).Folder(17, 1, "")});
        testsupport::WriteBytes(m_dir.path() / "users.tvu", users);
        Set("FILEMSGSYS", m_dir.File("msgsys.txt"));
        Set("FILEUSERS", m_dir.File("users.tvu"));
    }
    void Set(const std::string& name, const std::string& value) {
        ASSERT_TRUE(platform::SetSettingsString(platform::SettingsRoot::LocalMachine,
                                                GetRegistryKeyPath().str(), name, value));
    }
    int Run(const std::string& user, const std::string& job, std::string& errors) {
        platform::Status settingsMissing;
        int status =
            torvanesim::RunSimulator({"-b", "-u", user, "-j", job}, errors, settingsMissing);
        EXPECT_TRUE(settingsMissing.ok()) << settingsMissing.ToString();
        return status;
    }
    std::filesystem::path Batch() const { return m_dir.path() / "alice" / "Batch"; }
    // The real stand-in, built beside the test program.
    static std::string SimProgram() {
        const std::filesystem::path self(testsupport::TestExecutablePath());
        return (std::filesystem::absolute(self).parent_path() /
                ("torvane-sim" + self.extension().string()))
            .string();
    }

    testsupport::TempDir m_dir;
    platform::ScopedTestSettings m_settings;
    platform::Status m_settingsMissing;
};

TEST_F(SimRun, UnknownUserAndMissingSettingsAreReported) {
    std::string errors;
    EXPECT_EQ(Run("Alice", "job", errors), torvanesim::kExitSettings);
    EXPECT_NE(errors.find("no user \"Alice\""), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(Batch() / "job.log"));

    errors.clear();
    Set("FILEUSERS", m_dir.File("nothing.tvu"));
    EXPECT_EQ(Run("alice", "job", errors), torvanesim::kExitSettings);
    EXPECT_NE(errors.find("nothing.tvu"), std::string::npos) << errors;

    errors.clear();
    Set("FILEMSGSYS", m_dir.File("nothing.txt"));
    EXPECT_EQ(Run("alice", "job", errors), torvanesim::kExitSettings);
    EXPECT_NE(errors.find("FILEMSGSYS"), std::string::npos) << errors;

    errors.clear();
    EXPECT_EQ(torvanesim::RunSimulator({"-u", "alice"}, errors, m_settingsMissing),
              torvanesim::kExitUsage);
    EXPECT_NE(errors.find("usage"), std::string::npos) << errors;

    // Without the product key: nothing on standard error, the failure for
    // main to show, and no log.
    errors.clear();
    ASSERT_TRUE(platform::DeleteSettingsKey(platform::SettingsRoot::LocalMachine,
                                            GetRegistryKeyPath().str()));
    EXPECT_EQ(
        torvanesim::RunSimulator({"-b", "-u", "alice", "-j", "job"}, errors, m_settingsMissing),
        torvanesim::kExitSettingsMissing);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(m_settingsMissing.code(), platform::Status::Code::kSettingsMissing);
    EXPECT_NE(m_settingsMissing.message().find("Torvane8"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Batch() / "job.log"));
}

// The end-to-end time-limit case proves that the launcher ends such a child by
// the marker's absence; here, that the marker does come when nobody ends it.
TEST_F(SimRun, ALingeringChildOutlivesTheStandInAndLeavesItsMarker) {
    users_test::EnvScope child("TORVANE_SIM_CHILD_MS", "1500");
    std::string errors;
    ASSERT_EQ(torvanesim::RunSimulator({"-b", "-u", "alice", "-j", "job"}, errors,
                                       m_settingsMissing, SimProgram()),
              torvanesim::kExitDone)
        << errors;
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(std::filesystem::exists(Batch() / "job.log"));
    // The stand-in has not waited for its child.
    EXPECT_FALSE(std::filesystem::exists(Batch() / "job.log.child"));
    ASSERT_TRUE(
        e2e::WaitUntil(30000, [&] { return std::filesystem::exists(Batch() / "job.log.child"); }));
    EXPECT_EQ(testsupport::ReadBytes(Batch() / "job.log.child"), "lingered 1500 ms\n");
}

}  // namespace
