#include "platform/shared_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::WriteBytes;

// Reads the rest of the stream and closes it.
std::string ReadAndClose(std::FILE* f) {
    std::string text;
    for (int ch; (ch = std::fgetc(f)) != EOF;) text += static_cast<char>(ch);
    std::fclose(f);
    return text;
}

class ExclusiveOpen : public ::testing::Test {
  protected:
    // A file with `bytes`, held open by another exclusive open.
    platform::ExclusiveOpen Held(const std::string& name, const std::string& bytes) {
        path = dir.File(name);
        WriteBytes(path, bytes);
        platform::ExclusiveOpen holder = platform::TryOpenExclusive(path, "r+");
        EXPECT_TRUE(holder.status.ok()) << holder.status.ToString();
        return holder;
    }
    testsupport::TempDir dir;
    std::string path;
    std::vector<std::uint32_t> pauses;
    platform::Sleeper record = [this](std::uint32_t ms) { pauses.push_back(ms); };
};

TEST_F(ExclusiveOpen, ASecondOpenIsRefusedWithoutTouchingTheFileUntilTheFirstIsClosed) {
    platform::ExclusiveOpen first = Held("batchreport.txt", "line one\r\n");
    for (const char* mode : {"r", "w", "a+", "wt"}) {
        platform::ExclusiveOpen second = platform::TryOpenExclusive(path, mode);
        EXPECT_TRUE(second.status.IsBusy()) << mode;
        EXPECT_FALSE(second.status.message().empty());
        EXPECT_EQ(second.stream, nullptr);
    }
    EXPECT_EQ(ReadAndClose(first.stream), "line one\n");

    platform::ExclusiveOpen again = platform::TryOpenExclusive(path, "a+");
    ASSERT_TRUE(again.status.ok()) << again.status.ToString();
    std::fputs("line two\n", again.stream);
    std::fclose(again.stream);
    // Text mode translated the line ends both ways; binary mode keeps bytes.
    platform::ExclusiveOpen binary = platform::OpenExclusive(path, "rb");
    ASSERT_NE(binary.stream, nullptr) << binary.status.ToString();
    EXPECT_EQ(ReadAndClose(binary.stream), "line one\r\nline two\r\n");
}

TEST_F(ExclusiveOpen, WaitsInPausesOfHalfASecondAndTruncatesOnlyOnceTheFileIsOurs) {
    platform::ExclusiveOpen holder = Held("batchexec.txt", "Nombre = 1\r\n");
    std::string heldText;
    platform::Sleeper releaseOnThird = [&](std::uint32_t ms) {
        pauses.push_back(ms);
        if (pauses.size() == 3) {
            std::rewind(holder.stream);
            heldText = ReadAndClose(holder.stream);
        }
        if (pauses.size() > 100)
            throw std::runtime_error("the open never succeeded");
    };
    platform::ExclusiveOpen opened = platform::OpenExclusive(path, "w", releaseOnThird);
    ASSERT_TRUE(opened.status.ok()) << opened.status.ToString();
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{500, 500, 500}));
    EXPECT_EQ(heldText, "Nombre = 1\n") << "a refused \"w\" emptied the file under its holder";
    std::fputs("Nombre = 0\n", opened.stream);
    std::fclose(opened.stream);
    EXPECT_EQ(ReadBytes(path), "Nombre = 0\r\n");
}

TEST_F(ExclusiveOpen, TheBoundedOpenGivesUpOnceItsPausesReachTheBound) {
    platform::ExclusiveOpen holder = Held("batchexec.txt", "nb = 0\r\n");
    EXPECT_TRUE(platform::OpenExclusiveWithin(path, "r", 1200, record).status.IsBusy());
    // 500 + 500 + the 200 left: never more than the bound in all.
    EXPECT_EQ(pauses, (std::vector<std::uint32_t>{500, 500, 200}));
    pauses.clear();
    EXPECT_TRUE(platform::OpenExclusiveWithin(path, "r", 0, record).status.IsBusy());
    EXPECT_TRUE(pauses.empty());

    platform::Sleeper release = [&](std::uint32_t ms) {
        pauses.push_back(ms);
        if (holder.stream != nullptr)
            std::fclose(std::exchange(holder.stream, nullptr));
    };
    platform::ExclusiveOpen opened = platform::OpenExclusiveWithin(path, "r", 5000, release);
    ASSERT_TRUE(opened.status.ok()) << opened.status.ToString();
    EXPECT_EQ(pauses.size(), 1u);
    EXPECT_EQ(ReadAndClose(opened.stream), "nb = 0\n");
}

TEST_F(ExclusiveOpen, FailuresThatWaitingCannotCureReturnAtOnceWithAReason) {
    std::filesystem::create_directory(dir.path() / "folder");
    const std::pair<std::string, const char*> cases[] = {
        {dir.File("no-such-folder/batchexec.txt"), "w"},
        {dir.File("missing.txt"), "r"},
        {dir.File("missing.txt"), "r+"},
        {dir.File("folder"), "a+"},
        {dir.File("x.txt"), "q"},
    };
    for (const auto& [file, mode] : cases) {
        SCOPED_TRACE(file + " " + mode);
        for (platform::ExclusiveOpen result :
             {platform::OpenExclusive(file, mode, record),
              platform::OpenExclusiveWithin(file, mode, 5000, record)}) {
            EXPECT_EQ(result.status.code(), platform::Status::Code::kIoError);
            EXPECT_EQ(result.stream, nullptr);
            EXPECT_FALSE(result.status.message().empty());
        }
    }
    EXPECT_TRUE(pauses.empty());
    // Nothing was created by the failed attempts.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "x.txt"));
}

}  // namespace
