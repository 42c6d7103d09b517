#include "app/launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "app/app_test_support.h"
#include "batchlog/fichier_log_batch.h"
#include "platform/child_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

bool AlwaysBatch() {
    return true;
}
bool NeverBatch() {
    return false;
}

std::vector<std::string>& Recorded() {
    static std::vector<std::string> messages;
    return messages;
}
void RecordMessage(CString message) {
    Recorded().push_back(message.str());
}

// The test catalogue, batch mode on, and messages recorded.
class Reporting : public testing::Test {
  protected:
    void SetUp() override {
        apptest::LoadTestCatalogue(dir);
        BatchModeHook = AlwaysBatch;
        ErrorMessageHook = RecordMessage;
        Recorded().clear();
    }
    TempDir dir;
    apptest::HookScope hooks;
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

TEST_F(Reporting, InBatchModeTheMessageGoesToTheHook) {
    ReportError(1, 1, "\"C:\\T\\TorvaneBatch.bat\" -b");
    ReportError(7, 7, "detail 100%");
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
    EXPECT_EQ(LaunchProcess("\"x.bat\" -b", 1, 0, nullptr, 1, fake), 1);
    EXPECT_EQ(asked(), std::tuple(true, true, false, none));
    // Nothing to minimise without a wait.
    EXPECT_EQ(LaunchProcess("\"y.bat\"", 0, 1, &window, 0, fake), 1);
    EXPECT_EQ(asked(), std::tuple(false, false, false, static_cast<void*>(&window)));
    EXPECT_EQ(LaunchProcess("\"y.bat\"", 1, 1, &window, 1, fake), 1);
    EXPECT_EQ(asked(), std::tuple(true, true, true, static_cast<void*>(&window)));
    EXPECT_TRUE(Recorded().empty());

    create = false;
    EXPECT_EQ(LaunchProcess("\"missing.bat\" -b -u \"a b\"", 1, 0, nullptr, 1, fake), 0);
    EXPECT_EQ(lines.back(), "\"missing.bat\" -b -u \"a b\"");
    EXPECT_EQ(Recorded(),
              (std::vector<std::string>{"Cannot start the job: \"missing.bat\" -b -u \"a b\""}));
}

// Writes each argument after argv[1] as one line of the file argv[1].
TV_TEST_CHILD(record_arguments) {
    if (argc < 2)
        return 4;
    std::string text;
    for (int i = 2; i < argc; ++i) text += std::string(argv[i]) + "\n";
    WriteBytes(argv[1], text);
    return 0;
}

// An installation folder whose TorvaneBatch.bat hands its arguments on to
// the test binary, which writes them to `record`.
std::string MakeInstallation(const TempDir& dir, const std::string& record) {
    std::filesystem::create_directory(dir.path() / "Torvane 8");
    std::string folder = dir.File("Torvane 8") + "\\";
    const std::string& self = testsupport::TestExecutablePath();
    std::string child = testsupport::ChildArgument("record_arguments");
#ifdef _WIN32
    WriteBytes(dir.path() / "Torvane 8" / "TorvaneBatch.bat",
               "@echo off\r\n\"" + self + "\" " + child + " \"" + record + "\" %*\r\n");
#else
    WriteBytes(dir.path() / "Torvane 8" / "TorvaneBatch.bat",
               "#!/bin/sh\nexec '" + self + "' " + child + " '" + record + "' \"$@\"\n");
    std::filesystem::permissions(dir.path() / "Torvane 8" / "TorvaneBatch.bat",
                                 std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
#endif
    return folder;
}

TEST_F(Reporting, TheScriptGetsTheJobCommandLineAsFiveArgumentsAndIsWaitedFor) {
    std::string record = dir.File("arguments.txt");
    std::string folder = MakeInstallation(dir, record);
    CString line = JobCommandLine(JobScript(folder), "Jean Dupont", "my jobs\\part 1.gam");
    EXPECT_EQ(LaunchProcess(line, 1, 0, nullptr, 1), 1);
    // Waited for: the record is there as soon as LaunchProcess returns.
    ASSERT_TRUE(std::filesystem::exists(record));
    EXPECT_EQ(ReadBytes(record), "-b\n-u\nJean Dupont\n-j\nmy jobs\\part 1.gam\n");
    EXPECT_TRUE(Recorded().empty());
}

TEST_F(Reporting, AScriptThatCannotStartBecomesAnEventInTheJobsLog) {
    // As the entry point installs it.
    ErrorMessageHook = AppendEventToJobLog;
    std::string logPath = dir.File("part.log");
    g_currentJobLogPath = logPath;
    CString line = JobCommandLine(JobScript(dir.File("nowhere") + "\\"), "anne", "part");
    EXPECT_EQ(LaunchProcess(line, 1, 0, nullptr, 1), 0);

    FichierLogBatch log;
    ASSERT_EQ(log.Load(CString(logPath)), 0);
    ASSERT_EQ(log.m_eventList.GetCount(), 1u);
    EXPECT_EQ(CString(log.m_eventList[0]), "Cannot start the job: " + line);
    EXPECT_FALSE(log.m_simuOK);

    // A log left at that path by an earlier run keeps its flag and events.
    log.m_simuOK = true;
    ASSERT_EQ(log.Save(CString(logPath)), 0);
    EXPECT_EQ(LaunchProcess(line, 1, 0, nullptr, 1), 0);
    FichierLogBatch again;
    ASSERT_EQ(again.Load(CString(logPath)), 0);
    EXPECT_TRUE(again.m_simuOK);
    ASSERT_EQ(again.m_eventList.GetCount(), 2u);
    EXPECT_EQ(CString(again.m_eventList[1]), "Cannot start the job: " + line);
}

// Reports an error with the catalogue of the folder argv[1]; argv[2] chooses
// the hooks: "none", "no" (batch mode answers false) or "nohook" (batch mode
// without a message hook).
TV_TEST_CHILD(report_error_box) {
    if (argc < 3)
        return 4;
    std::string folder = argv[1];
    if (!g_userMessages.LoadLanguageList(CString(folder + "/languages.txt")) ||
        !g_userMessages.SelectLanguage("EN"))
        return 5;
    std::string hooks = argv[2];
    BatchModeHook = hooks == "none" ? nullptr : hooks == "no" ? NeverBatch : AlwaysBatch;
    ErrorMessageHook = nullptr;
    ReportError(1, 1, "\"C:\\T\\TorvaneBatch.bat\" -b");
    return 0;
}

// The child loads the catalogue the fixture wrote.
TEST_F(Reporting, OutsideBatchModeAMessageBoxWithTheCatalogueTitleShowsIt) {
    for (const char* hooks : {"none", "no", "nohook"}) {
        SCOPED_TRACE(hooks);
        platform::CapturedRun run = platform::RunAndCapture(
            testsupport::TestExecutablePath(),
            {testsupport::ChildArgument("report_error_box"), dir.path().string(), hooks});
        ASSERT_TRUE(run.started) << run.reason;
        EXPECT_EQ(run.exitCode, 0) << run.err;
        // The host shows no box here and writes "title: text" instead.
        EXPECT_EQ(apptest::WithoutCarriageReturns(run.err),
                  "Torvane batch: Cannot start the job: \"C:\\T\\TorvaneBatch.bat\" -b\n");
    }
}

}  // namespace
