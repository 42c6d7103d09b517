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

// Every entry of a search, by name, with "." and ".." left out.
std::map<std::string, unsigned> Search(const std::string& pattern) {
    std::map<std::string, unsigned> found;
    DirSearch search;
    FindEntry entry;
    for (bool more = search.First(pattern, entry); more; more = search.Next(entry)) {
        if (entry.name != "." && entry.name != "..")
            found[entry.name] = entry.attributes;
    }
    return found;
}

class DirSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::WriteBytes(dir.path() / "report.txt", "r");
        testsupport::WriteBytes(dir.path() / "report2.txt", "r2");
        testsupport::WriteBytes(dir.path() / "job.log", "j");
        testsupport::WriteBytes(dir.path() / "README", "x");
        std::filesystem::create_directory(dir.path() / "sub");
        testsupport::WriteBytes(dir.path() / "sub" / "inner.txt", "i");
    }
    std::string In(const std::string& name) const { return dir.File(name); }
    testsupport::TempDir dir;
};

TEST_F(DirSearchTest, PatternsInTheLastComponentAndTheAttributesFound) {
    auto all = Search(In("*.*"));
    EXPECT_EQ(all.size(), 5u);
    EXPECT_EQ(Search(In("*")).size(), 5u);
    EXPECT_TRUE(all.count("README"));
    EXPECT_NE(all["sub"] & platform::kAttrFolder, 0u);
    EXPECT_EQ(all["report.txt"] & (platform::kAttrFolder | platform::kAttrHidden |
                                   platform::kAttrSystem | platform::kAttrDevice),
              0u);
    // The name rules themselves are the wildcard matcher's; on Linux the
    // search must still find a name spelt in another case.
    EXPECT_EQ(Search(In("report?.txt")).size(), 1u);
    EXPECT_EQ(Search(In("JOB.LOG")).size(), 1u);
    EXPECT_EQ(Search(In("job.log")).begin()->first, "job.log");
}

TEST_F(DirSearchTest, NothingFoundLeavesNoSearchOpen) {
    DirSearch search;
    FindEntry entry;
    EXPECT_FALSE(search.First(In("*.none"), entry));
    EXPECT_FALSE(search.IsOpen());
    EXPECT_FALSE(search.First(In("missing\\*.*"), entry));
    EXPECT_FALSE(search.First(In("sub") + "\\", entry));
    EXPECT_FALSE(search.IsOpen());
    EXPECT_FALSE(search.Next(entry));
}

TEST_F(DirSearchTest, BothSeparatorsAndARestartedSearch) {
    auto inner = Search(In("sub") + "/*.txt");
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_TRUE(inner.count("inner.txt"));
    EXPECT_EQ(Search(In("sub") + "\\*.*").count("inner.txt"), 1u);

    DirSearch search;
    FindEntry entry;
    ASSERT_TRUE(search.First(In("*.log"), entry));
    ASSERT_TRUE(search.First(In("sub") + "\\inner.txt", entry));
    EXPECT_EQ(entry.name, "inner.txt");
    EXPECT_FALSE(search.Next(entry));
    search.Close();
    EXPECT_FALSE(search.IsOpen());
}

}  // namespace
