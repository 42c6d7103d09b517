#include "app/batch_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/shared_file.h"
#include "testsupport/host_faults.h"
#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// The base class on a path of the test's choosing, whose Write puts a fixed
// text at the current position as the queue file does. It is not held by
// another program unless the test says so.
class TextFile : public KvBatchFile {
  public:
    explicit TextFile(const std::string& path, std::string text = "")
        : KvBatchFile(CString(path)), m_text(std::move(text)) {
        SetSleeper(
            [](std::uint32_t ms) { ADD_FAILURE() << "unexpected pause of " << ms << " ms"; });
    }
    // Opens the file "wt" when it is closed, as the queue's Write does.
    void Write() override {
        if (!IsOpen() && !OpenWithoutRecording("wt"))
            return;
        std::fputs(m_text.c_str(), Stream());
    }
    using KvBatchFile::Stream;

  private:
    std::string m_text;
};

// The next character read from the file's stream: the stream's position
// tells whether it is the same stream or a fresh one.
char NextChar(TextFile& file) {
    int ch = std::fgetc(file.Stream());
    return ch == EOF ? '?' : static_cast<char>(ch);
}

// Every test works on one file in a fresh folder.
class BatchFile : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.File("batchreport.txt");
};

TEST_F(BatchFile, SameModeKeepsTheStreamAndAnotherModeReopens) {
    WriteBytes(path, "abcdef\r\n");
    TextFile file(path);
    EXPECT_EQ(file.GetMode(), "");
    // The same mode goes on with the same stream where it was; another mode
    // text, even one that also appends, closes and reopens.
    for (const auto& [mode, next] : std::vector<std::pair<const char*, char>>{
             {"a+", 'a'}, {"a+", 'b'}, {"a+t", 'a'}, {"r+", 'a'}, {"r+", 'b'}}) {
        ASSERT_TRUE(file.Open(mode));
        EXPECT_EQ(file.GetMode(), mode);
        EXPECT_EQ(NextChar(file), next) << mode;
    }
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    // Closing keeps the mode; a second close is harmless.
    EXPECT_EQ(file.GetMode(), "r+");
    file.Close();
    // The remembered mode of a closed file does not keep it from opening.
    ASSERT_TRUE(file.Open("r+"));
    EXPECT_EQ(NextChar(file), 'a');
    file.Close();
    EXPECT_EQ(ReadBytes(path), "abcdef\r\n");
}

TEST_F(BatchFile, WriteLineWritesOnlyInAModeThatAppendsWithReading) {
    TextFile file(path);
    // Never opened: nothing happens.
    file.WriteLine("closed");
    file.WriteStamped("closed");
    EXPECT_FALSE(std::filesystem::exists(path));

    WriteBytes(path, "nb = 0\r\n");
    for (const char* mode : {"r+", "r", "a", "w+"}) {
        SCOPED_TRACE(mode);
        // "w+" empties the file: put the text back for the next modes.
        ASSERT_TRUE(file.Open(mode));
        file.WriteLine("report line");
        file.WriteStamped("report line");
        file.Close();
        EXPECT_EQ(ReadBytes(path), std::string(mode) == "w+" ? "" : "nb = 0\r\n");
    }
    ASSERT_TRUE(file.Open("a+"));
    file.WriteLine("100% %s %d done");
    file.WriteLine("");
    file.Close();
    EXPECT_EQ(ReadBytes(path), "100% %s %d done\r\n\r\n");
}

