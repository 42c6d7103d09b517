// The console's progress lines: their form, and one line for each job that
// ran, told as its outcome is recorded, with the time from its launch.
#include "app/progress_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/batch_fixture_test_support.h"
#include "app/batch_run.h"
#include "app/batch_run_test_support.h"

namespace {

using apptest::Outcome;
using apptest::QueueText;

TEST(ProgressLine, NamesOutcomeAndPlaceWithTheElapsedTimeInWholeSeconds) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {-5000, "0s"},           {999, "0s"},
        {59'999, "59s"},         {60'000, "1m00s"},
        {3'599'999, "59m59s"},   {3'600'000, "1h00m00s"},
        {3'725'000, "1h02m05s"}, {100LL * 3600 * 1000, "100h00m00s"}};
    for (const auto& [ms, text] : cases) EXPECT_EQ(FormatElapsed(ms), text) << ms;
    JobProgress progress{0, 1, "bob", "caf\xE9 job", false, std::nullopt};
    EXPECT_EQ(FormatProgressLine(progress), "[1/1] bob caf\xE9 job failed");
    // A name cannot move the cursor, clear the screen or end the line.
    progress = JobProgress{0, 1, "m\x1b[2Jallory", "a\rb\nc\x7f", false, 0};
    EXPECT_EQ(FormatProgressLine(progress), "[1/1] m?[2Jallory a?b?c? failed in 0s");
}

class ProgressOfARun : public apptest::RunFixture {};

TEST_F(ProgressOfARun, EachJobThatRanIsToldOnceAsItsOutcomeIsRecorded) {
    WriteBatchFile(
        "batchexec.txt",
        QueueText(
            {{"anne", "shaft"}, {"bob", "broken"}, {"bob", "waits", 0, 0, 1}, {"anne", "last"}}));
    fake.durations["shaft"] = 252'000;
    fake.durations["broken"] = 1'500;
    fake.outcomes["broken"] = Outcome::kFails;
    fake.outcomes["last"] = Outcome::kCannotStart;
    BatchRunHost host = fake.Host();
    std::vector<std::string> lines;
    host.jobEnded = [&](const JobProgress& progress) {
        // Told once the queue holds the outcome, for other programs to see.
        const std::string queue = ReadBatchFile("batchexec.txt");
        EXPECT_NE(queue.find("name = " + progress.job.str() +
                             "\r\nstate = 2\r\nstatus = " + (progress.succeeded ? "1" : "0")),
                  std::string::npos)
            << queue;
        lines.push_back(FormatProgressLine(progress));
    };
    KvBatchExecFile queue(batch, &users);
    ASSERT_TRUE(BatchRun(queue, host, BatchRunSettings()).Run());

    // The waiter of the failed job is skipped, not run: no line.
    EXPECT_EQ(lines, (std::vector<std::string>{"[1/4] anne shaft succeeded in 4m12s",
                                               "[2/4] bob broken failed in 1s",
                                               "[4/4] anne last failed in 0s"}));
}

}  // namespace
