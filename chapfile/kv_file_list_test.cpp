#include "chapfile/kv_file_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteBytes;

struct Person {
    CString name;
    int age = 0;
    bool operator==(const Person&) const = default;
};

// Reads a company chapter and one chapter per person; chapters named
// "element refuse" are refused, other unknown chapters ignored.
class People : public KvFileListe {
  public:
    People() : KvFileListe("Liste personnes", "0.2") {}

    CString company;
    std::vector<Person> people;
    std::vector<CString> offered;

    int ExchangeContents() override {
        Chapter("Societe");
        ExchangeValue("Nom societe", company);
        return kExchanged;
    }
    int ExchangeElement(KvFileChapitre* chapter) override {
        EXPECT_EQ(chapter, GetCurrentChapter());
        offered.push_back(chapter->GetName());
        if (chapter->IsElement("Personne")) {
            Person person;
            ExchangeValue("nom", person.name);
            ExchangeValue("AGE", person.age);
            people.push_back(person);
            return kExchanged;
        }
        return chapter->IsElement("refuse") ? kNotExchanged : kExchanged;
    }
};

class PeopleFile : public ::testing::Test {
  protected:
    std::string In(const std::string& bytes) {
        WriteBytes(dir.File("in.txt"), bytes);
        return dir.File("in.txt");
    }
    TempDir dir;
};

TEST_F(PeopleFile, EveryUnconsumedChapterIsOfferedAndRefusalsDoNotStopTheLoad) {
    People list;
    list.company = "default";
    EXPECT_EQ(list.Load(In("\r\n[[Liste personnes]]\r\n[VERSION]\r\nversion ft = 0.2\r\n"
                           "VERSION = 0.2\r\n[element personne]\r\nNom = first\r\nAge = 1\r\n"
                           "[Societe]\r\nNom societe = A\r\n[element refuse]\r\n"
                           "[element autre]\r\nNom = ignored\r\n[SOCIETE]\r\nNom societe = B\r\n"
                           "[ELEMENT PERSONNE]\r\n  nom=second  \r\n[element refuse]\r\n")),
              KvFile::kElementRefused);
    EXPECT_EQ(list.company, "A");
    EXPECT_EQ(list.people, (std::vector<Person>{{"first", 1}, {"second", 0}}));
    EXPECT_EQ(list.offered,
              (std::vector<CString>{"element personne", "element refuse", "element autre",
                                    "societe", "element personne", "element refuse"}));
    EXPECT_EQ(list.GetChapterCount(), 0u);
}

}  // namespace
