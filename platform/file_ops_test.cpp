#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/dir_search.h"
#include "platform/timestamp.h"
#include "testsupport/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBytes;

class FileOps : public ::testing::Test {
  protected:
    // Writes `name` inside the folder and gives its path.
    std::string Put(const std::string& name, const std::string& bytes) {
        testsupport::WriteBytes(dir.path() / name, bytes);
        return dir.File(name);
    }
    testsupport::TempDir dir;
};

TEST_F(FileOps, FailedCopiesChangeNothing) {
    const std::string big = Put("a.txt", std::string(300000, 'x'));
    const std::string kept = Put("b.txt", "kept");
    EXPECT_FALSE(platform::CopyOneFile(big, kept, false)) << "no overwriting";
    EXPECT_EQ(ReadBytes(kept), "kept");
    // Missing source, missing target folder, a folder as source.
    fs::create_directory(dir.path() / "sub");
    EXPECT_FALSE(platform::CopyOneFile(dir.File("none.txt"), dir.File("d.txt"), false));
    EXPECT_FALSE(platform::CopyOneFile(big, dir.File("no\\d.txt"), false));
    EXPECT_FALSE(platform::CopyOneFile(dir.File("sub"), dir.File("e.txt"), false));
    EXPECT_FALSE(fs::exists(dir.path() / "d.txt") || fs::exists(dir.path() / "e.txt"));
}

TEST_F(FileOps, MoveIntoPlacePutsTheNewFileInPlaceWhole) {
    const std::string queue = Put("queue.txt", "old text, longer than the new one");
    EXPECT_TRUE(platform::MoveIntoPlace(Put("queue.new", "new"), queue));
    EXPECT_EQ(ReadBytes(queue), "new");
    EXPECT_FALSE(fs::exists(dir.path() / "queue.new"));
    // Into a missing destination, and from a missing source.
    EXPECT_TRUE(platform::MoveIntoPlace(Put("b.new", "b"), dir.File("b.txt")));
    EXPECT_FALSE(platform::MoveIntoPlace(dir.File("none.new"), dir.File("b.txt")));
    EXPECT_EQ(ReadBytes(dir.path() / "b.txt"), "b");
}

// File times and NowMs share one clock, so that "written after the launch"
// can be decided from a time stamp taken before it.
TEST_F(FileOps, ModificationTimeInMillisecondsOfTheUnixEpoch) {
    const std::int64_t before = platform::NowMs();
    const std::string path = Put("log.txt", "written now");
    const std::int64_t after = platform::NowMs();
    std::optional<std::int64_t> written = platform::ModificationTimeMs(path);
    ASSERT_TRUE(written.has_value());
    // File systems keep coarser times than the clock: allow two seconds.
    EXPECT_GE(*written, before - 2000);
    EXPECT_LE(*written, after + 2000);
    // A thousand million seconds after 1970 (whole seconds, as Windows sets them).
    fs::last_write_time(path,
                        std::chrono::file_clock::from_sys(std::chrono::system_clock::time_point(
                            std::chrono::milliseconds(1000000000000LL))));
    EXPECT_EQ(platform::ModificationTimeMs(path), std::optional<std::int64_t>(1000000000000LL));
    EXPECT_TRUE(platform::ModificationTimeMs(dir.path().string()).has_value());
    EXPECT_FALSE(platform::ModificationTimeMs(dir.File("missing\\deeper.log")).has_value());
}

TEST_F(FileOps, CurrentFolderChanges) {
    const fs::path before = fs::current_path();
    fs::create_directory(dir.path() / "here");
    Put("here/mark.txt", "m");
    ASSERT_TRUE(platform::ChangeCurrentFolder(dir.File("here")));
    unsigned bits = 0;
    EXPECT_TRUE(platform::GetAttributes("mark.txt", bits));
    fs::current_path(before);
    EXPECT_FALSE(platform::ChangeCurrentFolder(dir.File("missing")));
    EXPECT_FALSE(platform::GetAttributes(dir.File("missing"), bits));
}

TEST_F(FileOps, SameEntryFollowsSpellingsNotNames) {
    fs::create_directory(dir.path() / "sub");
    Put("sub/a.txt", "a");
    Put("b.txt", "a");
    EXPECT_TRUE(platform::SameEntry(dir.File("sub"), dir.File("sub\\.\\..\\sub")));
    EXPECT_TRUE(platform::SameEntry(dir.File("sub\\a.txt"), dir.File(".\\sub\\a.txt")));
    // Equal contents are not the same entry; a missing path is never the same.
    EXPECT_FALSE(platform::SameEntry(dir.File("sub\\a.txt"), dir.File("b.txt")));
    EXPECT_FALSE(platform::SameEntry(dir.File("sub"), dir.File("none")));
    EXPECT_FALSE(platform::SameEntry(dir.File("none"), dir.File("none")));
}

#ifndef _WIN32
// The Linux mapping of the attributes. A linked folder's removal is checked
// by the recursive removal of fsutil/file_system_test.cpp.
TEST_F(FileOps, LinuxAttributeMapping) {
    const std::string readOnly = Put("ro.txt", "r");
    ::chmod(readOnly.c_str(), 0444);
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    fs::create_directory(dir.path() / "target");
    fs::create_directory_symlink(dir.path() / "target", dir.path() / "link");
    fs::create_symlink(dir.path() / "gone", dir.path() / "dangling");
    auto attributes = [&](const std::string& name) {
        unsigned bits = 0;
        EXPECT_TRUE(platform::GetAttributes(dir.File(name), bits)) << name;
        return bits;
    };
    using namespace platform;
    EXPECT_EQ(attributes("ro.txt") & (kAttrReadOnly | kAttrSystem), kAttrReadOnly);
    EXPECT_EQ(attributes("pipe") & (kAttrDevice | kAttrFolder), kAttrDevice);
    EXPECT_EQ(attributes("link") & (kAttrFolder | kAttrReparsePoint),
              kAttrFolder | kAttrReparsePoint);
    EXPECT_EQ(attributes("dangling") & kAttrFolder, 0u);
    // A fifo is refused at once rather than waited on; copies keep the permission bits.
    EXPECT_FALSE(CopyOneFile(dir.File("pipe"), dir.File("pipe2"), false));
    EXPECT_FALSE(fs::exists(dir.path() / "pipe2"));
    ASSERT_TRUE(CopyOneFile(readOnly, dir.File("ro2.txt"), false));
    EXPECT_EQ(attributes("ro2.txt") & kAttrReadOnly, kAttrReadOnly);
}
#endif

}  // namespace
