#include "cluster/batch_engine.h"

#include <gtest/gtest.h>

namespace {

using cluster::BatchEngine;
using cluster::ChooseBatchEngine;
using namespace std::string_literals;

TEST(BatchEngine, LocalWhateverTheOptionsAndSlurmWithTheSiteOptionsSplit) {
    for (const char* setting : {"", "  ", "local", " LOCAL\t", "Local"}) {
        cluster::BatchEngineChoice choice = ChooseBatchEngine(setting, "--bogus \"", false);
        EXPECT_TRUE(choice.ok) << setting << ": " << choice.error;
        EXPECT_EQ(choice.engine, BatchEngine::kLocal) << setting;
        EXPECT_TRUE(choice.slurmOptions.empty()) << setting;
    }
    cluster::BatchEngineChoice choice = ChooseBatchEngine(
        " Slurm ", " --partition=night -L torvane:1\t--comment=\"a b\" -q \"\" ", true);
    ASSERT_TRUE(choice.ok) << choice.error;
    EXPECT_EQ(choice.engine, BatchEngine::kSlurm);
    EXPECT_EQ(choice.slurmOptions, (std::vector<std::string>{"--partition=night", "-L", "torvane:1",
                                                             "--comment=a b", "-q", ""}));
    EXPECT_TRUE(ChooseBatchEngine("slurm", "   ", true).slurmOptions.empty());
}

TEST(BatchEngine, AnUnknownEngineOrSlurmWithoutAClientIsAOneLineError) {
    for (const std::string& bad : {"pbs\n"s, "slurmx"s, "loc al"s, "slurm;local"s, "slurm\nlocal"s,
                                   std::string(5000, 'x')}) {
        cluster::BatchEngineChoice choice = ChooseBatchEngine(bad, "", true);
        EXPECT_FALSE(choice.ok) << bad;
        EXPECT_NE(choice.error.find("BATCHENGINE"), std::string::npos) << choice.error;
        EXPECT_EQ(choice.error.find('\n'), std::string::npos) << choice.error;
        EXPECT_LT(choice.error.size(), 200u);
    }
    EXPECT_NE(ChooseBatchEngine("pbs\n", "", true).error.find("\"pbs\""), std::string::npos);
    cluster::BatchEngineChoice windows = ChooseBatchEngine("slurm", "-L torvane:1", false);
    EXPECT_FALSE(windows.ok);
    EXPECT_NE(windows.error.find("Windows"), std::string::npos) << windows.error;
    EXPECT_EQ(windows.error.find('\n'), std::string::npos);
}

}  // namespace
