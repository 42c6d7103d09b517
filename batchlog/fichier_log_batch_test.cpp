#include "batchlog/fichier_log_batch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batchlog/log_test_support.h"
#include "testsupport/temp_dir.h"

namespace {

using batchlog_test::Content;
using batchlog_test::Crlf;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

void AddTexts(KvListe<CString>& list, const std::vector<std::string>& texts) {
    for (const std::string& text : texts) *list.NewElement() = text;
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
    log.m_eventList.Add("Simulation started");
    log.m_eventList.Add("Tool 4 missing\r\nreplaced by tool 5");
    AddTexts(log.m_alertList, {"Coolant low"});
    log.m_errorList.NewElement();
    KvListeErreurMachine* machine = log.m_errorList.NewElement();
    AddTexts(*machine->NewElement(), {"Collision at N120"});
    AddTexts(*machine->NewElement(), {"Axis X over travel", "Spindle stalled"});
}

const std::string kHead =
    "[[Batch informations]]\n\n\n\n\n[Version]\n\n\nVersion ft = 0.2\nVersion = 0.1\n\n\n";

const std::string kSample =
    kHead +
    "\n\n[JOB INFORMATIONS]\n\nJob name = Gamme 12\nUser name = Ann\n"
    "IsGammeMachineComplexe = 1\nSimuOK = 1\nErrors = 3\nAlerts = -1\n\n\n\n"
    "[EVENTS]\n\nEvent list taille = 2\nEvent list 0 = Simulation started\n"
    "Event list 1 = Tool 4 missing<saut>replaced by tool 5\n\n\n"
    "[ALERTS]\n\nAlerts list taille = 1\nAlerts list 0 = Coolant low\n\n\n"
    "[ERRORS]\n\nMachine list taille = 2\n\n\n\n\n"
    "[Machine list 0:nouvelle_section]\n\nMachine errors taille = 0\n\n\n\n\n"
    "[Machine list 1:nouvelle_section]\n\nMachine errors taille = 2\n\n\n\n\n"
    "[Machine list 1:Machine errors 0:nouvelle_section]\n\nChannel errors taille = 1\n"
    "Channel errors 0 = Collision at N120\n\n\n\n\n"
    "[Machine list 1:Machine errors 1:nouvelle_section]\n\nChannel errors taille = 2\n"
    "Channel errors 0 = Axis X over travel\nChannel errors 1 = Spindle stalled\n";

// Every test works on job.log in a fresh folder.
class LogFile : public testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.File("job.log");
};

TEST_F(LogFile, SavesTheDocumentedLinesAndLoadsThemBack) {
    FichierLogBatch written;
    FillSample(written);
    ASSERT_EQ(written.Save(path), 0);
    EXPECT_EQ(ReadBytes(path), Crlf(kSample));

    // Loaded into an object that holds other values everywhere: every field
    // and every list is replaced, the tree keeps its shape.
    FichierLogBatch read;
    read.m_jobName = "old";
    read.m_nbErrors = 99;
    read.m_eventList.Add("stale");
    AddTexts(read.m_alertList, {"x"});
    AddTexts(*read.m_errorList.NewElement()->NewElement(), {"stale"});
    ASSERT_EQ(read.Load(path), 0);
    EXPECT_EQ(Content(read), Content(written));
    EXPECT_FALSE(read.IsModified());
}

TEST_F(LogFile, KeepsWhatTheFileLacksAndEmptiesItsLists) {
    // The success flag is any non-zero number.
    for (const char* ok : {"0", "2"}) {
        WriteBytes(
            path,
            Crlf(kHead + "[JOB INFORMATIONS]\nJob name = J7\nErrors = 5\nSimuOK = " + ok + "\n"));
        FichierLogBatch used;
        FillSample(used);
        used.m_simuOK = *ok == '0';
        ASSERT_EQ(used.Load(path), 0);
        EXPECT_EQ(Content(used), std::string("J7|Ann|1") + (*ok == '0' ? "0" : "1") +
                                     "|5|-1\nevents(0)\nalerts(0)\n");
    }
}

