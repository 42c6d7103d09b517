#include "platform/current_process.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport/test_main.h"

namespace {

TEST(CurrentExecutablePath, NamesThisProgramsOwnFile) {
    const std::string path = platform::CurrentExecutablePath();
    ASSERT_FALSE(path.empty());
    // Another machine's job starts the program by this path: it must be the
    // very file this process runs, whatever the current folder.
    EXPECT_TRUE(std::filesystem::equivalent(
        std::filesystem::path(path), std::filesystem::path(testsupport::TestExecutablePath())))
        << path;
    EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
}

}  // namespace
