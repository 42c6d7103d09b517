#include "app/launch.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/app_test_support.h"
#include "platform/child_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"

namespace {

using testsupport::TempDir;

std::vector<std::string>& Recorded() {
    static std::vector<std::string> messages;
    return messages;
}
const ErrorSink kRecord = [](const CString& message) { Recorded().push_back(message.str()); };

// The test catalogue, and messages recorded by kRecord.
class Reporting : public testing::Test {
  protected:
    void SetUp() override {
        apptest::LoadTestCatalogue(dir);
        Recorded().clear();
    }
    TempDir dir;
};

TEST(JobCommandLine, ScriptUserAndJobEachStandInDoubleQuotes) {
    CString script = JobScript("C:\\Program Files\\Torvane 8\\");
    EXPECT_EQ(script, "\"C:\\Program Files\\Torvane 8\\TorvaneBatch.bat\"");
    EXPECT_EQ(JobCommandLine(script, "Jean Dupont",
                             "C:\\Gammes\\pi\xE8"
                             "ce n\xB0 2.gam"),
              "\"C:\\Program Files\\Torvane 8\\TorvaneBatch.bat\" -b -u \"Jean Dupont\" -j "
              "\"C:\\Gammes\\pi\xE8"
              "ce n\xB0 2.gam\"");
    // Names are passed as they stand: nothing is escaped or trimmed.
    EXPECT_EQ(JobCommandLine("\"D:\\TorvaneBatch.bat\"", " Ren\xE9\xE9 ", "50% %s"),
              "\"D:\\TorvaneBatch.bat\" -b -u \" Ren\xE9\xE9 \" -j \"50% %s\"");
    EXPECT_EQ(JobCommandLine(JobScript(""), "", ""), "\"TorvaneBatch.bat\" -b -u \"\" -j \"\"");
}

TEST_F(Reporting, WithASinkTheMessageGoesToIt) {
    ReportError(1, 1, "\"C:\\T\\TorvaneBatch.bat\" -b", kRecord);
    ReportError(7, 7, "detail 100%", kRecord);
    EXPECT_EQ(Recorded(),
              (std::vector<std::string>{"Cannot start the job: \"C:\\T\\TorvaneBatch.bat\" -b",
                                        "Unknown message detail 100%"}));
}

TEST_F(Reporting, LaunchProcessPassesTheRequestToTheLauncherAndReportsOnlyCreationFailures) {
    std::vector<std::string> lines;
    platform::LaunchOptions seen;
    bool create = true;
    ProcessLauncher fake = [&](std::string_view line, const platform::LaunchOptions& options) {
        lines.emplace_back(line);
        seen = options;
        platform::LaunchResult result;
        result.created = create;
        result.exitCode = 3;  // a failing job still counts as started
        return result;
    };
    // What the launcher was asked for: wait, show, minimise, window.
    auto asked = [&] {
        return std::tuple(seen.wait, seen.show, seen.minimizeWhileWaiting, seen.window);
    };
    int window = 0;
    void* const none = nullptr;
    // The batch run's call: wait, no minimising, no window, shown.
    EXPECT_EQ(LaunchProcess("\"x.bat\" -b", 1, 0, nullptr, 1, fake, kRecord), 1);
    EXPECT_EQ(asked(), std::tuple(true, true, false, none));
    // Nothing to minimise without a wait.
    EXPECT_EQ(LaunchProcess("\"y.bat\"", 0, 1, &window, 0, fake, kRecord), 1);
    EXPECT_EQ(asked(), std::tuple(false, false, false, static_cast<void*>(&window)));
    EXPECT_EQ(LaunchProcess("\"y.bat\"", 1, 1, &window, 1, fake, kRecord), 1);
    EXPECT_EQ(asked(), std::tuple(true, true, true, static_cast<void*>(&window)));
    EXPECT_TRUE(Recorded().empty());

    create = false;
    EXPECT_EQ(LaunchProcess("\"missing.bat\" -b -u \"a b\"", 1, 0, nullptr, 1, fake, kRecord), 0);
    EXPECT_EQ(lines.back(), "\"missing.bat\" -b -u \"a b\"");
    EXPECT_EQ(Recorded(),
              (std::vector<std::string>{"Cannot start the job: \"missing.bat\" -b -u \"a b\""}));
}

// Reports an error, with no sink, with the catalogue of the folder argv[1].
TV_TEST_CHILD(report_error_box) {
    if (argc < 2)
        return 4;
    std::string folder = argv[1];
    if (!g_userMessages.LoadLanguageList(CString(folder + "/languages.txt")) ||
        !g_userMessages.SelectLanguage("EN"))
        return 5;
    ReportError(1, 1, "\"C:\\T\\TorvaneBatch.bat\" -b");
    return 0;
}

// The child loads the catalogue the fixture wrote.
TEST_F(Reporting, WithoutASinkAMessageBoxWithTheCatalogueTitleShowsIt) {
    platform::CapturedRun run = platform::RunAndCapture(
        testsupport::TestExecutablePath(),
        {testsupport::ChildArgument("report_error_box"), dir.path().string()});
    ASSERT_TRUE(run.started) << run.reason;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The host shows no box here and writes "title: text" instead.
    EXPECT_EQ(apptest::WithoutCarriageReturns(run.err),
              "Torvane batch: Cannot start the job: \"C:\\T\\TorvaneBatch.bat\" -b\n");
}

}  // namespace
