#include "tools/sim_job.h"

#include <tuple>

#include "tools/end_to_end_test_support.h"

namespace {

using namespace torvanesim;
namespace fs = std::filesystem;

TEST(SimArguments, TakesTheLaunchersCommandLineInAnyOrderAndRefusesAnythingElse) {
    SimArguments parsed;
    std::string error;
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
    // simuOK, crash, sleepMs and the numbers of events, alerts and errors.
    using Outcome = std::tuple<bool, bool, std::uint32_t, std::size_t, std::size_t, std::size_t>;
    struct Row {
        const char* job;
        unsigned extraEvents;
        std::uint32_t settingsSleepMs;
        Outcome expected;
    };
    const std::uint32_t slow = kSlowJobMs;
    for (const Row& row : {
             Row{"parts\\bracket.gam", 0, 0, {true, false, 0, 1, 0, 0}},
             Row{"Housing-FAIL.gam", 0, 0, {false, false, 0, 1, 0, 1}},
             Row{"shaft_Events", 0, 0, {true, false, 0, 3, 2, 0}},
             Row{"crash-fail", 0, 0, {true, true, 0, 0, 0, 0}},
             Row{"SlowJob", 0, 0, {true, false, slow, 1, 0, 0}},
             // Words combine: a failing job may also report events.
             Row{"events-fail", 0, 0, {false, false, 0, 3, 2, 1}},
             Row{"slow events", 1000, 250, {true, false, slow + 250, 1003, 2, 0}},
         }) {
        SCOPED_TRACE(row.job);
        const JobPlan plan =
            PlanJob(row.job, {.extraEvents = row.extraEvents, .sleepMs = row.settingsSleepMs});
        EXPECT_EQ(Outcome(plan.simuOK, plan.crash, plan.sleepMs, plan.events.size(),
                          plan.alerts.size(), plan.errors.size()),
                  row.expected);
    }
}

TEST(SimSettings, ReadFromTheEnvironmentWithLimits) {
    struct Row {
        const char *events, *sleep, *child;
        std::tuple<unsigned, std::uint32_t, std::uint32_t> expected;
    };
    for (const Row& row :
         {Row{"12", "30", "1500", {12, 30, 1500}},
          Row{"99999999999999999999999", "12ms", "86400000", {1000000, 0, 3600000}},
          Row{"99999999999999999999999x", "", "-1", {0, 0, 0}}}) {
        SCOPED_TRACE(row.events);
        users_test::EnvScope events("TORVANE_SIM_EXTRA_EVENTS", row.events);
        users_test::EnvScope sleep("TORVANE_SIM_SLEEP_MS", row.sleep);
        users_test::EnvScope child("TORVANE_SIM_CHILD_MS", row.child);
        const SimSettings read = ReadSettings();
        EXPECT_EQ(std::make_tuple(read.extraEvents, read.sleepMs, read.childMs), row.expected);
    }
    EXPECT_EQ(ReadSettings().childMs, 0u) << "unset";
}

// The system catalogue and a users list with "alice", batch folder "Batch\".
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
    int Run(const std::string& user, std::string& errors, const std::string& self = "") {
        const int status = RunSimulator({"-b", "-u", user, "-j", "job"}, errors, m_missing, self);
        EXPECT_TRUE(m_missing.ok()) << m_missing.ToString();
        return status;
    }
    fs::path Batch() const { return m_dir.path() / "alice" / "Batch"; }
    testsupport::TempDir m_dir;
    platform::ScopedTestSettings m_settings;
    platform::Status m_missing;
};

TEST_F(SimRun, UnknownUserAndMissingSettingsAreReported) {
    struct Row {
        const char *user, *setting, *file, *said;
    };
    // Each row keeps the broken setting of the rows before it.
    for (const Row& row : {Row{"Alice", "", "", "no user \"Alice\""},
                           Row{"alice", "FILEUSERS", "nothing.tvu", "nothing.tvu"},
                           Row{"alice", "FILEMSGSYS", "nothing.txt", "FILEMSGSYS"}}) {
        SCOPED_TRACE(row.said);
        if (*row.setting != '\0')
            Set(row.setting, m_dir.File(row.file));
        std::string errors;
        EXPECT_EQ(Run(row.user, errors), kExitSettings);
        EXPECT_NE(errors.find(row.said), std::string::npos) << errors;
        EXPECT_FALSE(fs::exists(Batch() / "job.log"));
    }
    std::string errors;
    EXPECT_EQ(RunSimulator({"-u", "alice"}, errors, m_missing), kExitUsage);
    EXPECT_NE(errors.find("usage"), std::string::npos) << errors;

    // Without the product key: nothing on standard error, the failure for
    // main to show, and no log.
    errors.clear();
    ASSERT_TRUE(platform::DeleteSettingsKey(platform::SettingsRoot::LocalMachine,
                                            GetRegistryKeyPath().str()));
    EXPECT_EQ(RunSimulator({"-b", "-u", "alice", "-j", "job"}, errors, m_missing),
              kExitSettingsMissing);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(m_missing.code(), platform::Status::Code::kSettingsMissing);
    EXPECT_NE(m_missing.message().find("Torvane8"), std::string::npos);
    EXPECT_FALSE(fs::exists(Batch() / "job.log"));
}

// The counterpart of the launcher's time-limit case: unended, the child marks.
TEST_F(SimRun, ALingeringChildOutlivesTheStandInAndLeavesItsMarker) {
    users_test::EnvScope child("TORVANE_SIM_CHILD_MS", "1500");
    std::string errors;
    ASSERT_EQ(Run("alice", errors, e2e::Program("torvane-sim")), kExitDone) << errors;
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(fs::exists(Batch() / "job.log"));
    // The stand-in has not waited for its child.
    EXPECT_FALSE(fs::exists(Batch() / "job.log.child"));
    // The marker is made, then written: wait for its text.
    ASSERT_TRUE(e2e::WaitUntil(30000, [&] {
        std::error_code error;
        return fs::file_size(Batch() / "job.log.child", error) > 0 && !error;
    }));
    EXPECT_EQ(testsupport::ReadBytes(Batch() / "job.log.child"), "lingered 1500 ms\n");
}

}  // namespace
