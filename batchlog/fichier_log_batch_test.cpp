#include "batchlog/fichier_log_batch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// Lines as the text-mode stream writes them on either host.
std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

void AddTexts(KvListe<CString>& list, const std::vector<std::string>& texts) {
    for (const std::string& text : texts) *list.NewElement() = text;
}

std::vector<std::string> Texts(const KvListe<CString>& list) {
    std::vector<std::string> texts;
    list.ForEach([&](const CString& text) { texts.push_back(text.str()); });
    return texts;
}

// A job with two events (one of two lines), one alert and two machines: the
// first without channels, the second with channels of one and two messages.
void FillSample(FichierLogBatch& log) {
    log.m_jobName = "Gamme 12";
    log.m_userName = "Ann";
    log.m_isGammeMachineComplexe = true;
    log.m_simuOK = true;
    log.m_nbErrors = 3;
    log.m_nbAlerts = -1;
    AddTexts(log.m_eventList, {"Simulation started", "Tool 4 missing\r\nreplaced by tool 5"});
    AddTexts(log.m_alertList, {"Coolant low"});
    log.m_errorList.NewElement();
    KvListeErreurMachine* machine = log.m_errorList.NewElement();
    AddTexts(*machine->NewElement(), {"Collision at N120"});
    AddTexts(*machine->NewElement(), {"Axis X over travel", "Spindle stalled"});
}

const std::vector<std::string> kHead = {
    "[[Batch informations]]", "", "", "", "", "[Version]", "", "", "Version ft = 0.2",
    "Version = 0.1",          "", ""};

std::vector<std::string> SampleLines() {
    std::vector<std::string> lines = kHead;
    std::vector<std::string> body = {
        "",
        "",
        "[JOB INFORMATIONS]",
        "",
        "Job name = Gamme 12",
        "User name = Ann",
        "IsGammeMachineComplexe = 1",
        "SimuOK = 1",
        "Errors = 3",
        "Alerts = -1",
        "",
        "",
        "",
        "[EVENTS]",
        "",
        "Event list taille = 2",
        "Event list 0 = Simulation started",
        "Event list 1 = Tool 4 missing<saut>replaced by tool 5",
        "",
        "",
        "[ALERTS]",
        "",
        "Alerts list taille = 1",
        "Alerts list 0 = Coolant low",
        "",
        "",
        "[ERRORS]",
        "",
        "Machine list taille = 2",
        "",
        "",
        "",
        "",
        "[Machine list 0:nouvelle_section]",
        "",
        "Machine errors taille = 0",
        "",
        "",
        "",
        "",
        "[Machine list 1:nouvelle_section]",
        "",
        "Machine errors taille = 2",
        "",
        "",
        "",
        "",
        "[Machine list 1:Machine errors 0:nouvelle_section]",
        "",
        "Channel errors taille = 1",
        "Channel errors 0 = Collision at N120",
        "",
        "",
        "",
        "",
        "[Machine list 1:Machine errors 1:nouvelle_section]",
        "",
        "Channel errors taille = 2",
        "Channel errors 0 = Axis X over travel",
        "Channel errors 1 = Spindle stalled",
    };
    lines.insert(lines.end(), body.begin(), body.end());
    return lines;
}

void ExpectSample(FichierLogBatch& log) {
    EXPECT_EQ(log.m_jobName, "Gamme 12");
    EXPECT_EQ(log.m_userName, "Ann");
    EXPECT_TRUE(log.m_isGammeMachineComplexe);
    EXPECT_TRUE(log.m_simuOK);
    EXPECT_EQ(log.m_nbErrors, 3);
    EXPECT_EQ(log.m_nbAlerts, -1);
    EXPECT_EQ(
        Texts(log.m_eventList),
        (std::vector<std::string>{"Simulation started", "Tool 4 missing\r\nreplaced by tool 5"}));
    EXPECT_EQ(Texts(log.m_alertList), std::vector<std::string>{"Coolant low"});
    ASSERT_EQ(log.m_errorList.GetCount(), 2u);
    EXPECT_EQ(log.m_errorList.GetAt(0)->GetCount(), 0u);
    KvListeErreurMachine* machine = log.m_errorList.GetAt(1);
    ASSERT_EQ(machine->GetCount(), 2u);
    EXPECT_EQ(Texts(*machine->GetAt(0)), std::vector<std::string>{"Collision at N120"});
    EXPECT_EQ(Texts(*machine->GetAt(1)),
              (std::vector<std::string>{"Axis X over travel", "Spindle stalled"}));
}

