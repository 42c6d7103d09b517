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
using testsupport::WriteBytes;

TEST(FileOps, FailedCopiesChangeNothing) {
    testsupport::TempDir dir;
    std::string big(300000, 'x');
    WriteBytes(dir.path() / "a.txt", big);
    // Without overwriting, an existing destination is left as it was.
    WriteBytes(dir.path() / "b.txt", "kept");
    EXPECT_FALSE(platform::CopyOneFile(dir.File("a.txt"), dir.File("b.txt"), false));
    EXPECT_EQ(ReadBytes(dir.path() / "b.txt"), "kept");
    // Onto itself: the file must survive whole.
    EXPECT_FALSE(platform::CopyOneFile(dir.File("a.txt"), dir.File("a.txt"), true));
    EXPECT_EQ(ReadBytes(dir.path() / "a.txt"), big);
    // Missing source, missing target folder, a folder as source.
    EXPECT_FALSE(platform::CopyOneFile(dir.File("none.txt"), dir.File("d.txt"), false));
    EXPECT_FALSE(fs::exists(dir.path() / "d.txt"));
    EXPECT_FALSE(platform::CopyOneFile(dir.File("a.txt"), dir.File("no\\d.txt"), false));
    fs::create_directory(dir.path() / "sub");
    EXPECT_FALSE(platform::CopyOneFile(dir.File("sub"), dir.File("e.txt"), false));
    EXPECT_FALSE(fs::exists(dir.path() / "e.txt"));
}

TEST(FileOps, MoveIntoPlacePutsTheNewFileInPlaceWhole) {
    testsupport::TempDir dir;
    WriteBytes(dir.path() / "queue.txt", "old text, longer than the new one");
    WriteBytes(dir.path() / "queue.new", "new");
    EXPECT_TRUE(platform::MoveIntoPlace(dir.File("queue.new"), dir.File("queue.txt")));
    EXPECT_EQ(ReadBytes(dir.path() / "queue.txt"), "new");
    EXPECT_FALSE(fs::exists(dir.path() / "queue.new"));

    // Into a missing destination, and from a missing source.
    WriteBytes(dir.path() / "b.new", "b");
    EXPECT_TRUE(platform::MoveIntoPlace(dir.File("b.new"), dir.File("b.txt")));
    EXPECT_EQ(ReadBytes(dir.path() / "b.txt"), "b");
    EXPECT_FALSE(platform::MoveIntoPlace(dir.File("none.new"), dir.File("b.txt")));
    EXPECT_EQ(ReadBytes(dir.path() / "b.txt"), "b");
}

// File times and NowMs share one clock, so that "written after the launch"
// can be decided from a time stamp taken before it.
TEST(FileOps, ModificationTimeInMillisecondsOfTheUnixEpoch) {
    testsupport::TempDir dir;
    const std::string path = dir.File("log.txt");
    const std::int64_t before = platform::NowMs();
    WriteBytes(path, "written now");
    const std::int64_t after = platform::NowMs();
    std::optional<std::int64_t> written = platform::ModificationTimeMs(path);
    ASSERT_TRUE(written.has_value());
    // File systems keep coarser times than the clock: allow two seconds.
    EXPECT_GE(*written, before - 2000);
    EXPECT_LE(*written, after + 2000);

    // 2001-09-09 01:46:40 UTC, a thousand million seconds after 1970 (whole
    // seconds: the Windows runtime sets file times to the second).
    const auto moment =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(1000000000000LL));
    fs::last_write_time(path, std::chrono::file_clock::from_sys(moment));
    EXPECT_EQ(platform::ModificationTimeMs(path), std::optional<std::int64_t>(1000000000000LL));

    EXPECT_TRUE(platform::ModificationTimeMs(dir.path().string()).has_value());
    EXPECT_FALSE(platform::ModificationTimeMs(dir.File("missing\\deeper.log")).has_value());
}

