#include "app/batch_exec_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_fixture_test_support.h"
#include "platform/file_stream.h"
#include "testsupport/host_faults.h"

namespace {

namespace fs = std::filesystem;
using apptest::Entry;
using apptest::QueueText;

// A project file of anne's, with one job.
const char* const kProject = "[element gamme gamme de gamme]\nm_waitForPrec = 0\nnom = a.gam\n";

// Entries as "user|name|<state><status><wait>;".
std::string Describe(const std::vector<Entry>& entries) {
    std::string text;
    for (const Entry& e : entries)
        text += e.user + "|" + e.name + "|" + std::to_string(e.state) + std::to_string(e.status) +
                std::to_string(e.wait) + ";";
    return text;
}

class QueueFile : public apptest::BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        LoadUsers({"anne", "bob"});
        queue.emplace(batch, &users);
    }
    // The queue's entries after `step` (Read, Refresh or Save) with the file open.
    std::string After(void (KvBatchExecFile::*step)()) {
        EXPECT_TRUE(queue->Open("r+"));
        ((*queue).*step)();
        queue->Close();
        std::vector<Entry> entries;
        for (const KvBatchExecGamme& job : queue->Jobs())
            entries.push_back(
                {job.m_user.str(), job.m_name.str(), job.m_state, job.m_status, job.m_wait});
        return Describe(entries);
    }
    KvBatchExecGamme& Job(int index) { return *queue->Jobs().GetAt(index); }

    std::optional<KvBatchExecFile> queue;
    static constexpr auto kRead = &KvBatchExecFile::Read;
    static constexpr auto kRefresh = &KvBatchExecFile::Refresh;
    static constexpr auto kSave = &KvBatchExecFile::Save;
};

TEST_F(QueueFile, ReadingIsPositionalAndToleratesDamage) {
    const std::string hugeName(70000, 'h');
    const std::vector<std::pair<std::string, std::string>> rows = {
        // Keys not compared, values trimmed, bad numbers and groups past the count ignored.
        {"count=  2  \r\nwho = anne \r\nwhat ==\t job = one\r\nx = 2\r\ny = not a number\r\n"
         "z =  1\r\nu = bob\nn = two\ns = -1\nt = 1\nw = 0\n"
         "this group lies past the count = 9\n",
         "anne|job = one|201;bob|two|-110;"},
        // A count that does not parse counts as 0.
        {"nb = many\r\nuser = anne\r\n", ""},
        {"", ""},
        // Shorter than its count: a cut group's missing lines are empty, no more entries.
        {"nb = 2000000000\r\nuser = anne\r\nname = a\r\nstate = 2\r\nstatus = 1\r\nwait = 0\r\n"
         "user = bob\r\nname = b\r\n",
         "anne|a|210;bob|b|000;"},
        // Past 64 KiB the rest of a line is skipped; the next line is the next field.
        {QueueText({{"anne", hugeName}, {"bob", "b", 2, 1, 1}}),
         "anne|" + hugeName.substr(0, 64 * 1024 - 7) + "|000;bob|b|211;"},
        // Zero bytes stay in the text, and a last line without a line end is read.
        {std::string("nb = 1\r\nuser = an\0ne\r\nname = \0\r\nstate = 2\r\nstatus = 1\r\nwait = 1",
                     63),
         std::string("an\0ne|\0|211;", 12)},
    };
    for (const auto& [text, expected] : rows) {
        SCOPED_TRACE(text.substr(0, 40));
        WriteBatchFile("batchexec.txt", text);
        EXPECT_EQ(After(kRead), expected);
    }
}

TEST_F(QueueFile, ALongQueueReadsRefreshesAndSavesEveryEntryWhereverItsLinesFall) {
    // Names of 1 to 97 bytes put line ends at every place of the blocks read.
    std::vector<Entry> entries;
    for (int i = 0; i < 4000; ++i)
        entries.push_back({i % 2 ? "anne" : "bob", std::string(1 + i % 97, 'a' + i % 26) + "!",
                           i % 3, i % 2, i % 5 == 0 ? 1 : 0});
    WriteBatchFile("batchexec.txt", QueueText(entries));
    EXPECT_EQ(After(kRead), Describe(entries));

    entries[3999].state = Job(3999).m_state = 2;
    entries[2500].status = Job(2500).m_status = 1;
    After(kSave);
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), QueueText(entries));

    // Another program edits entries far into the file and appends one.
    entries[3001].name = std::string(40000, 'x');
    entries[3998].wait = 1;
    entries.push_back({"anne", "last", 0, 0, 1});
    WriteBatchFile("batchexec.txt", QueueText(entries));
    const KvBatchExecGamme* first = &Job(0);
    EXPECT_EQ(After(kRefresh), Describe(entries));
    EXPECT_EQ(&Job(0), first) << "updated in place, not rebuilt";
    // A file announcing fewer entries leaves the others as they were.
    entries[1].state = 2;
    WriteBatchFile("batchexec.txt", QueueText({entries[0], entries[1]}));
    EXPECT_EQ(After(kRefresh), Describe(entries));
}

