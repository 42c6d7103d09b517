// Whether standard output is a terminal: a program whose output is captured
// through a pipe, as a scheduled task's or a test's is, is told it is not.
#include "platform/console.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/child_process.h"
#include "testsupport/test_main.h"

namespace {

TV_TEST_CHILD(console_state) {
    std::fputs(platform::StandardOutputIsTerminal() ? "terminal" : "not a terminal", stdout);
    return 0;
}

TEST(Console, OutputCapturedThroughAPipeIsNotATerminal) {
    platform::CapturedRun run = platform::RunAndCapture(
        testsupport::TestExecutablePath(), {testsupport::ChildArgument("console_state")});
    ASSERT_TRUE(run.started) << run.reason;
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "not a terminal");
}

}  // namespace
