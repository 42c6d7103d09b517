// The status view through its interface: what it reads from a queue, a
// journal and the launcher's lock file, its text and its JSON, and that it
// changes nothing and gives up on a queue held too long.
#include "app/batch_status.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "app/batch_journal.h"
#include "app/entry_point.h"
#include "platform/shared_file.h"
#include "testsupport/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using apptest::QueueText;
using nlohmann::json;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

// Every file of a folder with its bytes: what "changes nothing" compares.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadBytes(entry.path());
    return files;
}

class BatchStatusView : public ::testing::Test {
  protected:
    CString Folder() const {
        return CString(m_dir.path().string() + static_cast<char>(fs::path::preferred_separator));
    }
    fs::path Queue() const { return m_dir.path() / "batchexec.txt"; }
    fs::path Lock() const { return m_dir.path() / kLauncherLockName; }

    // A journal as a launcher with id 4242 writes it while "shaft" (entry 1)
    // runs in its second attempt.
    void WriteJournal(const std::string& clusterJob = "") {
        BatchJournal journal(Folder());
        journal.SetLauncher(4242);
        JournalRecord record;
        record.user = "alice";
        record.name = "shaft";
        record.position = 1;
        record.attempt = 2;
        record.firstLaunchMs = 1796550000000;
        record.launchMs = 1796556000000;  // 2026-12-06T11:20:00Z
        record.process.id = 777;
        record.clusterJob = clusterJob;
        journal.Put(record);
        // A record of an entry that is no longer the same job is not shown.
        record.name = "gone";
        record.position = 0;
        journal.Put(record);
        ASSERT_TRUE(journal.Save()) << journal.LastError().ToString();
    }

    StatusRead Read(const std::string& engine = "local") {
        return ReadBatchStatus(Folder(), engine, 1000,
                               [this](std::uint32_t ms) { m_pauses.push_back(ms); });
    }

    testsupport::TempDir m_dir;
    std::vector<std::uint32_t> m_pauses;
};

