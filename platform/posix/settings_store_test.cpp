// What only the Linux settings store does: its files are read again whenever
// they may have changed, and what was read is kept only while they have not.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/settings_store.h"
#include "platform/sleep.h"
#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::SettingsRoot;

std::string Query() {
    platform::SettingsKey key =
        platform::OpenSettingsKey(SettingsRoot::LocalMachine, "SOFTWARE\\Tv");
    char buffer[64] = {};
    std::size_t size = sizeof buffer;
    const bool found = platform::QuerySettingsValue(key, "V", buffer, &size);
    platform::CloseSettingsKey(key);
    return found ? std::string(buffer, size > 0 ? size - 1 : 0) : "<missing>";
}

TEST(SettingsFilesRead, EveryEditCountsAtOnceWhateverItsTimes) {
    testsupport::TempDir dir;
    testsupport::ScopedEnv prefix("TORVANE_PREFIX", dir.path().string());
    const fs::path machine = dir.path() / "machine.reg";
    const auto write = [](const fs::path& path, const std::string& value) {
        testsupport::WriteBytes(
            path,
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tv]\r\n\"V\"=\"" + value + "\"\r\n");
    };

    // Files changed just now: two edits of the same size within one tick of
    // the file system's clock look alike, so such files are read every time.
    write(machine, "ab1");
    EXPECT_EQ(Query(), "ab1");
    write(machine, "ab2");
    EXPECT_EQ(Query(), "ab2");

    // A settled file (its inode last changed over two seconds ago) is kept
    // as read. An edit of the same size that puts the old time back still
    // changes the inode's time; so does a file put in its place, as editors
    // save.
    const auto anHourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    write(machine, "one");
    fs::last_write_time(machine, anHourAgo);
    platform::SleepMs(2100);
    EXPECT_EQ(Query(), "one");
    write(machine, "two");
    fs::last_write_time(machine, anHourAgo);
    EXPECT_EQ(Query(), "two");
    const fs::path other = dir.path() / "machine.new";
    write(other, "six");
    fs::last_write_time(other, anHourAgo);
    fs::rename(other, machine);
    EXPECT_EQ(Query(), "six");
    fs::remove(machine);
    EXPECT_EQ(Query(), "<missing>");
}

}  // namespace
