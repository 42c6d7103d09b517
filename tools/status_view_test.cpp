// torvane-batch --status with the real launcher, the real host and the
// stand-in: while a batch runs its JSON agrees with the queue file and names
// the launcher and its running job, and being asked does not slow the batch
// down; with no queue; and after a launcher was killed (its journal left
// behind, its lock free).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/batch_journal.h"
#include "platform/host_path.h"
#include "platform/process.h"
#include "platform/shared_file.h"
#include "platform/sleep.h"
#include "platform/timestamp.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class StatusView : public e2e::EndToEnd {
  protected:
    // The settings written once: rewriting them while a launcher runs would
    // change files it may read.
    void SetUp() override {
        EndToEnd::SetUp();
        SetMachine("BATCHJOBPAUSE", "100");
    }
    platform::CapturedRun Status(const std::vector<std::string>& arguments) {
        if (!m_environment)
            m_environment = Environment();
        platform::CapturedRun run =
            platform::RunAndCapture(e2e::Program("torvane-batch"), arguments, *m_environment);
        EXPECT_TRUE(run.started) << run.reason;
        run.out = e2e::WithoutCarriageReturns(run.out);
        return run;
    }
    // The queue's bytes under the suite's exclusive open; nothing when there
    // is no queue.
    std::optional<std::string> QueueBytes() const {
        platform::ExclusiveOpen open = platform::OpenExclusive(QueuePath().string(), "rb");
        if (open.stream == nullptr)
            return std::nullopt;
        std::string bytes = e2e::ReadAll(open.stream);
        std::fclose(open.stream);
        return bytes;
    }
    // The folder's files and their bytes.
    std::map<std::string, std::string> Files(const fs::path& folder) const {
        std::map<std::string, std::string> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            files[entry.path().filename().string()] = testsupport::ReadBytes(entry.path());
        return files;
    }
    // A launcher run to its end; its time in ms.
    std::int64_t TimedBatch(const std::function<void(e2e::BackgroundLauncher&)>& meanwhile) {
        testsupport::WriteBytes(
            QueuePath(), e2e::QueueText({{"alice", "one"}, {"alice", "two"}, {"alice", "three"}}));
        const Clock::time_point start = Clock::now();
        e2e::BackgroundLauncher launcher;
        EXPECT_TRUE(launcher.Start());
        meanwhile(launcher);
        EXPECT_TRUE(launcher.EndsWithin(120000)) << "the launcher did not end";
        EXPECT_EQ(launcher.ExitCode(), 0);
        return MsSince(start);
    }

    std::optional<platform::EnvironmentEntries> m_environment;
};

TEST_F(StatusView, WhileABatchRunsTheJsonAgreesWithTheQueueAndNamesTheLauncherAndItsJob) {
    UseCountingInstallation("1500");
    m_environment = Environment();
    const std::int64_t alone = TimedBatch([](e2e::BackgroundLauncher&) {});

    int agreeing = 0;
    int withRunningJob = 0;
    int asked = 0;
    std::int64_t slowest = 0;
    const std::int64_t polled = TimedBatch([&](e2e::BackgroundLauncher& launcher) {
        while (!launcher.EndsWithin(0)) {
            const std::optional<std::string> before = QueueBytes();
            const std::int64_t startedMs = platform::NowMs();
            const Clock::time_point start = Clock::now();
            const platform::CapturedRun run = Status({"--status", "--json"});
            slowest = std::max<std::int64_t>(slowest, MsSince(start));
            ++asked;
            const std::optional<std::string> after = QueueBytes();
            const bool launcherLived = !launcher.EndsWithin(0);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const json doc = json::parse(run.out);
            ASSERT_TRUE(doc["jobs"].is_array()) << run.out;
            // Only a queue that did not change around the view can be compared.
            if (!before || before != after || !launcherLived)
                continue;
            const e2e::StrictQueue queue = e2e::ParseQueueStrictly(*before);
            ASSERT_EQ(queue.error, "");
            ++agreeing;
            EXPECT_EQ(doc["queue_found"], true);
            // A launcher holds its lock before it touches the queue, and to
            // its end: once an entry has left the waiting state (only the
            // launcher moves them here) it must be seen running.
            bool started = false;
            for (const e2e::Job& entry : queue.jobs) started = started || entry.state != 0;
            if (started) {
                EXPECT_EQ(doc["launcher"]["running"], true) << run.out;
            }
            ASSERT_EQ(doc["jobs"].size(), queue.jobs.size()) << run.out;
            std::optional<std::size_t> running;
            for (std::size_t i = 0; i < queue.jobs.size(); ++i) {
                const json& job = doc["jobs"][i];
                const e2e::Job& entry = queue.jobs[i];
                EXPECT_EQ(job["user"], entry.user);
                EXPECT_EQ(job["job"], entry.name);
                EXPECT_EQ(job["state"], entry.state == 0   ? "waiting"
                                        : entry.state == 1 ? "running"
                                                           : "finished");
                if (entry.state == 2)
                    EXPECT_EQ(job["status"], entry.status == 1 ? "succeeded" : "failed");
                else
                    EXPECT_TRUE(job["status"].is_null());
                EXPECT_EQ(job["wait"], entry.wait != 0);
                if (entry.state == 1)
                    running = i;
            }
            if (!running) {
                EXPECT_TRUE(doc["running_job"].is_null()) << run.out;
                continue;
            }
            EXPECT_EQ(doc["launcher"]["pid"], launcher.Id()) << run.out;
            const json& job = doc["running_job"];
            EXPECT_EQ(job["position"], *running) << run.out;
            EXPECT_EQ(job["job"], queue.jobs[*running].name);
            // The launcher records the job in its journal just after it
            // shows the job running in the queue: a view between the two
            // has no record to give yet.
            if (job["attempt"].is_null()) {
                EXPECT_TRUE(job["since_ms"].is_null()) << run.out;
                continue;
            }
            ++withRunningJob;
            EXPECT_EQ(job["attempt"], 1);
            ASSERT_TRUE(job["since_ms"].is_number()) << run.out;
            EXPECT_LE(job["since_ms"].get<std::int64_t>(), startedMs + 1000);
            EXPECT_GE(job["since_ms"].get<std::int64_t>(), startedMs - 10000);
        }
    });
    EXPECT_GE(agreeing, 1) << "no view was taken of a queue at rest";
    EXPECT_GE(withRunningJob, 1) << "no view was taken while a job ran";
    // A view holds the queue for its one read, so each view costs the
    // launcher at most one more attempt of its reopen: the batch never waits
    // on the views beyond that (the 2 s are the noise of a loaded machine).
    EXPECT_LE(polled, alone + asked * std::int64_t{platform::kSharedRetryMs} + 2000)
        << asked << " views, the slowest " << slowest << " ms";
    std::printf("batch alone %lld ms, with %d views %lld ms (slowest view %lld ms)\n",
                static_cast<long long>(alone), asked, static_cast<long long>(polled),
                static_cast<long long>(slowest));
}

