// What only the Windows launcher does: a batch file started by CreateProcessA
// runs in the command interpreter, which receives the quoted arguments.
#include <gtest/gtest.h>

#include <string>

#include "platform/process.h"
#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

TEST(LaunchBatchFile, QuotedArgumentsReachTheScriptAndItsExitCodeComesBack) {
    TempDir dir;
    std::string script = dir.File("TorvaneBatch.bat");
    std::string out = dir.File("out.txt");
    WriteBytes(script, "@echo off\r\necho %~1^|%~3^|%~5> \"" + out + "\"\r\nexit /b 4\r\n");
    platform::LaunchResult result =
        platform::LaunchCommandLine("\"" + script + "\" -b -u \"Jean Dupont\" -j \"job (1)\"");
    ASSERT_TRUE(result.created) << result.reason;
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_EQ(ReadBytes(out), "-b|Jean Dupont|job (1)\r\n");
}

}  // namespace