TEST_F(LogFile, AddEventCreatesAMissingLog) {
    FichierLogBatch log;
    log.AddEvent(path, "Cannot start\r\nthe simulator");
    EXPECT_EQ(ReadBytes(path),
              Crlf(kHead + "\n\n[JOB INFORMATIONS]\n\nJob name = \nUser name = \n"
                           "IsGammeMachineComplexe = 0\nSimuOK = 0\nErrors = 0\nAlerts = 0\n\n\n\n"
                           "[EVENTS]\n\nEvent list taille = 1\n"
                           "Event list 0 = Cannot start<saut>the simulator\n\n\n"
                           "[ALERTS]\n\nAlerts list taille = 0\n\n\n"
                           "[ERRORS]\n\nMachine list taille = 0\n"));
}

// The log's layout with its events in a list of strings, exchanged by
// ExchangeStringList as every other text list is: what the log's own save
// must write byte for byte.
class ListedLog : public KvFile {
  public:
    ListedLog() : KvFile("Batch informations", "0.1") {}
    int Exchange(KvFile& file) override {
        file.Chapter("JOB INFORMATIONS");
        file.ExchangeValue("Job name", log.m_jobName);
        file.ExchangeValue("User name", log.m_userName);
        file.ExchangeValue("IsGammeMachineComplexe", log.m_isGammeMachineComplexe);
        file.ExchangeValue("SimuOK", log.m_simuOK);
        file.ExchangeValue("Errors", log.m_nbErrors);
        file.ExchangeValue("Alerts", log.m_nbAlerts);
        file.WriteBlankLines(1);
        file.Chapter("EVENTS");
        file.ExchangeStringList("Event list", events, FichierLogBatch::kMaxListTexts);
        file.Chapter("ALERTS");
        file.ExchangeStringList("Alerts list", log.m_alertList, FichierLogBatch::kMaxListTexts);
        file.Chapter("ERRORS");
        log.m_errorList.Exchange(file);
        return 4;
    }
    FichierLogBatch log;  // every value but the events
    KvListeTabFixe<CString> events{100};
};

// Saves `log` through another file object, so that its events go through the
// value exchange one by one.
class Wrapped : public KvFile {
  public:
    explicit Wrapped(FichierLogBatch& log) : KvFile("Batch informations", "0.1"), m_log(log) {}
    int ExchangeContents() override { return m_log.Exchange(*this); }

  private:
    FichierLogBatch& m_log;
};

// Texts a save must write as the value exchange writes them: line breaks in
// every form, a zero byte, blanks and "=" at either end, "%", a long text,
// and enough of them to fill several of the save's runs.
std::vector<std::string> AwkwardEvents() {
    std::vector<std::string> texts = {
        "",           "two\r\nlines",   "lone\nfeed and lone\rreturn",
        "\r\n",       " padded = x ",   "=lead",
        "100% %s %d", "<saut> already",
    };
    texts.push_back(std::string("cut\0here\nnot written", 20));
    texts.push_back(std::string(980, 'L'));
    for (int i = 0; i < 30000; ++i) texts.push_back("Extra event " + std::to_string(i));
    return texts;
}

TEST_F(LogFile, SavesAndAddsEventsByteForByteAsAListOfStrings) {
    FichierLogBatch log;
    ListedLog listed;
    FillSample(log);
    FillSample(listed.log);
    for (std::string_view text : listed.log.m_eventList) *listed.events.NewElement() = text;
    for (const std::string& text : AwkwardEvents()) {
        log.m_eventList.Add(text);
        *listed.events.NewElement() = text;
    }
    const std::string reference = path + ".listed";
    ASSERT_EQ(listed.Save(reference), 0);
    const std::string expected = ReadBytes(reference);
    ASSERT_EQ(log.Save(path), 0);
    EXPECT_EQ(ReadBytes(path), expected);

    Wrapped wrapped(log);
    ASSERT_EQ(wrapped.Save(path + ".wrapped"), 0);
    EXPECT_EQ(ReadBytes(path + ".wrapped"), expected);

    // AddEvent gives what loading the list of strings, appending and saving
    // give; so does a second one on what the first wrote.
    for (const char* event : {"Cannot start the job: \"a b\"", "Ended at its time limit\r\n"}) {
        FichierLogBatch adder;
        adder.AddEvent(path, event);
        ListedLog before;
        ASSERT_EQ(before.Load(reference), 0);
        *before.events.NewElement() = event;
        ASSERT_EQ(before.Save(reference), 0);
        EXPECT_EQ(ReadBytes(path), ReadBytes(reference)) << event;
    }
}

}  // namespace
