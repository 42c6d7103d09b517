#include "batchlog/error_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batchlog/log_test_support.h"
#include "testsupport/temp_dir.h"

namespace {

using batchlog_test::Crlf;
using batchlog_test::Texts;

// A chaptered file holding one error tree in its chapter "ERRORS".
class ErrorFile : public KvFile {
  public:
    ErrorFile() : KvFile("Errors", "1.0") {}
    int Exchange(KvFile& file) override {
        file.Chapter("ERRORS");
        m_tree.Exchange(file);
        return 4;
    }
    // Loads the tree from `body`, written after the head of the file.
    void LoadBody(const std::string& body) {
        testsupport::TempDir dir;
        testsupport::WriteBytes(dir.File("e.txt"),
                                Crlf("[[Errors]]\n[Version]\nVersion ft = 0.2\nVersion = 1.0\n"
                                     "[ERRORS]\n" +
                                     body));
        ASSERT_EQ(KvFile::Load(dir.File("e.txt")), 0);
    }
    KvListeErreurToutesMachines m_tree;
};

TEST(ErrorLists, ReadingFillsMissingPartsWithEmptyElements) {
    // Machine 1 has no chapter; machine 2 a count that is not a number.
    ErrorFile file;
    file.LoadBody(
        "Machine list taille = 3\n[Machine list 0:nouvelle_section]\n"
        "Machine errors taille = 1\n[Machine list 0:Machine errors 0:nouvelle_section]\n"
        "Channel errors taille = 3\nChannel errors 0 = first\nChannel errors 2 = third\n"
        "[Machine list 2:nouvelle_section]\nMachine errors taille = x\n");
    ASSERT_EQ(file.m_tree.GetCount(), 3u);
    ASSERT_EQ(file.m_tree.GetAt(0)->GetCount(), 1u);
    EXPECT_EQ(Texts(*file.m_tree.GetAt(0)->GetAt(0)),
              (std::vector<std::string>{"first", "", "third"}));
    EXPECT_EQ(file.m_tree.GetAt(1)->GetCount(), 0u);
    EXPECT_EQ(file.m_tree.GetAt(2)->GetCount(), 0u);
}

TEST(ErrorLists, HugeCountsInDamagedFilesStayBounded) {
    // "-1" reads as the largest unsigned number; every machine claims as many
    // channels, and the one real channel a channel count above the limit.
    ErrorFile file;
    file.LoadBody(
        "Machine list taille = -1\n[Machine list 0:nouvelle_section]\n"
        "Machine errors taille = -1\n[Machine list 0:Machine errors 0:nouvelle_section]\n"
        "Channel errors taille = 2000000\nChannel errors 0 = real\n"
        "[Machine list 1:nouvelle_section]\nMachine errors taille = -1\n");
    // A list of objects holds no more elements than the file has chapters.
    ASSERT_GE(file.m_tree.GetCount(), 2u);
    EXPECT_LE(file.m_tree.GetCount(), 8u);
    KvListeErreurMachine* first = file.m_tree.GetAt(0);
    ASSERT_GE(first->GetCount(), 1u);
    EXPECT_LE(first->GetCount(), 8u);
    // The one channel that has a chapter is read up to the limit.
    EXPECT_EQ(first->GetAt(0)->GetCount(), KvListeErreurCanal::kMaxMessages);
    EXPECT_EQ(*first->GetAt(0)->GetAt(0), "real");
}

}  // namespace
