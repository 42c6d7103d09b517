// The one-pass read of a log as Save writes it must give exactly what the
// general load (KvFile::Load) gives, and leave every other file to it.
#include "batchlog/written_log_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batchlog/fichier_log_batch.h"
#include "batchlog/log_test_support.h"
#include "testsupport/temp_dir.h"

namespace {

using batchlog_detail::ReadWrittenLog;
using batchlog_detail::WrittenLogRead;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// Everything a log object holds, as one comparable text.
std::string Dump(const FichierLogBatch& log) {
    return batchlog_test::Content(log) + log.GetPath().str() + "|" + log.GetVersionRead().str() +
           "|" + std::to_string(log.GetOpenMode()) + std::to_string(log.IsModified()) +
           std::to_string(log.GetChapterCount());
}

// A log object holding values of an earlier job, which a load may keep.
void FillEarlier(FichierLogBatch& log) {
    log.m_jobName = "earlier";
    log.m_userName = "someone";
    log.m_simuOK = true;
    log.m_nbErrors = 7;
    log.m_nbAlerts = 8;
    log.m_eventList.Add("earlier event");
    *log.m_alertList.NewElement() = "earlier alert";
}

// The saved form of a log with line breaks, "<", "%", empty texts, a machine
// without channels and a channel without messages.
std::string SavedSample(const TempDir& dir) {
    FichierLogBatch log;
    log.m_jobName = "Gamme = 12 %s";
    log.m_userName = "Ann";
    log.m_isGammeMachineComplexe = true;
    log.m_nbErrors = 3;
    log.m_nbAlerts = -1;
    for (const char* text :
         {"Started < 1", "", "two\r\nlines", "lone\nfeed", " padded = x ", "=lead"})
        log.m_eventList.Add(text);
    *log.m_alertList.NewElement() = "Coolant low";
    log.m_errorList.NewElement();
    KvListeErreurMachine* machine = log.m_errorList.NewElement();
    machine->NewElement();
    *machine->NewElement()->NewElement() = "Axis X over travel";
    std::string path = (dir.path() / "saved.log").string();
    EXPECT_EQ(log.Save(path), 0);
    return ReadBytes(path);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

class WrittenLogReaderTest : public ::testing::Test {
  protected:
    // Loads `bytes` both ways; returns whether the one-pass read took the file.
    bool LoadsAlike(const std::string& bytes) {
        std::string path = (m_dir.path() / "job.log").string();
        WriteBytes(path, bytes);
        FichierLogBatch general, fast, probe;
        for (FichierLogBatch* log : {&general, &fast, &probe}) FillEarlier(*log);
        int generalResult = general.KvFile::Load(path);
        EXPECT_EQ(fast.Load(path), generalResult);
        EXPECT_EQ(Dump(fast), Dump(general));
        return ReadWrittenLog(path, probe) == WrittenLogRead::kLoaded;
    }

    TempDir m_dir;
};

TEST_F(WrittenLogReaderTest, SavedLogsAreReadInOnePassWithTheGeneralValues) {
    const std::string saved = SavedSample(m_dir);
    EXPECT_TRUE(LoadsAlike(saved));
    // Lines ending in a bare line feed, and no line end after the last line.
    std::string bare = saved;
    std::erase(bare, '\r');
    EXPECT_TRUE(LoadsAlike(bare));
    EXPECT_TRUE(LoadsAlike(saved.substr(0, saved.size() - 2)));
    // Blank lines and blanks around lines are skipped by both.
    EXPECT_TRUE(LoadsAlike(Replace(saved, "[EVENTS]", "\t [EVENTS]  \r\n \r\n")));
    // An empty first event.
    EXPECT_TRUE(LoadsAlike(Replace(saved, "Event list 0 = Started < 1", "Event list 0 =")));
    // The job's values in any order and case, the first line of a key winning.
    EXPECT_TRUE(LoadsAlike(Replace(saved, "SimuOK = 0", "simuok = 1\r\nSimuOK = 0")));

    FichierLogBatch empty;
    std::string path = (m_dir.path() / "empty.log").string();
    ASSERT_EQ(empty.Save(path), 0);
    EXPECT_TRUE(LoadsAlike(ReadBytes(path)));
}

TEST_F(WrittenLogReaderTest, OtherFilesAreLeftToTheGeneralLoad) {
    const std::string saved = SavedSample(m_dir);
    const std::vector<std::pair<std::string, std::string>> changes = {
        // Keys and chapters in another case, order or number.
        {"Event list 1 =", "EVENT LIST 1 ="},
        {"Event list 1 =", "Event list 0 ="},
        {"Event list taille = 6", "Event list taille = 4"},
        {"Event list taille = 6", "Event list taille = 9"},
        {"Event list taille = 6", "Event list taille = many"},
        {"Alerts list 0 = Coolant low", "Alerts list 0 = Coolant low\r\nAlerts list 0 = again"},
        {"[JOB INFORMATIONS]", "[Job Informations]"},
        {"[ALERTS]", "[EVENTS]\r\nEvent list taille = 1\r\n[ALERTS]"},
        {"Machine list taille = 2", "Machine list taille = 3"},
        {"[Machine list 1:Machine errors 1:nouvelle_section]",
         "[Machine list 1:Machine errors 2:x]"},
        {"Channel errors taille = 1", "Channel errors taille = 2"},
        // Versions, header and bytes the general reader treats its own way.
        {"Version = 0.1", "Version = 0.3"},
        {"Version = 0.1", "Version = 1.0"},
        {"Version ft = 0.2", "Version ft = 0.1"},
        {"[[Batch informations]]", "[[Liste utilisateurs]]"},
        {"Started", std::string("Sta\0rted", 8)},
        {"Started", "Sta\x1arted"},
        {"Started", std::string(1200, 'x')},
    };
    for (const auto& [from, to] : changes) {
        SCOPED_TRACE(to);
        EXPECT_FALSE(LoadsAlike(Replace(saved, from, to)));
    }
    // Cut short anywhere: in the header, in the events, in the error tree.
    for (std::size_t cut : {std::size_t{10}, saved.find("two"), saved.size() - 30}) {
        SCOPED_TRACE(cut);
        EXPECT_FALSE(LoadsAlike(saved.substr(0, cut)));
    }
    EXPECT_FALSE(LoadsAlike(saved + "[More]\r\nkey = value\r\n"));
    EXPECT_FALSE(LoadsAlike(""));

    FichierLogBatch log;
    EXPECT_EQ(ReadWrittenLog((m_dir.path() / "missing.log").string(), log),
              WrittenLogRead::kNotAsWritten);
    EXPECT_EQ(ReadWrittenLog("", log), WrittenLogRead::kNotAsWritten);
}

// A list longer than the load's limit, in a log far larger than the read
// buffer, is read up to the limit and no further, as the general load reads
// it: an event added to a full log is not read back.
TEST_F(WrittenLogReaderTest, TextsBeyondTheLimitArePassedOver) {
    FichierLogBatch log;
    for (unsigned i = 0; i < FichierLogBatch::kMaxListTexts; ++i) log.m_eventList.Add("E");
    *log.m_alertList.NewElement() = "kept";
    std::string path = (m_dir.path() / "full.log").string();
    ASSERT_EQ(log.Save(path), 0);
    FichierLogBatch appended;
    appended.AddEvent(path, "one too many");
    EXPECT_TRUE(LoadsAlike(ReadBytes(path)));
    FichierLogBatch reread;
    ASSERT_EQ(reread.Load(path), 0);
    EXPECT_EQ(reread.m_eventList.GetCount(), FichierLogBatch::kMaxListTexts);
    EXPECT_EQ(*reread.m_alertList.GetAt(0), "kept");
}

}  // namespace