TEST_F(BatchFile, RewindGoesBackToTheStart) {
    WriteBytes(path, "nb = 1\r\nuser = a\r\n");
    TextFile file(path);
    ASSERT_TRUE(file.Open("r+"));
    ASSERT_NE(file.GetMode(), "");
    file.Rewind();  // harmless at the start
    file.Close();
    file.Rewind();  // and on a closed file
    // After reading to the end, a rewind makes the rewrite land at the start.
    TextFile rewriter(path, "nb = 2\n");
    ASSERT_TRUE(rewriter.Open("r+"));
    char line[64];
    while (std::fgets(line, sizeof line, rewriter.Stream()) != nullptr) {
    }
    rewriter.Rewind();
    rewriter.Write();
    rewriter.Close();
    EXPECT_EQ(ReadBytes(path), "nb = 2\r\nuser = a\r\n");

    // A write to the closed file opens it "wt" (emptied) without taking that
    // mode as the file's: no report line could reach it afterwards.
    TextFile fresh(path, "nb = 0\n");
    fresh.Write();
    EXPECT_TRUE(fresh.IsOpen());
    EXPECT_EQ(fresh.GetMode(), "");
    fresh.WriteLine("report line");
    fresh.Close();
    EXPECT_EQ(ReadBytes(path), "nb = 0\r\n");
}

TEST_F(BatchFile, StampedLinesCarryTheLocalTimeAndTheTextAsItIs) {
    TextFile file(path);
    int clockCalls = 0;
    file.SetClock([&] {
        ++clockCalls;
        return std::string("12/05/26 18:27:30");
    });
    // A closed file asks for no time and writes nothing.
    file.WriteStamped("nothing");
    EXPECT_EQ(clockCalls, 0);
    ASSERT_TRUE(file.Open("a+"));
    file.WriteStamped("job %s at 50%");
    file.Close();
    EXPECT_EQ(ReadBytes(path), "12/05/26 18:27:30 -> job %s at 50%\r\n");

    TextFile real(path);
    ASSERT_TRUE(real.Open("a+"));
    real.WriteStamped("now");
    real.Close();
    std::string text = ReadBytes(path);
    std::string second = text.substr(text.find('\n') + 1);
    EXPECT_TRUE(std::regex_match(
        second, std::regex(R"([01]\d/[0-3]\d/\d\d [0-2]\d:[0-5]\d:[0-6]\d -> now\r\n)")))
        << second;
}

TEST_F(BatchFile, DeleteRemovesTheFileAndForgetsStreamAndMode) {
    TextFile file(path);
    ASSERT_TRUE(file.Open("a+"));
    file.WriteLine("old report");
    file.Close();
    EXPECT_TRUE(file.Delete());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(file.GetMode(), "");
    EXPECT_FALSE(file.Delete());  // nothing left to remove

    // An open file is closed first, so that the removal works on every host.
    ASSERT_TRUE(file.Open("a+"));
    EXPECT_TRUE(file.Delete());
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(path));
    // A new report starts empty.
    ASSERT_TRUE(file.Open("a+"));
    file.WriteLine("new report");
    file.Close();
    EXPECT_EQ(ReadBytes(path), "new report\r\n");
}

TEST_F(BatchFile, AnOpenThatWaitingCannotCureFailsAtOnceAndSaysWhy) {
    std::string missing = dir.File("no such folder") + "\\batchreport.txt";
    TextFile file(missing);
    EXPECT_FALSE(file.Open("a+"));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetMode(), "");
    EXPECT_EQ(file.GetOpenFailure().context(), missing);
    EXPECT_FALSE(file.GetOpenFailure().message().empty());
    std::string line = CannotOpenLine(file.GetOpenFailure());
    EXPECT_NE(line.find(missing), std::string::npos) << line;
    EXPECT_NE(line.find(file.GetOpenFailure().message()), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    // Writing to the file that did not open does nothing.
    file.WriteLine("lost");
    file.WriteStamped("lost");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "no such folder"));

    // A file that opened before and fails now is closed, not left half open.
    TextFile folder(dir.File("x.txt"));
    ASSERT_TRUE(folder.Open("a+"));
    ASSERT_TRUE(folder.Open("r+"));
    folder.Close();
    std::filesystem::remove(dir.path() / "x.txt");
    EXPECT_FALSE(folder.Open("r"));
    EXPECT_FALSE(folder.IsOpen());
    EXPECT_TRUE(OpenSharedFile(dir.File("x.txt"), nullptr).stream == nullptr);
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