TEST_F(QueueFile, RereadingUnchangedBytesGivesWhatReadingThemGives) {
    // A state that does not parse and a cut group: rereading keeps those fields.
    WriteBatchFile("batchexec.txt",
                   "nb = 2\r\nuser = anne\r\nname = a\r\nstate = 2\r\nstatus = 1\r\nwait = 0\r\n"
                   "user = bob\r\nname = b\r\nstate = x\r\nstatus = 1\r\n");
    EXPECT_EQ(After(kRefresh), "anne|a|210;bob|b|010;");
    for (KvBatchExecGamme& job : queue->Jobs()) {
        job.m_name = "changed";
        job.m_state = 7;
        job.m_wait = 5;
    }
    EXPECT_EQ(After(kRefresh), "anne|a|210;bob|b|715;");

    // After a save, the saved entries; a name that reading trims reads back trimmed.
    Job(0).m_name = " padded name\t";
    After(kSave);
    Job(1).m_state = 9;
    EXPECT_EQ(After(kRefresh), "anne|padded name|210;bob|b|715;");
    Job(0).m_name = "plain";
    After(kSave);
    Job(0).m_name = "other";
    Job(1).m_status = 0;
    EXPECT_EQ(After(kRefresh), "anne|plain|210;bob|b|715;");
    // Saved over a longer text, whose end stays: the reread above parsed the file.
    EXPECT_EQ(ReadBatchFile("batchexec.txt"),
              QueueText({{"anne", "plain", 2, 1}, {"bob", "b", 7, 1, 5}}) + "it = 5\r\n");
}

TEST_F(QueueFile, ARebuildWhoseMoveIsRefusedRetriesThenGivesUpLeavingNoStagedFile) {
    WriteBatchFile("anne-BATCH.tvs", kProject);
    const std::string older = QueueText({{"anne", "older"}});
    WriteBatchFile("batchexec.txt", older);
    std::vector<std::uint32_t> pauses;
    queue->SetSleeper([&](std::uint32_t ms) { pauses.push_back(ms); });
    {
        // Another program holds the old queue for three attempts.
        testsupport::ScopedFaultRule held(
            testsupport::FailCalls(platform::HostCall::kMoveIntoPlace, 3));
        ASSERT_TRUE(queue->Rebuild());
    }
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{500, 500, 500}));
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), QueueText({{"anne", "a.gam"}}));
    EXPECT_FALSE(fs::exists(BatchFile(KvBatchExecFile::kRebuildFileName)));

    WriteBatchFile("batchexec.txt", older);
    pauses.clear();
    {
        testsupport::ScopedFaultRule never(
            testsupport::FailCalls(platform::HostCall::kMoveIntoPlace, -1));
        EXPECT_FALSE(queue->Rebuild());
    }
    // Bounded: about ten seconds of attempts, then the old queue stays whole.
    EXPECT_EQ(pauses.size(), 20u);
    EXPECT_EQ(queue->GetOpenFailure().context(), (batch + "batchexec.txt").str());
    EXPECT_EQ(queue->GetOpenFailure().message(), "the rebuilt queue cannot be put in place");
    EXPECT_EQ(ReadBatchFile("batchexec.txt"), older);
    EXPECT_FALSE(fs::exists(BatchFile(KvBatchExecFile::kRebuildFileName)));
}

TEST_F(QueueFile, ARebuildThatCannotReachTheDiskLeavesNoQueueAndSaysWhy) {
    WriteBatchFile("anne-BATCH.tvs", kProject);
    testsupport::ScopedFaultRule full(testsupport::FailCalls(platform::HostCall::kFlushToDisk, -1));
    EXPECT_FALSE(queue->Rebuild());
    // No torn or unflushed queue for a later run to take for the whole one.
    EXPECT_FALSE(fs::exists(BatchFile("batchexec.txt")));
    EXPECT_FALSE(fs::exists(BatchFile(KvBatchExecFile::kRebuildFileName)));
    EXPECT_EQ(queue->GetOpenFailure().context(), (batch + KvBatchExecFile::kRebuildFileName).str());
    EXPECT_NE(CannotOpenLine(queue->GetOpenFailure()).find("cannot be written"), std::string::npos);
}

TEST(BatchProjectScan, PrefixesAreCutByLengthAndRecordsNeedBothLines) {
    testsupport::TempDir dir;
    const std::pair<std::string, std::string> rows[] = {
        // Two blanks after "=" keep one; CRLF and LF alike; the wait is leading digits.
        {"x [element gamme gamme de gamme] y\r\nnom = before the wait line is not taken\r\n"
         "m_waitForPrec = 1 (yes)\r\nnom =  spaced name\r\n"
         "[element gamme gamme de gamme]\nm_waitForPrec = no\nnom = plain\n",
         "[ spaced name|1][plain|0]"},
        // A cut record is dropped; a last line without a line end is not examined.
        {"[element gamme gamme de gamme]\nm_waitForPrec = 0\nnom = kept\n"
         "[element gamme gamme de gamme]\nm_waitForPrec = 0\n",
         "[kept|0]"},
        {"[element gamme gamme de gamme]\nm_waitForPrec = 0\nnom = last", ""},
        {"", ""}};
    for (const auto& [text, expected] : rows) {
        testsupport::WriteBytes(dir.path() / "scan.tvs", text);
        std::FILE* stream = platform::OpenStream(dir.File("scan.tvs"), "r");
        ASSERT_NE(stream, nullptr);
        std::string scanned;
        for (const ScannedJob& job : ScanBatchProject(stream))
            scanned += "[" + job.name.str() + "|" + std::to_string(job.wait) + "]";
        std::fclose(stream);
        EXPECT_EQ(scanned, expected) << text;
    }
}

TEST(UnpassableNames, OnlyCharactersThatBreakTheCommandLineAreRefused) {
    // '"', '%' and '!' in a job's name are run on the real program (tools/).
    EXPECT_EQ(FindUnpassableCharacter("two\nlines"), '\n');
    EXPECT_EQ(FindUnpassableCharacter(CString(std::string("nul\0byte", 8))), '\0');
    for (const char* fine : {"", "C:\\a b\\c.gam", "50 \xB0 = [x] {y} ; ~`"})
        EXPECT_FALSE(FindUnpassableCharacter(fine).has_value()) << fine;
}

}  // namespace
