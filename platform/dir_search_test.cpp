#include "platform/dir_search.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/file_ops.h"
#include "testsupport/temp_dir.h"

namespace {

using platform::DirSearch;
using platform::FindEntry;

class DirSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"report.txt", "report2.txt", "job.log", "README"})
            testsupport::WriteBytes(dir.path() / name, "x");
        std::filesystem::create_directory(dir.path() / "sub");
        testsupport::WriteBytes(dir.path() / "sub" / "inner.txt", "i");
    }
    // Every entry found for `pattern` inside the folder, by name, without "." and "..".
    std::map<std::string, unsigned> Search(const std::string& pattern) {
        std::map<std::string, unsigned> found;
        DirSearch each;
        for (bool more = each.First(dir.File(pattern), entry); more; more = each.Next(entry))
            if (entry.name != "." && entry.name != "..")
                found[entry.name] = entry.attributes;
        return found;
    }
    testsupport::TempDir dir;
    DirSearch search;
    FindEntry entry;
};

TEST_F(DirSearchTest, PatternsInTheLastComponentAndTheAttributesFound) {
    auto all = Search("*");
    EXPECT_EQ(all.size(), 5u);
    // The name rules are the wildcard matcher's; on Linux the search must
    // still find a name spelt in another case, under either separator.
    EXPECT_EQ(Search("report?.txt").size(), 1u);
    EXPECT_EQ(Search("JOB.LOG"), (std::map<std::string, unsigned>{{"job.log", all["job.log"]}}));
    EXPECT_EQ(Search("sub/*.txt").count("inner.txt"), 1u);
    EXPECT_EQ(Search("sub\\*.*").count("inner.txt"), 1u);
}

TEST_F(DirSearchTest, NothingFoundLeavesNoSearchOpenAndARestartReplacesTheSearch) {
    for (const char* pattern : {"*.none", "missing\\*.*", "sub\\"}) {
        EXPECT_FALSE(search.First(dir.File(pattern), entry)) << pattern;
        EXPECT_FALSE(search.IsOpen()) << pattern;
    }
    EXPECT_FALSE(search.Next(entry));

    ASSERT_TRUE(search.First(dir.File("*.log"), entry));
    ASSERT_TRUE(search.First(dir.File("sub\\inner.txt"), entry));
    EXPECT_EQ(entry.name, "inner.txt");
    EXPECT_FALSE(search.Next(entry));
    search.Close();
    EXPECT_FALSE(search.IsOpen());
}

}  // namespace
