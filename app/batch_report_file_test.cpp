#include "app/batch_report_file.h"

#include <gtest/gtest.h>

#include <string>

#include "app/app_test_support.h"
#include "batchlog/fichier_log_batch.h"
#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;

class ReportFile : public testing::Test {
  protected:
    void SetUp() override {
        apptest::LoadTestCatalogue(m_dir);
        m_report.SetClock([] { return std::string("12/05/26 18:27:30"); });
        m_report.SetSleeper([](std::uint32_t) { FAIL() << "the report is not held by anyone"; });
    }

    std::string Text() const { return ReadBytes(m_dir.File("batchreport.txt")); }

    TempDir m_dir;
    KvBatchReportFile m_report{CString(m_dir.File("batchreport.txt"))};
};

TEST_F(ReportFile, EveryLineKindWithItsCatalogueText) {
    FichierLogBatch log;
    log.m_eventList.Add("Simulation started");
    log.m_eventList.Add("Tool T12 at 100% load");
    log.m_nbAlerts = 2;
    log.m_nbErrors = 13;

    ASSERT_TRUE(m_report.Open("a+"));
    m_report.WriteJobStarted("Jean Dupont",
                             "C:\\Jobs\\pi\xE8"
                             "ce 1.gam");
    m_report.WriteJobEnded("Jean Dupont",
                           "C:\\Jobs\\pi\xE8"
                           "ce 1.gam");
    m_report.WriteJobResult(true);
    m_report.WriteJobSummary(log);
    m_report.WriteJobStarted("anne", "%s%d");
    m_report.WriteJobEnded("anne", "%s%d");
    m_report.WriteJobSkipped();
    m_report.WriteJobResult(false);
    m_report.Close();

    EXPECT_EQ(Text(),
              "12/05/26 18:27:30 -> User \"Jean Dupont\": starts job \"C:\\Jobs\\pi\xE8"
              "ce 1.gam\"\r\n"
              "12/05/26 18:27:30 -> User \"Jean Dupont\": ended job \"C:\\Jobs\\pi\xE8"
              "ce 1.gam\"\r\n"
              "Simulation succeeded: 1\r\n"
              "Event: Simulation started\r\n"
              "Event: Tool T12 at 100% load\r\n"
              "Alerts: 2\r\n"
              "Errors: 13\r\n"
              "\r\n"
              "12/05/26 18:27:30 -> User \"anne\": starts job \"%s%d\"\r\n"
              "12/05/26 18:27:30 -> User \"anne\": ended job \"%s%d\"\r\n"
              "Skipped: the previous job did not succeed (100% sure)\r\n"
              "Simulation succeeded: 0\r\n");
}

TEST_F(ReportFile, SummaryOfALogReadFromItsFile) {
    // A log as the launcher finds it after a job: written to disk, read back.
    std::string logPath = m_dir.File("job.log");
    FichierLogBatch written;
    written.m_nbAlerts = 0;
    written.m_nbErrors = 0;
    written.AddEvent(CString(logPath), "Cannot start the job: \"C:\\x\\TorvaneBatch.bat\"");
    FichierLogBatch read;
    ASSERT_EQ(read.Load(CString(logPath)), 0);

    ASSERT_TRUE(m_report.Open("a+"));
    m_report.WriteJobSummary(read);
    m_report.Close();
    EXPECT_EQ(Text(),
              "Event: Cannot start the job: \"C:\\x\\TorvaneBatch.bat\"\r\n"
              "Alerts: 0\r\n"
              "Errors: 0\r\n"
              "\r\n");

    // A log without events still gives its counts and the block's end.
    FichierLogBatch empty;
    empty.m_nbAlerts = -1;
    ASSERT_TRUE(m_report.Open("a+"));
    m_report.WriteJobSummary(empty);
    m_report.Close();
    EXPECT_EQ(Text().substr(Text().find("\r\n\r\n") + 4), "Alerts: -1\r\nErrors: 0\r\n\r\n");
}

TEST_F(ReportFile, NoLineReachesAFileNotOpenForAppending) {
    FichierLogBatch log;
    log.m_eventList.Add("event");
    // Closed.
    m_report.WriteJobStarted("u", "j");
    m_report.WriteJobSummary(log);
    // Open for rewriting, as the queue is.
    testsupport::WriteBytes(m_dir.File("batchreport.txt"), "kept\r\n");
    ASSERT_TRUE(m_report.Open("r+"));
    m_report.WriteJobStarted("u", "j");
    m_report.WriteJobEnded("u", "j");
    m_report.WriteJobSkipped();
    m_report.WriteJobResult(true);
    m_report.WriteJobSummary(log);
    m_report.Close();
    EXPECT_EQ(Text(), "kept\r\n");
}

TEST_F(ReportFile, MissingTextsGiveTheCatalogueFallback) {
    testsupport::WriteBytes(m_dir.File("en.txt"), "[20,0,0,8] Result: \n");
    ASSERT_TRUE(g_userMessages.SelectLanguage("EN"));
    ASSERT_TRUE(m_report.Open("a+"));
    m_report.WriteJobStarted("u", "j");
    m_report.WriteJobResult(true);
    m_report.Close();
    EXPECT_EQ(Text(),
              "12/05/26 18:27:30 -> Unknown message\"u\"Unknown message\"j\"\r\n"
              "Result: 1\r\n");
}

}  // namespace
