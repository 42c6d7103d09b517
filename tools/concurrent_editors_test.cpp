// The simulator's tools cancel jobs or toggle wait flags under the running
// launcher, holding the queue up to a second: every edit is honoured and every
// job has its turn. TV_EDITORS_JOBS (7) jobs, TV_EDITORS_SEED replays.

#include "platform/shared_file.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using e2e::Job;

class ConcurrentEditors : public e2e::EndToEnd {
  protected:
    // Cancels a waiting job or toggles its wait flag, in the file and in m_edited.
    bool EditOnce(std::mt19937& random, int maxCancels) {
        platform::ExclusiveOpen open = platform::OpenExclusive(QueuePath().string(), "r+");
        if (open.stream == nullptr)
            return false;  // the launcher has finished and deleted it
        // Text mode, as the launcher opens it: line ends are "\n" here.
        std::string crlf;
        for (char c : e2e::ReadAll(open.stream))
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        e2e::StrictQueue queue = e2e::ParseQueueStrictly(crlf);
        EXPECT_EQ(queue.error, "") << "the launcher left a queue that does not parse";
        std::vector<std::size_t> waiting;
        for (std::size_t i = 0; queue.error.empty() && i < queue.jobs.size(); ++i)
            if (queue.jobs[i].state == 0)
                waiting.push_back(i);
        bool edited = false;
        if (!waiting.empty()) {
            const std::size_t i =
                waiting[std::uniform_int_distribution<std::size_t>(0, waiting.size() - 1)(random)];
            // The first entry never waits: it can only be cancelled.
            const bool cancel = (i == 0 || std::uniform_int_distribution<int>(0, 2)(random) == 0) &&
                                m_cancels < maxCancels;
            edited = cancel || i != 0;
            if (cancel) {
                queue.jobs[i].state = m_edited[i].state = 2;
                ++m_cancels;
            } else if (i != 0) {
                queue.jobs[i].wait = m_edited[i].wait = 1 - queue.jobs[i].wait;
            }
        }
        // Held for up to a second, edited or not, while the launcher waits.
        platform::SleepMs(std::uniform_int_distribution<std::uint32_t>(0, 1000)(random));
        if (edited) {
            std::string out = e2e::WithoutCarriageReturns(e2e::QueueText(queue.jobs));
            std::rewind(open.stream);
            EXPECT_EQ(std::fwrite(out.data(), 1, out.size(), open.stream), out.size());
        }
        std::fclose(open.stream);
        return edited;
    }

    std::vector<Job> m_edited;  // the queue as the editor left it
    int m_cancels = 0;
};

TEST_F(ConcurrentEditors, EveryEditMadeWhileTheLauncherRunsIsHonoured) {
    const std::size_t count = e2e::EnvNumber("TV_EDITORS_JOBS", 7);
    const auto seed =
        static_cast<std::uint32_t>(e2e::EnvNumber("TV_EDITORS_SEED", std::random_device()()));
    std::printf("concurrent editors: %zu jobs, seed %u (TV_EDITORS_SEED)\n", count, seed);
    std::mt19937 random(seed);

    UseCountingInstallation("200");
    // Failures make wait flags matter; the last entry keeps the queue on disk.
    for (std::size_t i = 0; i < count; ++i)
        m_edited.push_back({i % 2 ? "bob" : "alice",
                            "e" + std::to_string(i) + (i % 3 == 1 ? "-fail" : "-pass"), 0, 0,
                            i % 4 == 2 ? 1 : 0});
    m_edited.push_back({"alice", "keeps-the-queue", 3, 0, 0});
    testsupport::WriteBytes(QueuePath(), e2e::QueueText(m_edited));
    e2e::BackgroundLauncher launcher;
    ASSERT_TRUE(launcher.Start());
    int edits = 0;
    const std::uint32_t limitMs = static_cast<std::uint32_t>(count) * 6000 + 30000;
    for (std::uint32_t elapsed = 0; elapsed < limitMs;) {
        const std::uint32_t pause = std::uniform_int_distribution<std::uint32_t>(50, 900)(random);
        if (launcher.EndsWithin(pause))
            break;
        elapsed += pause;
        edits += EditOnce(random, static_cast<int>(count / 3) + 1) ? 1 : 0;
    }
    ASSERT_TRUE(launcher.EndsWithin(0)) << "the launcher did not end in " << limitMs << " ms";
    EXPECT_EQ(launcher.ExitCode(), 0);

    // Every entry finished as last edited; runs and logs of those that ran.
    std::vector<Job> expected = m_edited;
    std::map<std::string, int> expectedRuns;
    int previousStatus = 1;
    for (std::size_t i = 0; i < count; ++i) {
        Job& job = expected[i];
        const bool ran = job.state == 0 && !(job.wait != 0 && i > 0 && previousStatus == 0);
        job.state = 2;
        job.status = ran && job.name.find("fail") == std::string::npos ? 1 : 0;
        if (ran)
            ++expectedRuns[job.user + "/" + job.name];
        EXPECT_EQ(fs::exists(Batch(job.user) / (job.name + ".log")), ran) << job.name;
        previousStatus = job.status;
    }
    EXPECT_EQ(testsupport::ReadBytes(QueuePath()), e2e::QueueText(expected))
        << "an edit was overwritten or a job decided wrongly";
    EXPECT_EQ(Runs(), expectedRuns);
    std::printf("concurrent editors: %d edits honoured (%d cancellations), %zu jobs ran, seed %u\n",
                edits, m_cancels, expectedRuns.size(), seed);
}

}  // namespace
