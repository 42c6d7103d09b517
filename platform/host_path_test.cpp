#include "platform/host_path.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "testsupport/temp_dir.h"

#ifndef _WIN32
namespace {

TEST(HostPath, BackslashesBecomeSlashesAndPosixPathsPass) {
    unsetenv("TORVANE_PREFIX");
    EXPECT_EQ(platform::ToHostPath("a\\b\\c.txt"), "a/b/c.txt");
    EXPECT_EQ(platform::ToHostPath("/tmp/x y/z"), "/tmp/x y/z");
    EXPECT_EQ(platform::ToHostPath("C:\\Torvane\\x"), "C:/Torvane/x");
}

TEST(HostPath, DriveLettersGoThroughThePrefixDevices) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.path() / "dosdevices");
    std::filesystem::create_directories(dir.path() / "drive_c");
    std::filesystem::create_directory_symlink(dir.path() / "drive_c",
                                              dir.path() / "dosdevices" / "c:");
    setenv("TORVANE_PREFIX", dir.path().c_str(), 1);
    std::string device = (dir.path() / "dosdevices" / "c:").string();
    EXPECT_EQ(platform::ToHostPath("C:\\Torvane\\x.txt"), device + "/Torvane/x.txt");
    EXPECT_EQ(platform::ToHostPath("c:x.txt"), device + "/x.txt");
    // A drive without a device folder is left alone.
    EXPECT_EQ(platform::ToHostPath("D:\\x"), "D:/x");
    unsetenv("TORVANE_PREFIX");
}

}  // namespace
#else
TEST(HostPath, WindowsPathsAreUnchanged) {
    EXPECT_EQ(platform::ToHostPath("C:\\a\\b/c"), "C:\\a\\b/c");
}
#endif
