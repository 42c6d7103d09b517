// The options that need no installation; packaging/check-packages.sh runs them
// on the packaged program, tools/ refuses other arguments on the real one.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/entry_point.h"
#include "testsupport/temp_dir.h"

namespace {

using Arguments = std::vector<std::string>;

CommandLineRequest Read(const Arguments& arguments) {
    std::vector<const char*> argv{"torvane-batch"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    return ReadCommandLine(static_cast<int>(argv.size() - 1), argv.data());
}

TEST(CommandLine, OnlyTheOptionsAsDocumentedAreTakenEverythingElseIsRefused) {
    EXPECT_EQ(Read({}), CommandLineRequest::kRunBatch);
    EXPECT_EQ(Read({"--help"}), CommandLineRequest::kPrintHelp);
    EXPECT_EQ(Read({"--version"}), CommandLineRequest::kPrintVersion);
    EXPECT_EQ(Read({"--status"}), CommandLineRequest::kShowStatus);
    EXPECT_EQ(Read({"--status", "--json"}), CommandLineRequest::kShowStatusJson);
    EXPECT_EQ(Read({"--json", "--status"}), CommandLineRequest::kShowStatusJson);
    for (const char* refused : {"", "-h", "-v", "/?", "help", "--HELP", "--Version", "--versions",
                                "--version=", "--help ", "--json", "--STATUS"})
        EXPECT_EQ(Read({refused}), CommandLineRequest::kRefused) << refused;
    for (const Arguments& refused : std::vector<Arguments>{{"--status", "--status"},
                                                           {"--status", "--json", "--json"},
                                                           {"--status", "json"},
                                                           {"--status", "--help"},
                                                           {"--help", "--version"},
                                                           {"--version", "--version"},
                                                           {"--version", ""},
                                                           {"batchexec.txt", "--help"}})
        EXPECT_EQ(Read(refused), CommandLineRequest::kRefused) << ::testing::PrintToString(refused);
}

TEST(CommandLineOutput, AnOutputThatCannotBeWrittenGivesStatusOne) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("out.txt"), "");
    std::FILE* readOnly = std::fopen(dir.File("out.txt").c_str(), "r");
    ASSERT_NE(readOnly, nullptr);
    const char* argv[] = {"torvane-batch", "--version", nullptr};
    EXPECT_EQ(AnswerInformationRequest(2, argv, readOnly), 1);
    const char* run[] = {"torvane-batch", nullptr};
    EXPECT_EQ(AnswerInformationRequest(1, run, readOnly), std::nullopt);
    std::fclose(readOnly);
}

}  // namespace