TEST_F(StatusView, NoQueueIsSaidWithStatusZeroAndNothingIsWritten) {
    testsupport::WriteBytes(Batch("alice") / "marker", "");
    const auto before = Files(Batch("alice"));
    const platform::CapturedRun run = Status({"--status", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["queue_found"], false);
    EXPECT_EQ(doc["jobs"], json::array());
    EXPECT_EQ(doc["launcher"], json({{"running", false}, {"pid", nullptr}}));
    EXPECT_EQ(doc["engine"], "local");
    // The folder as the program names it, which is alice's batch folder:
    // the file put there is found through it.
    EXPECT_TRUE(fs::exists(platform::ToHostPath(doc["batch_folder"].get<std::string>()) + "marker"))
        << doc["batch_folder"];

    const platform::CapturedRun text = Status({"--status"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.find("Torvane Batch v"), std::string::npos) << "no banner";
    EXPECT_NE(text.out.find("Launcher:     not running\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Queue:        none (no batchexec.txt)\n"), std::string::npos)
        << text.out;
    EXPECT_EQ(Files(Batch("alice")), before) << "the view wrote into the batch folder";
    EXPECT_FALSE(fs::exists(Batch("alice") / "torvane-batch.lock"));

    // Any other argument with it is refused as before.
    EXPECT_EQ(Status({"--status", "--verbose"}).exitCode, 1);
}

TEST_F(StatusView, AKilledLauncherIsNotRunningAndItsJobStillShown) {
    SetMachine("BATCHENGINE", "Local");
    UseCountingInstallation("4000");
    m_environment = Environment();
    testsupport::WriteBytes(QueuePath(), e2e::QueueText({{"alice", "long"}, {"alice", "next"}}));
    e2e::BackgroundLauncher launcher;
    ASSERT_TRUE(launcher.Start());
    const std::optional<JournalRecord> record = LaunchedRecord();
    ASSERT_TRUE(record) << "the job was not launched";
    ASSERT_TRUE(launcher.Kill()) << "the launcher ended before it was killed";
    // The job's tree goes too, so that nothing writes into the folder now.
    e2e::EndJobTree(record->process);
    ASSERT_TRUE(fs::exists(Batch("alice") / BatchJournal::kFileName));

    const auto before = Files(Batch("alice"));
    const platform::CapturedRun run = Status({"--status", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const json doc = json::parse(run.out);
    EXPECT_EQ(doc["launcher"], json({{"running", false}, {"pid", nullptr}})) << run.out;
    EXPECT_EQ(doc["engine"], "local");
    ASSERT_EQ(doc["jobs"].size(), 2u) << run.out;
    EXPECT_EQ(doc["jobs"][0]["state"], "running");
    EXPECT_EQ(doc["jobs"][1]["state"], "waiting");
    EXPECT_EQ(doc["running_job"]["job"], "long");
    EXPECT_EQ(doc["running_job"]["since_ms"], record->launchMs);
    EXPECT_EQ(doc["running_job"]["process"], record->process.id);
    EXPECT_EQ(doc["counts"]["running"], 1);

    const platform::CapturedRun text = Status({"--status"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Launcher:     not running\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Running job:  alice long since "), std::string::npos) << text.out;
    EXPECT_EQ(Files(Batch("alice")), before) << "the view changed the batch folder";
}

}  // namespace
