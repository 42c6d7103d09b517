// torvane-batch --status beside the real launcher: while a batch runs, with
// no queue, and after a launcher was killed (its journal left, its lock free).

#include <nlohmann/json.hpp>

#include "platform/host_path.h"
#include "platform/shared_file.h"
#include "platform/timestamp.h"
#include "tools/end_to_end_test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class StatusView : public e2e::EndToEnd {
  protected:
    // The queue's bytes under the suite's exclusive open, if there is one.
    std::optional<std::string> QueueBytes() const {
        platform::ExclusiveOpen open = platform::OpenExclusive(QueuePath().string(), "rb");
        if (open.stream == nullptr)
            return std::nullopt;
        std::string bytes = e2e::ReadAll(open.stream);
        std::fclose(open.stream);
        return bytes;
    }
    std::map<std::string, std::string> BatchFiles() const {
        std::map<std::string, std::string> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(Batch("alice")))
            files[entry.path().filename().string()] = testsupport::ReadBytes(entry.path());
        return files;
    }
    // Both views with no launcher running, which leave the batch folder as it was.
    void ViewsWithoutALauncher(json& doc, std::string& text) {
        const auto before = BatchFiles();
        const platform::CapturedRun run = Run({"--status", "--json"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        doc = json::parse(run.out);
        EXPECT_EQ(doc["launcher"], json({{"running", false}, {"pid", nullptr}})) << run.out;
        EXPECT_EQ(doc["engine"], "local");
        const platform::CapturedRun shown = Run({"--status"});
        EXPECT_EQ(shown.exitCode, 0) << shown.err;
        text = shown.out;
        EXPECT_NE(text.find("Launcher:     not running\n"), std::string::npos) << text;
        EXPECT_EQ(BatchFiles(), before) << "the view changed the batch folder";
    }
};

TEST_F(StatusView, WhileABatchRunsTheJsonAgreesWithTheQueueAndNamesTheLauncherAndItsJob) {
    SetMachine("BATCHJOBPAUSE", "100");
    UseCountingInstallation("1500");
    testsupport::WriteBytes(
        QueuePath(), e2e::QueueText({{"alice", "one"}, {"alice", "two"}, {"alice", "three"}}));
    e2e::BackgroundLauncher launcher;
    ASSERT_TRUE(launcher.Start());
    int agreeing = 0;
    int withRunningJob = 0;
    while (!launcher.EndsWithin(0)) {
        const std::optional<std::string> before = QueueBytes();
        const std::int64_t startedMs = platform::NowMs();
        const platform::CapturedRun run = Run({"--status", "--json"});
        const std::optional<std::string> after = QueueBytes();
        const bool launcherLived = !launcher.EndsWithin(0);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const json doc = json::parse(run.out);
        ASSERT_TRUE(doc["jobs"].is_array()) << run.out;
        // Only a queue unchanged around the view can be compared.
        if (!before || before != after || !launcherLived)
            continue;
        const e2e::StrictQueue queue = e2e::ParseQueueStrictly(*before);
        ASSERT_EQ(queue.error, "");
        ++agreeing;
        EXPECT_EQ(doc["queue_found"], true);
        std::optional<std::size_t> running;
        bool started = false;
        json jobs = json::array();
        for (std::size_t i = 0; i < queue.jobs.size(); ++i) {
            const e2e::Job& entry = queue.jobs[i];
            const char* const states[] = {"waiting", "running", "finished"};
            const char* const status[] = {"failed", "succeeded"};
            jobs.push_back({{"position", i},
                            {"user", entry.user},
                            {"job", entry.name},
                            {"state", states[entry.state]},
                            {"state_code", entry.state},
                            {"status", entry.state != 2 ? json() : json(status[entry.status])},
                            {"wait", entry.wait != 0},
                            {"cluster_job", nullptr}});
            if (entry.state == 1)
                running = i;
            started = started || entry.state != 0;
        }
        EXPECT_EQ(doc["jobs"], jobs);
        // Its lock is held from before it touches the queue to its end.
        EXPECT_TRUE(!started || doc["launcher"]["running"] == true) << run.out;
        if (!running) {
            EXPECT_TRUE(doc["running_job"].is_null()) << run.out;
            continue;
        }
        EXPECT_EQ(doc["launcher"]["pid"], launcher.Id()) << run.out;
        const json& job = doc["running_job"];
        EXPECT_EQ(job["position"], *running) << run.out;
        EXPECT_EQ(job["job"], queue.jobs[*running].name);
        // The journal record follows the queue's state 1 closely.
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
    EXPECT_EQ(launcher.ExitCode(), 0);
    EXPECT_GE(agreeing, 1) << "no view was taken of a queue at rest";
    EXPECT_GE(withRunningJob, 1) << "no view was taken while a job ran";
}

TEST_F(StatusView, WithoutALauncherTheViewsShowNoQueueOrTheKilledLaunchersJobAndWriteNothing) {
    testsupport::WriteBytes(Batch("alice") / "marker", "");
    json doc;
    std::string text;
    ViewsWithoutALauncher(doc, text);
    EXPECT_EQ(doc["queue_found"], false);
    EXPECT_EQ(doc["jobs"], json::array());
    // Alice's batch folder, as the program names it.
    EXPECT_TRUE(fs::exists(platform::ToHostPath(doc["batch_folder"].get<std::string>()) + "marker"))
        << doc["batch_folder"];
    EXPECT_EQ(text.find("Torvane Batch v"), std::string::npos) << "no banner";
    EXPECT_NE(text.find("Queue:        none (no batchexec.txt)\n"), std::string::npos) << text;

    SetMachine("BATCHENGINE", "Local");
    UseCountingInstallation("4000");
    testsupport::WriteBytes(QueuePath(), e2e::QueueText({{"alice", "long"}, {"alice", "next"}}));
    // The job's tree goes too: nothing writes into the folder now.
    JournalRecord record;
    ASSERT_NO_FATAL_FAILURE(KillDuring("long", 1, true, &record));
    ASSERT_TRUE(fs::exists(Batch("alice") / BatchJournal::kFileName));
    ViewsWithoutALauncher(doc, text);
    ASSERT_EQ(doc["jobs"].size(), 2u) << doc;
    EXPECT_EQ(doc["jobs"][0]["state"], "running");
    EXPECT_EQ(doc["jobs"][1]["state"], "waiting");
    EXPECT_EQ(doc["running_job"]["job"], "long");
    EXPECT_EQ(doc["running_job"]["since_ms"], record.launchMs);
    EXPECT_EQ(doc["running_job"]["process"], record.process.id);
    EXPECT_NE(text.find("Running job:  alice long since "), std::string::npos) << text;
}

}  // namespace
