// Another program edits the queue while the launcher runs it, as the
// simulator's tools do: at random moments it opens the queue with the same
// exclusive open, cancels waiting jobs (state 0 to 2) and turns their wait
// flags on and off, holds the file for up to a second and writes it back.
//
// Every edit must be honoured (a cancelled job is never started; a job whose
// wait flag was turned on behind a failed job is skipped, and one whose flag
// was turned off runs), none may be overwritten (the final queue shows each
// entry as last edited), and the launcher must neither hang nor stop before
// every job not cancelled has had its turn.
//
// TV_EDITORS_JOBS (default 7) jobs, TV_EDITORS_SEED replays a run.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/shared_file.h"
#include "platform/sleep.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::Job;

struct Edit {
    std::size_t entry = 0;
    bool cancel = false;  // state 0 to 2; otherwise the wait flag toggled
    int wait = 0;         // the new wait flag
};

class ConcurrentEditors : public e2e::EndToEnd {
  protected:
    // One visit of the editing program. Returns the edit it made, if any.
    std::optional<Edit> EditOnce(std::mt19937& random, std::size_t editable, int& cancels,
                                 int maxCancels) {
        // Text mode, as the launcher opens it: line ends are "\n" here.
        platform::ExclusiveOpen open = platform::OpenExclusive(QueuePath().string(), "r+");
        if (open.stream == nullptr)
            return std::nullopt;  // the launcher has finished and deleted it
        std::string crlf;
        for (char c : e2e::ReadAll(open.stream))
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        e2e::StrictQueue queue = e2e::ParseQueueStrictly(crlf);
        EXPECT_EQ(queue.error, "") << "the launcher left a queue that does not parse";
        std::vector<std::size_t> waiting;
        for (std::size_t i = 0; i < queue.jobs.size() && i < editable; ++i)
            if (queue.jobs[i].state == 0)
                waiting.push_back(i);
        std::optional<Edit> edit;
        if (!waiting.empty() && queue.error.empty()) {
            Edit made;
            made.entry =
                waiting[std::uniform_int_distribution<std::size_t>(0, waiting.size() - 1)(random)];
            Job& job = queue.jobs[made.entry];
            // The first entry never waits: only its state is edited.
            made.cancel =
                (made.entry == 0 || std::uniform_int_distribution<int>(0, 2)(random) == 0) &&
                cancels < maxCancels;
            if (made.cancel) {
                job.state = 2;
                ++cancels;
            } else if (made.entry != 0) {
                job.wait = job.wait == 0 ? 1 : 0;
            }
            made.wait = job.wait;
            if (made.cancel || made.entry != 0)
                edit = made;
        }
        // Held for up to a second, edited or not, while the launcher waits.
        platform::SleepMs(std::uniform_int_distribution<std::uint32_t>(0, 1000)(random));
        if (edit) {
            std::string out = e2e::WithoutCarriageReturns(e2e::QueueText(queue.jobs));
            std::rewind(open.stream);
            EXPECT_EQ(std::fwrite(out.data(), 1, out.size(), open.stream), out.size());
        }
        std::fclose(open.stream);
        return edit;
    }
};

TEST_F(ConcurrentEditors, EveryEditMadeWhileTheLauncherRunsIsHonoured) {
    const std::size_t count = e2e::EnvNumber("TV_EDITORS_JOBS", 7);
    const std::uint32_t seed = e2e::Seed("TV_EDITORS_SEED");
    std::printf("concurrent editors: %zu jobs, seed %u (TV_EDITORS_SEED)\n", count, seed);
    std::mt19937 random(seed);

    UseCountingInstallation("200");
    // Every third job fails, so that wait flags decide between running and
    // being skipped. A last entry in a state the launcher leaves alone keeps
    // the queue on disk at the end, for the edits to be read back.
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < count; ++i)
        jobs.push_back({i % 2 ? "bob" : "alice",
                        "e" + std::to_string(i) + (i % 3 == 1 ? "-fail" : "-pass"), 0, 0,
                        i % 4 == 2 ? 1 : 0});
    jobs.push_back({"alice", "keeps-the-queue", 3, 0, 0});
    testsupport::WriteBytes(QueuePath(), e2e::QueueText(jobs));
    e2e::BackgroundLauncher launcher;
    ASSERT_TRUE(launcher.Start());
    std::vector<Edit> edits;
    int cancels = 0;
    // Generous: every job with its pause, and every edit held a second.
    const std::uint32_t limitMs = static_cast<std::uint32_t>(count) * 6000 + 30000;
    std::uint32_t elapsed = 0;
    while (elapsed < limitMs) {
        const std::uint32_t pause = std::uniform_int_distribution<std::uint32_t>(50, 900)(random);
        if (launcher.EndsWithin(pause))
            break;
        elapsed += pause;
        if (std::optional<Edit> edit =
                EditOnce(random, count, cancels, static_cast<int>(count / 3) + 1))
            edits.push_back(*edit);
    }
    ASSERT_TRUE(launcher.EndsWithin(0)) << "the launcher did not end in " << limitMs << " ms";
    EXPECT_EQ(launcher.ExitCode(), 0);
    // The edits as a whole: the queue's flags and cancellations once done.
    for (const Edit& edit : edits) {
        jobs[edit.entry].wait = edit.wait;
        if (edit.cancel)
            jobs[edit.entry].state = 2;
    }

    // What the launcher must have made of them, in queue order: every entry
    // finished as last edited, the runs and logs of the jobs that ran only.
    std::vector<Job> expected = jobs;
    std::map<std::string, int> expectedRuns;
    int previousStatus = 1;
    int ran = 0;
    int skipped = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Job& job = expected[i];
        const bool cancelled = job.state == 2;
        const bool skip = !cancelled && job.wait != 0 && i > 0 && previousStatus == 0;
        job.state = 2;
        job.status = !cancelled && !skip && job.name.find("fail") == std::string::npos ? 1 : 0;
        if (!cancelled && !skip)
            ++expectedRuns[job.user + "/" + job.name];
        ran += !cancelled && !skip;
        skipped += skip;
        EXPECT_EQ(fs::exists(Batch(job.user) / (job.name + ".log")), !cancelled && !skip)
            << job.name;
        previousStatus = job.status;
    }
    EXPECT_EQ(testsupport::ReadBytes(QueuePath()), e2e::QueueText(expected))
        << "an edit was overwritten or a job decided wrongly";
    EXPECT_EQ(m_install->Runs(), expectedRuns);
    std::printf(
        "concurrent editors: %zu edits honoured (%d cancellations, %zu wait flags), %d jobs ran, "
        "%d skipped, seed %u\n",
        edits.size(), cancels, edits.size() - static_cast<std::size_t>(cancels), ran, skipped,
        seed);
}

}  // namespace