TEST(FileOps, CurrentFolderChanges) {
    testsupport::TempDir dir;
    fs::path before = fs::current_path();
    fs::create_directory(dir.path() / "here");
    WriteBytes(dir.path() / "here" / "mark.txt", "m");
    ASSERT_TRUE(platform::ChangeCurrentFolder(dir.File("here")));
    unsigned bits = 0;
    EXPECT_TRUE(platform::GetAttributes("mark.txt", bits));
    EXPECT_FALSE(platform::ChangeCurrentFolder(dir.File("missing")));
    EXPECT_FALSE(platform::GetAttributes(dir.File("missing"), bits));
    fs::current_path(before);
}

#ifndef _WIN32
unsigned AttributesOf(const std::string& path) {
    unsigned bits = 0;
    EXPECT_TRUE(platform::GetAttributes(path, bits)) << path;
    return bits;
}

// The Linux mapping of the remaining attributes.
TEST(FileOps, LinuxAttributeMapping) {
    testsupport::TempDir dir;
    WriteBytes(dir.path() / "ro.txt", "r");
    ::chmod(dir.File("ro.txt").c_str(), 0444);
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    fs::create_directory(dir.path() / "target");
    fs::create_directory_symlink(dir.path() / "target", dir.path() / "link");
    fs::create_symlink(dir.path() / "gone", dir.path() / "dangling");

    EXPECT_NE(AttributesOf(dir.File("ro.txt")) & platform::kAttrReadOnly, 0u);
    EXPECT_EQ(AttributesOf(dir.File("pipe")) & (platform::kAttrDevice | platform::kAttrFolder),
              platform::kAttrDevice);
    EXPECT_EQ(
        AttributesOf(dir.File("link")) & (platform::kAttrFolder | platform::kAttrReparsePoint),
        platform::kAttrFolder | platform::kAttrReparsePoint);
    EXPECT_EQ(AttributesOf(dir.File("dangling")) & platform::kAttrFolder, 0u);
    EXPECT_EQ(AttributesOf(dir.File("ro.txt")) & platform::kAttrSystem, 0u);

    // A link standing in for a folder is removed itself, never its target.
    WriteBytes(dir.path() / "target" / "keep.txt", "k");
    EXPECT_TRUE(platform::RemoveEmptyFolder(dir.File("link")));
    EXPECT_TRUE(fs::exists(dir.path() / "target" / "keep.txt"));

    // A fifo is refused at once rather than waited on.
    EXPECT_FALSE(platform::CopyOneFile(dir.File("pipe"), dir.File("pipe2"), false));
    EXPECT_FALSE(fs::exists(dir.path() / "pipe2"));

    // Copies keep the permission bits.
    ASSERT_TRUE(platform::CopyOneFile(dir.File("ro.txt"), dir.File("ro2.txt"), false));
    EXPECT_NE(AttributesOf(dir.File("ro2.txt")) & platform::kAttrReadOnly, 0u);
}
#endif

TEST(FileOps, SameEntryFollowsSpellingsNotNames) {
    testsupport::TempDir dir;
    fs::create_directory(dir.path() / "sub");
    WriteBytes(dir.path() / "sub" / "a.txt", "a");
    WriteBytes(dir.path() / "b.txt", "a");
    // One folder and one file under two spellings.
    EXPECT_TRUE(platform::SameEntry(dir.File("sub"), dir.File("sub\\.\\..\\sub")));
    EXPECT_TRUE(platform::SameEntry(dir.File("sub\\a.txt"), dir.File(".\\sub\\a.txt")));
    // Equal contents are not the same entry; a missing path is never the same.
    EXPECT_FALSE(platform::SameEntry(dir.File("sub\\a.txt"), dir.File("b.txt")));
    EXPECT_FALSE(platform::SameEntry(dir.File("sub"), dir.File("none")));
    EXPECT_FALSE(platform::SameEntry(dir.File("none"), dir.File("none")));
}

}  // namespace