TEST(FichierLogBatch, SavesTheDocumentedLinesAndLoadsThemBack) {
    TempDir dir;
    std::string path = dir.File("job.log");
    FichierLogBatch written;
    FillSample(written);
    ASSERT_EQ(written.Save(path), 0);
    EXPECT_EQ(ReadBytes(path), Lines(SampleLines()));

    // Loaded into an object that holds other values everywhere: every field
    // and every list is replaced, the tree keeps its shape.
    FichierLogBatch read;
    read.m_jobName = "old";
    read.m_nbErrors = 99;
    AddTexts(read.m_eventList, {"a", "b", "c"});
    AddTexts(read.m_alertList, {"x"});
    AddTexts(*read.m_errorList.NewElement()->NewElement(), {"stale"});
    ASSERT_EQ(read.Load(path), 0);
    ExpectSample(read);
    EXPECT_FALSE(read.IsModified());
}

TEST(FichierLogBatch, KeepsWhatTheFileLacksAndEmptiesItsLists) {
    TempDir dir;
    std::string path = dir.File("job.log");
    std::vector<std::string> lines = kHead;
    for (const char* line : {"[JOB INFORMATIONS]", "Job name = J7", "Errors = 5"})
        lines.push_back(line);
    WriteBytes(path, Lines(lines));

    FichierLogBatch fresh;
    ASSERT_EQ(fresh.Load(path), 0);
    EXPECT_EQ(fresh.m_jobName, "J7");
    EXPECT_EQ(fresh.m_nbErrors, 5);
    EXPECT_FALSE(fresh.m_simuOK);

    FichierLogBatch used;
    FillSample(used);
    ASSERT_EQ(used.Load(path), 0);
    EXPECT_EQ(used.m_jobName, "J7");
    EXPECT_EQ(used.m_userName, "Ann");
    EXPECT_TRUE(used.m_simuOK);
    EXPECT_TRUE(used.m_isGammeMachineComplexe);
    EXPECT_EQ(used.m_nbErrors, 5);
    EXPECT_EQ(used.m_nbAlerts, -1);
    EXPECT_EQ(used.m_eventList.GetCount(), 0u);
    EXPECT_EQ(used.m_alertList.GetCount(), 0u);
    EXPECT_EQ(used.m_errorList.GetCount(), 0u);
}

TEST(FichierLogBatch, SuccessFlagIsAnyNonZeroNumber) {
    TempDir dir;
    std::string path = dir.File("job.log");
    std::vector<std::string> lines = kHead;
    lines.push_back("[JOB INFORMATIONS]");
    lines.push_back("SimuOK = 2");
    WriteBytes(path, Lines(lines));
    FichierLogBatch log;
    ASSERT_EQ(log.Load(path), 0);
    EXPECT_TRUE(log.m_simuOK);

    lines.back() = "SimuOK = 0";
    WriteBytes(path, Lines(lines));
    ASSERT_EQ(log.Load(path), 0);
    EXPECT_FALSE(log.m_simuOK);
}

