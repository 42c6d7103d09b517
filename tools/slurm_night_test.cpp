// The Slurm engine end to end: the real torvane-batch and torvane-sim on the throw-away
// cluster (one node, two "torvane" licences) that TORVANE_TEST_SLURM_CONF names, else skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "tools/end_to_end_test_support.h"

namespace {

using SlurmNight = e2e::EndToEnd;

// Every job Slurm knows: id -> "<state>|<start>|<end>", times to the second.
std::map<std::uint64_t, std::string> SlurmJobs(const std::string& conf) {
    std::map<std::uint64_t, std::string> jobs;
    const platform::CapturedRun run = platform::RunAndCapture(
        "squeue", {"-h", "-t", "all", "-o", "%i|%T|%S|%e"}, {{"SLURM_CONF", conf}}, 30000);
    std::istringstream in(run.out);
    for (std::string line; std::getline(in, line);)
        if (const std::size_t bar = line.find('|'); bar != std::string::npos)
            jobs[std::stoull(line.substr(0, bar))] = line.substr(bar + 1);
    return jobs;
}

TEST_F(SlurmNight, EightJobsShareTheTwoLicencesAndAppendWholeBlocks) {
    const char* conf = std::getenv("TORVANE_TEST_SLURM_CONF");
    if (conf == nullptr || *conf == '\0')
        GTEST_SKIP()
            << "no throw-away Slurm cluster (scripts/slurm-local, TORVANE_TEST_SLURM_CONF)";
    const auto before = SlurmJobs(conf);
    const std::uint64_t firstNew = before.empty() ? 0 : before.rbegin()->first + 1;
    std::vector<std::pair<std::string, int>> jobs;
    for (int n = 1; n <= 8; ++n) jobs.emplace_back("part" + std::to_string(n), 0);
    Project("alice", jobs);
    SetMachine("BATCHENGINE", "slurm");
    SetMachine("BATCHSLURMOPTIONS", "-L torvane:1");
    UseCountingInstallation("2000");
    m_variables.emplace_back("SLURM_CONF", conf);
    e2e::BackgroundLauncher launcher;
    ASSERT_TRUE(launcher.Start());
    ASSERT_TRUE(launcher.EndsWithin(240000)) << "the launcher did not end";
    EXPECT_EQ(launcher.ExitCode(), 0);

    // Never more than two at once, and two at some point (an end first within a second).
    std::vector<std::pair<std::string, int>> changes;
    for (const auto& [id, fields] : SlurmJobs(conf)) {
        if (id < firstNew)
            continue;
        EXPECT_EQ(fields.rfind("COMPLETED|", 0), 0u) << fields;
        const std::size_t end = fields.rfind('|'), start = fields.rfind('|', end - 1);
        changes.emplace_back(fields.substr(start + 1, end - start - 1), 1);
        changes.emplace_back(fields.substr(end + 1), -1);
    }
    EXPECT_EQ(changes.size(), 16u);
    std::sort(changes.begin(), changes.end());
    int running = 0, most = 0;
    for (const auto& [time, change] : changes) most = std::max(most, running += change);
    EXPECT_EQ(most, 2);

    // Each job ran once, and each block is whole, whatever the order.
    const std::string report = Report();
    std::size_t length = 0;
    for (const auto& [job, wait] : jobs) {
        EXPECT_EQ(Runs()["alice/" + job], 1) << job;
        const std::string block = e2e::Ran(job, true);
        EXPECT_NE(report.find(block), std::string::npos) << job << " in\n" << report;
        length += block.size();
    }
    EXPECT_EQ(report.size(), length) << report;
    EXPECT_FALSE(std::filesystem::exists(QueuePath()));
}

}  // namespace
