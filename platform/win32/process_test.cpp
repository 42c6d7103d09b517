// What only the Windows launcher does: a group is a job object, which must
// leave the job of a launcher run as a scheduled task.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"
#include "testsupport/wait_for_file.h"

namespace {

using testsupport::TempDir;

// The scheduler ends the task's job. A group breaks away from it where the job
// allows; where not, the group is still made, nested, and ends with the task.
TEST(EndProcessGroup, AGroupLeavesTheJobOfAScheduledLauncherWhereItMay) {
    for (bool breakawayAllowed : {true, false}) {
        SCOPED_TRACE(breakawayAllowed ? "breakaway allowed" : "breakaway refused");
        TempDir dir;
        const std::string report = dir.File("job");
        const std::string never = dir.File("never-written");
        HANDLE task = ::CreateJobObjectA(nullptr, nullptr);
        ASSERT_NE(task, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags =
            JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
            (breakawayAllowed ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
        ASSERT_TRUE(::SetInformationJobObject(task, JobObjectExtendedLimitInformation, &limits,
                                              sizeof limits));

        std::string line = platform::JoinCommandLine(
            testsupport::TestExecutablePath(), {testsupport::ChildArgument("start_and_report"),
                                                "own", report, never, "wait_for_go", never});
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION launcher{};
        ASSERT_TRUE(::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                                     CREATE_SUSPENDED, nullptr, nullptr, &startup, &launcher));
        ASSERT_TRUE(::AssignProcessToJobObject(task, launcher.hProcess));
        ::ResumeThread(launcher.hThread);
        ::CloseHandle(launcher.hThread);

        const platform::ProcessIdentity job = testsupport::ReadIdentityFile(report);
        ASSERT_TRUE(platform::IsStillRunning(job)) << "no group was made";
        ::TerminateJobObject(task, 1);
        ::CloseHandle(task);
        EXPECT_EQ(::WaitForSingleObject(launcher.hProcess, 10000), WAIT_OBJECT_0);
        ::CloseHandle(launcher.hProcess);
        if (breakawayAllowed) {
            platform::SleepMs(300);
            EXPECT_TRUE(platform::IsStillRunning(job)) << "the job was ended with the task";
            EXPECT_TRUE(platform::EndProcessGroup(job, 1000));
        }
        EXPECT_TRUE(testsupport::EndsWithin(job));
    }
}

}  // namespace
