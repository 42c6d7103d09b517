// The base of the queue and report files: which modes take report lines, and
// opens that fail or wait. Rewinding is exercised by the queue file's saves.
#include "app/batch_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/host_faults.h"
#include "testsupport/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

// The base class, whose Write puts a text at the current position as the queue's does.
class TextFile : public KvBatchFile {
  public:
    explicit TextFile(const std::string& path, std::string text = "")
        : KvBatchFile(CString(path)), m_text(std::move(text)) {
        SetSleeper(
            [](std::uint32_t ms) { ADD_FAILURE() << "unexpected pause of " << ms << " ms"; });
    }
    void Write() override {
        if (!IsOpen() && !OpenWithoutRecording("wt"))
            return;
        std::fputs(m_text.c_str(), Stream());
    }
    using KvBatchFile::Stream;

  private:
    std::string m_text;
};

class BatchFile : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string path = dir.File("batchreport.txt");
};

TEST_F(BatchFile, LinesAreWrittenOnlyInAModeThatAppendsWithReadingAndAsTheyAre) {
    TextFile file(path);
    int clockCalls = 0;
    file.SetClock([&] {
        ++clockCalls;
        return std::string("12/05/26 18:27:30");
    });
    file.WriteLine("closed");  // never opened: nothing happens, no time asked for
    file.WriteStamped("closed");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(clockCalls, 0);

    WriteBytes(path, "nb = 0\r\n");
    for (const char* mode : {"r+", "r", "a", "w+"}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(file.Open(mode));
        file.WriteLine("report line");
        file.WriteStamped("report line");
        file.Close();
        EXPECT_EQ(ReadBytes(path), std::string(mode) == "w+" ? "" : "nb = 0\r\n");
    }
    ASSERT_TRUE(file.Open("a+"));
    file.WriteLine("100% %s %d done");
    file.WriteLine("");
    file.WriteStamped("job %s at 50%");
    file.Close();
    EXPECT_EQ(ReadBytes(path), "100% %s %d done\r\n\r\n12/05/26 18:27:30 -> job %s at 50%\r\n");

    // A write to the closed file opens it "wt", a mode that takes no report line.
    TextFile queue(path, "nb = 0\n");
    queue.Write();
    EXPECT_TRUE(queue.IsOpen());
    EXPECT_EQ(queue.GetMode(), "");
    queue.WriteLine("report line");
    queue.Close();
    EXPECT_EQ(ReadBytes(path), "nb = 0\r\n");
}

TEST_F(BatchFile, AnOpenThatWaitingCannotCureFailsAtOnceAndSaysWhy) {
    const std::string missing = dir.File("no such folder") + "\\batchreport.txt";
    TextFile file(missing);
    EXPECT_FALSE(file.Open("a+"));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetMode(), "");
    EXPECT_EQ(file.GetOpenFailure().context(), missing);
    EXPECT_FALSE(file.GetOpenFailure().message().empty());
    file.WriteLine("lost");
    file.WriteStamped("lost");
    EXPECT_FALSE(fs::exists(dir.path() / "no such folder"));

    // A file that opened before and fails now is closed, not left half open.
    TextFile gone(dir.File("x.txt"));
    ASSERT_TRUE(gone.Open("a+"));
    gone.Close();
    fs::remove(dir.path() / "x.txt");
    EXPECT_FALSE(gone.Open("r"));
    EXPECT_FALSE(gone.IsOpen());
}

TEST_F(BatchFile, AnOpenWaitsOutABusyFileAndReportsTheHostsReasonForAnyOtherFailure) {
    TextFile file(path);
    std::vector<std::uint32_t> pauses;
    file.SetSleeper([&](std::uint32_t ms) { pauses.push_back(ms); });
    {
        testsupport::ScopedFaultRule held(testsupport::FailCalls(
            platform::HostCall::kExclusiveOpen, 2, platform::InjectedFault{"", true}));
        ASSERT_TRUE(file.Open("a+"));
    }
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{500, 500}));
    file.Close();

    pauses.clear();
    testsupport::ScopedFaultRule full(testsupport::FailCalls(
        platform::HostCall::kExclusiveOpen, 1, platform::InjectedFault{"No space left on device"}));
    EXPECT_FALSE(file.Open("r+"));
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(CannotOpenLine(file.GetOpenFailure()),
              "torvane-batch: cannot open \"" + path + "\": No space left on device");
}

}  // namespace
