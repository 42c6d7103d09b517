#include "platform/shared_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/wait_for_file.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

std::string ReadStream(std::FILE* f) {
    std::string text;
    for (int ch; (ch = std::fgetc(f)) != EOF;) text += static_cast<char>(ch);
    return text;
}

TEST(ExclusiveOpen, WaitsWhileAnotherProgramHoldsTheFileAndTruncatesOnlyOnceItIsOurs) {
    TempDir dir;
    std::string path = dir.File("batchexec.txt");
    WriteBytes(path, "Nombre = 1\r\n");
    testsupport::FileHolder holder(path, "r+", "Nombre = 1\n");
    ASSERT_TRUE(holder.Holding()) << holder.Reason();

    platform::ExclusiveOpen refused = platform::TryOpenExclusive(path, "w");
    EXPECT_TRUE(refused.status.IsBusy());
    EXPECT_EQ(refused.stream, nullptr);

    int pauses = 0;
    auto sleeper = [&](std::uint32_t ms) {
        EXPECT_EQ(ms, 500u);
        // Let the holder go only after a few refused "w" attempts.
        if (++pauses == 3)
            holder.Release();
        if (pauses > 3000)
            throw std::runtime_error("the holder never let go");
        platform::SleepMs(20);
    };
    platform::ExclusiveOpen opened = platform::OpenExclusive(path, "w", sleeper);
    ASSERT_TRUE(opened.status.ok()) << opened.status.ToString();
    EXPECT_GE(pauses, 3);
    // The holder still read its own text after our refused "w" attempts.
    EXPECT_EQ(holder.Wait(), std::optional<int>(0));
    std::fputs("Nombre = 0\n", opened.stream);
    std::fclose(opened.stream);
    EXPECT_EQ(ReadBytes(path), "Nombre = 0\r\n");
}

TEST(ExclusiveOpen, SecondOpenIsRefusedUntilTheFirstIsClosed) {
    TempDir dir;
    std::string path = dir.File("batchreport.txt");
    WriteBytes(path, "line one\r\n");
    platform::ExclusiveOpen first = platform::TryOpenExclusive(path, "r+");
    ASSERT_TRUE(first.status.ok()) << first.status.ToString();
    for (const char* mode : {"r", "w", "a+", "wt"}) {
        platform::ExclusiveOpen second = platform::TryOpenExclusive(path, mode);
        EXPECT_TRUE(second.status.IsBusy()) << mode;
        EXPECT_FALSE(second.status.message().empty());
        if (second.stream != nullptr)
            std::fclose(second.stream);
    }
    // None of the refused opens emptied the file under its holder.
    EXPECT_EQ(ReadStream(first.stream), "line one\n");
    std::fclose(first.stream);

    platform::ExclusiveOpen again = platform::TryOpenExclusive(path, "a+");
    ASSERT_TRUE(again.status.ok()) << again.status.ToString();
    std::fputs("line two\n", again.stream);
    std::fclose(again.stream);
    // Text mode translated the line ends both ways; binary mode keeps bytes.
    platform::ExclusiveOpen binary = platform::OpenExclusive(path, "rb");
    ASSERT_NE(binary.stream, nullptr) << binary.status.ToString();
    EXPECT_EQ(ReadStream(binary.stream), "line one\r\nline two\r\n");
    std::fclose(binary.stream);
}

TEST(ExclusiveOpen, FailuresThatWaitingCannotCureReturnAtOnceWithAReason) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "folder");
    int pauses = 0;
    auto sleeper = [&](std::uint32_t) { ++pauses; };
    struct Case {
        std::string path;
        const char* mode;
    } cases[] = {
        {dir.File("no-such-folder/batchexec.txt"), "w"},
        {dir.File("missing.txt"), "r"},
        {dir.File("missing.txt"), "r+"},
        {dir.File("folder"), "a+"},
        {dir.File("x.txt"), "q"},
    };
    for (const Case& c : cases) {
        platform::ExclusiveOpen result = platform::OpenExclusive(c.path, c.mode, sleeper);
        EXPECT_EQ(result.status.code(), platform::Status::Code::kIoError)
            << c.path << " " << c.mode;
        EXPECT_EQ(result.stream, nullptr);
        EXPECT_FALSE(result.status.message().empty()) << c.path;
    }
    EXPECT_EQ(pauses, 0);
    // Nothing was created by the failed attempts.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.txt"));
}

TEST(ExclusiveOpen, TheBoundedOpenGivesUpOnceItsPausesReachTheBoundAndOpensAFreeFileAtOnce) {
    TempDir dir;
    std::string path = dir.File("batchexec.txt");
    WriteBytes(path, "nb = 0\r\n");
    std::vector<std::uint32_t> pauses;
    platform::Sleeper record = [&](std::uint32_t ms) { pauses.push_back(ms); };

    platform::ExclusiveOpen holder = platform::TryOpenExclusive(path, "r+");
    ASSERT_TRUE(holder.status.ok()) << holder.status.ToString();
    platform::ExclusiveOpen refused = platform::OpenExclusiveWithin(path, "r", 1200, record);
    EXPECT_TRUE(refused.status.IsBusy());
    EXPECT_EQ(refused.stream, nullptr);
    // 500 + 500 + the 200 left: never more than the bound in all.
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{500, 500, 200}));

    pauses.clear();
    EXPECT_TRUE(platform::OpenExclusiveWithin(path, "r", 0, record).status.IsBusy());
    EXPECT_TRUE(pauses.empty());

    // Freed during the wait: the next attempt opens it.
    pauses.clear();
    platform::Sleeper release = [&](std::uint32_t ms) {
        pauses.push_back(ms);
        if (holder.stream != nullptr) {
            std::fclose(holder.stream);
            holder.stream = nullptr;
        }
    };
    platform::ExclusiveOpen opened = platform::OpenExclusiveWithin(path, "r", 5000, release);
    ASSERT_TRUE(opened.status.ok()) << opened.status.ToString();
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_EQ(ReadStream(opened.stream), "nb = 0\n");
    std::fclose(opened.stream);

    // A failure that waiting cannot cure is not waited on.
    pauses.clear();
    platform::ExclusiveOpen missing =
        platform::OpenExclusiveWithin(dir.File("no-such-folder/batchexec.txt"), "r", 5000, record);
    EXPECT_EQ(missing.status.code(), platform::Status::Code::kIoError);
    EXPECT_FALSE(missing.status.message().empty());
    EXPECT_TRUE(pauses.empty());
}

}  // namespace