TEST_F(BatchStatusView, ARunningBatchShowsItsLauncherEntriesRunningJobAndCounts) {
    // "\xE9" is e acute in the program's code page.
    WriteBytes(Queue(), QueueText({{"alice", "caf\xE9", 2, 1, 0},
                                   {"alice", "shaft", 1, 0, 0},
                                   {"bob", "after shaft", 0, 0, 1},
                                   {"bob", "broken", 2, 0, 0}}));
    WriteJournal();
    platform::ExclusiveOpen launcher = platform::TryOpenExclusive(Lock().string(), "w");
    ASSERT_TRUE(launcher.status.ok()) << launcher.status.ToString();
    const auto before = Snapshot(m_dir.path());

    StatusRead read = Read();
    ASSERT_EQ(read.outcome, StatusOutcome::kRead) << read.failure.ToString();
    const BatchStatus& status = read.status;
    EXPECT_TRUE(status.queueFound);
    ASSERT_EQ(status.jobs.size(), 4u);
    EXPECT_EQ(status.jobs[1].process, 777u);
    EXPECT_EQ(status.jobs[0].attempt, 0) << "the record of another job at that position";
    EXPECT_TRUE(m_pauses.empty());

    const json doc = json::parse(StatusJson(status));
    EXPECT_EQ(doc["batch_folder"], Folder().str());
    const json& jobs = doc["jobs"];
    ASSERT_EQ(jobs.size(), 4u);
    EXPECT_EQ(jobs[0]["job"], "caf\xC3\xA9") << "converted to UTF-8";
    EXPECT_EQ(jobs[0]["state"], "finished");
    // The rest of the JSON is compared with the queue of a running batch
    // on the real program (tools/status_view_test.cpp).
    EXPECT_EQ(jobs[3]["status"], "failed");
    EXPECT_EQ(doc["running_job"]["attempt"], 2);
    EXPECT_EQ(doc["running_job"]["since"], "2026-12-06T11:20:00Z");
    EXPECT_EQ(doc["counts"], json({{"total", 4},
                                   {"waiting", 1},
                                   {"running", 1},
                                   {"finished", 2},
                                   {"succeeded", 1},
                                   {"failed", 1},
                                   {"other", 0}}));

    const std::string text = StatusText(status);
    for (const char* line :
         {"Batch folder: ", "Launcher:     running (process 4242)\n", "Engine:       local\n",
          "Running job:  alice shaft since ", "(attempt 2)\n",
          "Jobs:         4 (1 waiting, 1 running, 2 finished: 1 succeeded, "
          "1 failed)\n",
          "  #  user   job          state     status     wait\n",
          "  1  alice  caf\xE9         finished  succeeded  no\n",
          "  3  bob    after shaft  waiting   -          yes\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;

    // Read only: every file as it was.
    EXPECT_EQ(Snapshot(m_dir.path()), before);
    std::fclose(launcher.stream);
}

// No queue in a batch folder is run on the real program (tools/).
TEST_F(BatchStatusView, AMissingBatchFolderIsNoQueueAndIsNotCreated) {
    StatusRead missing = ReadBatchStatus(Folder() + "nowhere\\", "local", 0);
    EXPECT_EQ(missing.outcome, StatusOutcome::kRead);
    EXPECT_FALSE(missing.status.queueFound);
    EXPECT_EQ(json::parse(StatusJson(missing.status))["jobs"], json::array());
    EXPECT_FALSE(fs::exists(m_dir.path() / "nowhere"));
}

TEST_F(BatchStatusView, ADamagedQueueGivesWhatCanBeReadNeverMore) {
    // A state no program should write, and a cut group. How the queue's
    // reader takes counts, numbers and lines that are damaged or too long is
    // the queue file's own test.
    WriteBytes(Queue(),
               "nb = 40\r\nuser = alice\r\nname = a\r\nstate = 3\r\nstatus = junk\r\n"
               "wait = 0\r\nuser = bob\r\nname = b\r\nstate = 2\r\n");
    WriteBytes(m_dir.path() / BatchJournal::kFileName, "launcher = x\n[job]\nposition = 99\n\0\0");
    StatusRead read = Read();
    ASSERT_EQ(read.outcome, StatusOutcome::kRead) << read.failure.ToString();
    ASSERT_EQ(read.status.jobs.size(), 2u);
    const json doc = json::parse(StatusJson(read.status));
    EXPECT_EQ(doc["jobs"][0]["state"], "other");
    EXPECT_EQ(doc["jobs"][0]["state_code"], 3);
    EXPECT_EQ(doc["jobs"][1]["state"], "finished");
    EXPECT_EQ(doc["counts"]["other"], 1);
    EXPECT_EQ(doc["counts"]["total"], 2);
    EXPECT_NE(StatusText(read.status).find("1 in another state"), std::string::npos);

    // Bytes that are not text at all.
    WriteBytes(Queue(), std::string("\xFF\xFE\0\x01", 4) + "nb = 1\r\nuser = \x80\x81\x8D\r\n");
    read = Read();
    ASSERT_EQ(read.outcome, StatusOutcome::kRead) << read.failure.ToString();
    const json bytes = json::parse(StatusJson(read.status));
    ASSERT_EQ(bytes["jobs"].size(), 1u);
    // Euro sign, and the two code points Windows gives the undefined bytes.
    EXPECT_EQ(bytes["jobs"][0]["user"], "\xE2\x82\xAC\xC2\x81\xC2\x8D");
    EXPECT_EQ(bytes["jobs"][0]["job"], "");
}

TEST_F(BatchStatusView, AQueueHeldForTheWholeWaitIsGivenUpWithStatusThree) {
    WriteBytes(Queue(), QueueText({{"alice", "a", 0, 0, 0}}));
    platform::ExclusiveOpen holder = platform::TryOpenExclusive(Queue().string(), "r+");
    ASSERT_TRUE(holder.status.ok()) << holder.status.ToString();

    StatusRead read = Read();
    EXPECT_EQ(read.outcome, StatusOutcome::kQueueBusy);
    std::uint32_t waited = 0;
    for (std::uint32_t ms : m_pauses) waited += ms;
    EXPECT_EQ(waited, 1000u);

    std::FILE* out = std::fopen(m_dir.File("out.txt").c_str(), "w+");
    std::FILE* err = std::fopen(m_dir.File("err.txt").c_str(), "w+");
    ASSERT_TRUE(out != nullptr && err != nullptr);
    std::uint32_t shown = 0;
    EXPECT_EQ(
        ShowBatchStatus(Folder(), "local", true, out, err, [&](std::uint32_t ms) { shown += ms; }),
        kStatusQueueBusyExitStatus);
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(shown, kStatusQueueWaitMs);
    EXPECT_EQ(ReadBytes(m_dir.File("out.txt")), "");
    const std::string line = ReadBytes(m_dir.File("err.txt"));
    EXPECT_NE(line.find("batchexec.txt"), std::string::npos) << line;
    EXPECT_NE(line.find("busy"), std::string::npos) << line;
    std::fclose(holder.stream);

    // Freed, the same call shows the queue.
    out = std::fopen(m_dir.File("out.txt").c_str(), "w+");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(ShowBatchStatus(Folder(), "local", true, out, stderr), 0);
    std::fclose(out);
    EXPECT_EQ(json::parse(ReadBytes(m_dir.File("out.txt")))["jobs"][0]["job"], "a");
}

TEST_F(BatchStatusView, ASlurmBatchShowsEachEntrysClusterJob) {
    WriteBytes(Queue(), QueueText({{"alice", "first", 2, 1, 0}, {"alice", "shaft", 1, 0, 0}}));
    WriteJournal("81234");
    StatusRead read = Read("slurm");
    ASSERT_EQ(read.outcome, StatusOutcome::kRead) << read.failure.ToString();
    const json doc = json::parse(StatusJson(read.status));
    EXPECT_EQ(doc["engine"], "slurm");
    EXPECT_TRUE(doc["jobs"][0]["cluster_job"].is_null());
    EXPECT_EQ(doc["jobs"][1]["cluster_job"], "81234");
    const std::string text = StatusText(read.status);
    EXPECT_NE(text.find("slurm job"), std::string::npos) << text;
    EXPECT_NE(text.find("81234"), std::string::npos) << text;
}

}  // namespace
