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
    log.m_eventList.Add("Two\r\nlines");  // written as the text stream would
    log.m_eventList.Add("");
    log.m_nbAlerts = 2;
    log.m_nbErrors = 13;

    const char* const job =
        "C:\\Jobs\\pi\xE8"
        "ce 1.gam";
    ASSERT_TRUE(m_report.Open("a+"));
    m_report.WriteJobStarted("Jean Dupont", job);
    m_report.WriteJobEnded("Jean Dupont", job);
    m_report.WriteJobResult(true);
    m_report.WriteJobSummary(log);
    m_report.WriteJobStarted("anne", "%s%d");
    m_report.WriteJobEnded("anne", "%s%d");
    m_report.WriteJobSkipped();
    m_report.WriteJobResult(false);
    m_report.Close();

    EXPECT_EQ(Text(), apptest::Started("Jean Dupont", job) + apptest::Ended("Jean Dupont", job) +
                          "Simulation succeeded: 1\r\nEvent: Simulation started\r\n"
                          "Event: Tool T12 at 100% load\r\nEvent: Two\r\r\nlines\r\n"
                          "Event: \r\nAlerts: 2\r\nErrors: 13\r\n\r\n" +
                          apptest::SkippedBlock("anne", "%s%d") + "Simulation succeeded: 0\r\n");
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