TEST(FichierLogBatch, RefusedFilesChangeNothing) {
    TempDir dir;
    FichierLogBatch log;
    FillSample(log);
    EXPECT_EQ(log.Load(dir.File("missing.log")), 5);
    ExpectSample(log);

    // Another major version is not read at all, lists included.
    std::string path = dir.File("job.log");
    std::vector<std::string> lines = kHead;
    lines[9] = "Version = 1.0";
    for (const char* line :
         {"[JOB INFORMATIONS]", "Job name = other", "[EVENTS]", "Event list taille = 0"})
        lines.push_back(line);
    WriteBytes(path, Lines(lines));
    EXPECT_EQ(log.Load(path), 0);
    ExpectSample(log);

    // Another title: refused.
    lines = kHead;
    lines[0] = "[[Liste utilisateurs]]";
    WriteBytes(path, Lines(lines));
    EXPECT_EQ(log.Load(path), 5);
    ExpectSample(log);
}

TEST(FichierLogBatch, DamagedCountsGiveEmptyOrBoundedLists) {
    TempDir dir;
    std::string path = dir.File("job.log");
    std::vector<std::string> lines = kHead;
    for (const char* line : {"[EVENTS]", "Event list taille = many", "Event list 0 = lost",
                             "[ALERTS]", "Alerts list taille = 1000005", "Alerts list 0 = first",
                             "Alerts list 999999 = last kept", "Alerts list 1000000 = dropped"})
        lines.push_back(line);
    WriteBytes(path, Lines(lines));

    FichierLogBatch log;
    AddTexts(log.m_eventList, {"before"});
    ASSERT_EQ(log.Load(path), 0);
    EXPECT_EQ(log.m_eventList.GetCount(), 0u);
    ASSERT_EQ(log.m_alertList.GetCount(), 1000000u);
    std::vector<std::string> alerts = Texts(log.m_alertList);
    EXPECT_EQ(alerts.front(), "first");
    EXPECT_EQ(alerts[1], "");
    EXPECT_EQ(alerts.back(), "last kept");
}

TEST(FichierLogBatch, AddEventCreatesAMissingLog) {
    TempDir dir;
    std::string path = dir.File("new.log");
    FichierLogBatch log;
    log.AddEvent(path, "Cannot start\r\nthe simulator");

    std::vector<std::string> lines = kHead;
    std::vector<std::string> body = {"",
                                     "",
                                     "[JOB INFORMATIONS]",
                                     "",
                                     "Job name = ",
                                     "User name = ",
                                     "IsGammeMachineComplexe = 0",
                                     "SimuOK = 0",
                                     "Errors = 0",
                                     "Alerts = 0",
                                     "",
                                     "",
                                     "",
                                     "[EVENTS]",
                                     "",
                                     "Event list taille = 1",
                                     "Event list 0 = Cannot start<saut>the simulator",
                                     "",
                                     "",
                                     "[ALERTS]",
                                     "",
                                     "Alerts list taille = 0",
                                     "",
                                     "",
                                     "[ERRORS]",
                                     "",
                                     "Machine list taille = 0"};
    lines.insert(lines.end(), body.begin(), body.end());
    EXPECT_EQ(ReadBytes(path), Lines(lines));

    FichierLogBatch read;
    ASSERT_EQ(read.Load(path), 0);
    EXPECT_EQ(Texts(read.m_eventList), std::vector<std::string>{"Cannot start\r\nthe simulator"});
}

TEST(FichierLogBatch, AddEventAppendsToAnExistingLogAndKeepsTheRest) {
    TempDir dir;
    std::string path = dir.File("job.log");
    {
        FichierLogBatch log;
        FillSample(log);
        ASSERT_EQ(log.Save(path), 0);
    }
    // Through the hook, as the error reporter calls it.
    g_currentJobLogPath = path;
    AppendEventToJobLog("Launch failed");
    g_currentJobLogPath.Empty();

    std::vector<std::string> lines = SampleLines();
    auto count = std::find(lines.begin(), lines.end(), "Event list taille = 2");
    ASSERT_NE(count, lines.end());
    *count = "Event list taille = 3";
    lines.insert(count + 3, "Event list 2 = Launch failed");
    EXPECT_EQ(ReadBytes(path), Lines(lines));
}

}  // namespace
