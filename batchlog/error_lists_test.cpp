#include "batchlog/error_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batchlog/log_test_support.h"
#include "testsupport/temp_dir.h"

namespace {

using batchlog_test::Crlf;
using testsupport::TempDir;
using testsupport::WriteBytes;

// A chaptered file holding one error tree in its chapter "ERRORS".
class ErrorFile : public KvFile {
  public:
    ErrorFile() : KvFile("Errors", "1.0") {}
    int Exchange(KvFile& file) override {
        file.Chapter("ERRORS");
        m_tree.Exchange(file);
        return 4;
    }
    KvListeErreurToutesMachines m_tree;
};

const std::string kHead = "[[Errors]]\n[Version]\nVersion ft = 0.2\nVersion = 1.0\n[ERRORS]\n";

std::vector<std::string> Messages(const KvListeErreurCanal& channel) {
    std::vector<std::string> texts;
    channel.ForEach([&](const CString& text) { texts.push_back(text.str()); });
    return texts;
}

class ErrorListFile : public testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.File("e.txt");
};

TEST_F(ErrorListFile, ReadingFillsMissingPartsWithEmptyElements) {
    // Machine 1 has no chapter; machine 2 a count that is not a number.
    WriteBytes(path,
               Crlf(kHead + "Machine list taille = 3\n[Machine list 0:nouvelle_section]\n"
                            "Machine errors taille = 1\n"
                            "[Machine list 0:Machine errors 0:nouvelle_section]\n"
                            "Channel errors taille = 3\nChannel errors 0 = first\n"
                            "Channel errors 2 = third\n"
                            "[Machine list 2:nouvelle_section]\nMachine errors taille = x\n"));

    ErrorFile file;
    ASSERT_EQ(file.Load(path), 0);
    ASSERT_EQ(file.m_tree.GetCount(), 3u);
    ASSERT_EQ(file.m_tree.GetAt(0)->GetCount(), 1u);
    EXPECT_EQ(Messages(*file.m_tree.GetAt(0)->GetAt(0)),
              (std::vector<std::string>{"first", "", "third"}));
    EXPECT_EQ(file.m_tree.GetAt(1)->GetCount(), 0u);
    EXPECT_EQ(file.m_tree.GetAt(2)->GetCount(), 0u);
}

TEST_F(ErrorListFile, HugeCountsInDamagedFilesStayBounded) {
    // "-1" reads as the largest unsigned number; every machine claims as many
    // channels, and the one real channel a channel count above the limit.
    WriteBytes(path,
               Crlf(kHead + "Machine list taille = -1\n[Machine list 0:nouvelle_section]\n"
                            "Machine errors taille = -1\n"
                            "[Machine list 0:Machine errors 0:nouvelle_section]\n"
                            "Channel errors taille = 2000000\nChannel errors 0 = real\n"
                            "[Machine list 1:nouvelle_section]\nMachine errors taille = -1\n"));

    ErrorFile file;
    ASSERT_EQ(file.Load(path), 0);
    // A list of objects holds no more elements than the file has chapters.
    ASSERT_GE(file.m_tree.GetCount(), 2u);
    EXPECT_LE(file.m_tree.GetCount(), 8u);
    KvListeErreurMachine* first = file.m_tree.GetAt(0);
    EXPECT_LE(first->GetCount(), 8u);
    // The one channel that has a chapter is read up to the limit.
    ASSERT_GE(first->GetCount(), 1u);
    KvListeErreurCanal* channel = first->GetAt(0);
    EXPECT_EQ(channel->GetCount(), KvListeErreurCanal::kMaxMessages);
    EXPECT_EQ(*channel->GetAt(0), "real");
}

TEST(ErrorLists, CopiesAreDeepAndInOrder) {
    KvListeErreurToutesMachines tree;
    tree.NewElement();
    KvListeErreurMachine* machine = tree.NewElement();
    *machine->NewElement()->NewElement() = "a";
    KvListeErreurCanal* channel = machine->NewElement();
    *channel->NewElement() = "b";
    *channel->NewElement() = "c";

    KvListeErreurToutesMachines copy(tree);
    KvListeErreurToutesMachines assigned;
    *assigned.NewElement()->NewElement()->NewElement() = "old";
    assigned = tree;
    *channel->GetAt(0) = "changed";
    for (KvListeErreurToutesMachines* result : {&copy, &assigned}) {
        ASSERT_EQ(result->GetCount(), 2u);
        EXPECT_EQ(result->GetAt(0)->GetCount(), 0u);
        ASSERT_EQ(result->GetAt(1)->GetCount(), 2u);
        EXPECT_EQ(Messages(*result->GetAt(1)->GetAt(0)), std::vector<std::string>{"a"});
        EXPECT_EQ(Messages(*result->GetAt(1)->GetAt(1)), (std::vector<std::string>{"b", "c"}));
    }
}

}  // namespace
