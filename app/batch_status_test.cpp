// The status view of a queue, a journal and a lock file. That it changes
// nothing is run on the real program (tools/status_view_test.cpp).
#include "app/batch_status.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include "app/app_test_support.h"
#include "app/batch_journal.h"
#include "app/entry_point.h"
#include "platform/shared_file.h"
#include "testsupport/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using apptest::QueueText;
using nlohmann::json;
using testsupport::WriteBytes;

class BatchStatusView : public ::testing::Test {
  protected:
    CString Folder() const {
        return CString(m_dir.path().string() + static_cast<char>(fs::path::preferred_separator));
    }
    fs::path Queue() const { return m_dir.path() / "batchexec.txt"; }

    StatusRead Read(const std::string& engine = "local") {
        return ReadBatchStatus(Folder(), engine, 1000,
                               [](std::uint32_t) { ADD_FAILURE() << "the queue is free"; });
    }

    testsupport::TempDir m_dir;
};

TEST_F(BatchStatusView, ARunningBatchShowsItsLauncherEntriesRunningJobAndCounts) {
    // "\xE9" is e acute in the program's code page.
    WriteBytes(Queue(), QueueText({{"alice", "caf\xE9", 2, 1, 0},
                                   {"alice", "shaft", 1, 0, 0},
                                   {"bob", "after shaft", 0, 0, 1},
                                   {"bob", "broken", 2, 0, 0}}));
    // Launcher 4242 runs "shaft" (entry 1) again; entry 0's record is another job's.
    WriteBytes(m_dir.path() / BatchJournal::kFileName,
               "launcher = 4242\r\n[job]\r\nuser = alice\r\nname = shaft\r\nposition = 1\r\n"
               "attempt = 2\r\nlaunch = 1796556000000\r\nprocess = 777\r\ncluster job = 81234"
               "\r\n[job]\r\nuser = alice\r\nname = gone\r\nposition = 0\r\nattempt = 2\r\n");
    platform::ExclusiveOpen launcher =
        platform::TryOpenExclusive((m_dir.path() / kLauncherLockName).string(), "w");
    ASSERT_TRUE(launcher.status.ok()) << launcher.status.ToString();

    StatusRead read = Read();
    ASSERT_EQ(read.outcome, StatusOutcome::kRead) << read.failure.ToString();
    ASSERT_EQ(read.status.jobs.size(), 4u);
    EXPECT_EQ(read.status.jobs[0].attempt, 0) << "the record of another job at that position";
    // The rest is compared with a running batch's queue in tools/status_view_test.cpp.
    const json doc = json::parse(StatusJson(read.status));
    EXPECT_EQ(doc["jobs"][0]["job"], "caf\xC3\xA9") << "converted to UTF-8";
    EXPECT_EQ(doc["running_job"]["attempt"], 2);
    EXPECT_EQ(doc["running_job"]["since"], "2026-12-06T11:20:00Z");
    EXPECT_EQ(doc["counts"].dump(), R"({"failed":1,"finished":2,"other":0,"running":1,)"
                                    R"("succeeded":1,"total":4,"waiting":1})");
    const std::string text = StatusText(read.status);
    for (const char* line :
         {"Launcher:     running (process 4242)\n", "(attempt 2)\n",
          "Jobs:         4 (1 waiting, 1 running, 2 finished: 1 succeeded, 1 failed)\n",
          "  1  alice  caf\xE9         finished  succeeded  no\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
    std::fclose(launcher.stream);

    // A Slurm batch shows each entry's cluster job.
    const json slurm = json::parse(StatusJson(Read("slurm").status));
    EXPECT_EQ(slurm["engine"], "slurm");
    EXPECT_TRUE(slurm["jobs"][0]["cluster_job"].is_null());
    EXPECT_EQ(slurm["jobs"][1]["cluster_job"], "81234");
    const std::string slurmText = StatusText(Read("slurm").status);
    for (const char* part : {"slurm job", "81234"})
        EXPECT_NE(slurmText.find(part), std::string::npos) << slurmText;
}

TEST_F(BatchStatusView, ADamagedQueueGivesWhatCanBeReadNeverMore) {
    // A state no program should write, and a cut group.
    WriteBytes(Queue(),
               "nb = 40\r\nuser = alice\r\nname = a\r\nstate = 3\r\nstatus = junk\r\n"
               "wait = 0\r\nuser = bob\r\nname = b\r\nstate = 2\r\n");
    WriteBytes(m_dir.path() / BatchJournal::kFileName, "launcher = x\n[job]\nposition = 99\n\0\0");
    StatusRead read = Read();
    ASSERT_EQ(read.outcome, StatusOutcome::kRead) << read.failure.ToString();
    ASSERT_EQ(read.status.jobs.size(), 2u);
    const json doc = json::parse(StatusJson(read.status));
    EXPECT_EQ(std::tuple(doc["jobs"][0]["state"], doc["jobs"][0]["state_code"],
                         doc["jobs"][1]["state"], doc["counts"]["other"], doc["counts"]["total"]),
              std::tuple("other", 3, "finished", 1, 2));
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

    // A missing batch folder is no queue, and is not created.
    const StatusRead missing = ReadBatchStatus(Folder() + "nowhere\\", "local", 0);
    EXPECT_EQ(std::tuple(missing.outcome, missing.status.queueFound, missing.status.jobs.size()),
              std::tuple(StatusOutcome::kRead, false, 0u));
    EXPECT_FALSE(fs::exists(m_dir.path() / "nowhere"));
}

TEST_F(BatchStatusView, AQueueHeldForTheWholeWaitIsGivenUpWithStatusThree) {
    WriteBytes(Queue(), QueueText({{"alice", "a"}}));
    platform::ExclusiveOpen holder = platform::TryOpenExclusive(Queue().string(), "r+");
    ASSERT_TRUE(holder.status.ok()) << holder.status.ToString();
    std::uint32_t waited = 0;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ShowBatchStatus(Folder(), "local", true, stdout, stderr,
                              [&](std::uint32_t ms) { waited += ms; }),
              kStatusQueueBusyExitStatus);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::string line = testing::internal::GetCapturedStderr();
    std::fclose(holder.stream);
    EXPECT_EQ(waited, kStatusQueueWaitMs);
    EXPECT_NE(line.find("batchexec.txt"), std::string::npos) << line;
    EXPECT_NE(line.find("busy"), std::string::npos) << line;
    // The status view with a free queue is run on the real program (tools/).
}

}  // namespace
