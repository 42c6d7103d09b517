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

// The base class, which pauses only where a test says so.
class TextFile : public KvBatchFile {
  public:
    explicit TextFile(const std::string& path) : KvBatchFile(CString(path)) {
        SetSleeper(
            [](std::uint32_t ms) { ADD_FAILURE() << "unexpected pause of " << ms << " ms"; });
    }
};

class BatchFile : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string path = dir.File("batchreport.txt");
};

TEST_F(BatchFile, LinesAreWrittenOnlyInAModeThatAppendsWithReadingAndAsTheyAre) {
    TextFile file(path);
    file.SetClock([] { return std::string("12/05/26 18:27:30"); });
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
}

TEST_F(BatchFile, AnOpenWaitsOutOnlyABusyFileAndOtherwiseFailsAtOnceSayingWhy) {
    const std::string missing = dir.File("no such folder") + "\\batchreport.txt";
    TextFile file(missing);
    EXPECT_FALSE(file.Open("a+"));
    EXPECT_FALSE(file.IsOpen());
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

    TextFile busy(path);
    std::vector<std::uint32_t> pauses;
    busy.SetSleeper([&](std::uint32_t ms) { pauses.push_back(ms); });
    {
        testsupport::ScopedFaultRule held(testsupport::FailCalls(
            platform::HostCall::kExclusiveOpen, 2, platform::InjectedFault{"", true}));
        ASSERT_TRUE(busy.Open("a+"));
    }
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{500, 500}));
    busy.Close();

    pauses.clear();
    testsupport::ScopedFaultRule full(testsupport::FailCalls(
        platform::HostCall::kExclusiveOpen, 1, platform::InjectedFault{"No space left on device"}));
    EXPECT_FALSE(busy.Open("r+"));
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(CannotOpenLine(busy.GetOpenFailure()),
              "torvane-batch: cannot open \"" + path + "\": No space left on device");
}

}  // namespace
