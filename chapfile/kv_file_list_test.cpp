#include "chapfile/kv_file_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

std::string Crlf(const std::string& text) {
    std::string result;
    for (char ch : text) {
        if (ch == '\n')
            result += '\r';
        result += ch;
    }
    return result;
}

struct Person {
    CString name;
    int age = 0;
    bool operator==(const Person&) const = default;
};

// A company chapter and one chapter per person; chapters named
// "element refuse" are refused, other unknown chapters ignored.
class People : public KvFileListe {
  public:
    explicit People(const CString& version = "0.2") : KvFileListe("Liste personnes", version) {}

    CString company;
    std::vector<Person> people;
    std::vector<CString> offered;
    std::vector<CString> converted;
    std::vector<CString> changed;
    int convertResult = 0;

    int ExchangeContents() override {
        Chapter("Societe");
        ExchangeValue("Nom societe", company);
        return kExchanged;
    }
    int ExchangeElement(KvFileChapitre* chapter) override {
        if (IsWriting()) {
            EXPECT_EQ(chapter, nullptr);
            for (Person& person : people) {
                ElementChapter("personne");
                ExchangeValue("Nom", person.name);
                ExchangeValue("Age", person.age);
            }
            return kExchanged;
        }
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
    int ConvertFromVersion(const CString& versionRead) override {
        converted.push_back(versionRead);
        return convertResult;
    }
    void VersionChanged(const CString& versionRead) override { changed.push_back(versionRead); }
};

const char* const kHead =
    "[[Liste personnes]]\n"
    "\n\n\n\n"
    "[Version]\n"
    "\n"
    "Version ft = 0.2\n"
    "Version = 0.2\n"
    "\n\n";

TEST(KvFileListeSave, ExactTextAndRoundTrip) {
    TempDir dir;
    People out;
    out.company = "Quarrow\r\nLabs";
    out.people = {{"Ann", 31}, {"", -4}, {"Bob", 0}};
    out.SetModified(true);
    ASSERT_EQ(out.Save(dir.File("p.txt")), KvFile::kSaved);
    EXPECT_TRUE(out.IsModified());  // the list leaves the flag alone
    EXPECT_EQ(ReadBytes(dir.File("p.txt")),
              Crlf(std::string(kHead) + "\n\n[Societe]\n\nNom societe = Quarrow<saut>Labs\n"
                                        "\n\n\n\n[element personne]\n\nNom = Ann\nAge = 31\n"
                                        "\n\n\n\n[element personne]\n\nNom = \nAge = -4\n"
                                        "\n\n\n\n[element personne]\n\nNom = Bob\nAge = 0\n"));

    People in;
    ASSERT_EQ(in.Load(dir.File("p.txt")), KvFile::kLoaded);
    EXPECT_EQ(in.company, "Quarrow\r\nLabs");
    EXPECT_EQ(in.people, out.people);
    EXPECT_FALSE(in.IsModified());
    EXPECT_EQ(in.GetChapterCount(), 0u);
    // Neither the header chapter nor the version chapter is offered.
    EXPECT_EQ(in.offered, std::vector<CString>(3, "element personne"));

    // An empty list, saved again through Save().
    in.people.clear();
    ASSERT_EQ(in.Save(), KvFile::kSaved);
    People empty;
    ASSERT_EQ(empty.Load(dir.File("p.txt")), KvFile::kLoaded);
    EXPECT_TRUE(empty.people.empty());
    EXPECT_TRUE(empty.offered.empty());

    EXPECT_EQ(out.Save(""), KvFile::kNotWritten);
    EXPECT_EQ(out.Save(dir.File("missing/p.txt")), KvFile::kNotWritten);
}

TEST(KvFileListeLoad, EveryUnconsumedChapterIsOffered) {
    TempDir dir;
    WriteBytes(dir.File("in.txt"),
               "\r\n[[Liste personnes]]\r\n[VERSION]\r\nversion ft = 0.2\r\nVERSION = 0.2\r\n"
               "[element personne]\r\nNom = first\r\nAge = 1\r\n"
               "[Societe]\r\nNom societe = A\r\n"
               "[element refuse]\r\n"
               "[element autre]\r\nNom = ignored\r\n"
               "[SOCIETE]\r\nNom societe = B\r\n"
               "[ELEMENT PERSONNE]\r\n  nom=second  \r\n"
               "[element refuse]\r\n");
    People list;
    list.company = "default";
    // Two refused chapters: the loop goes on, the elements are kept.
    EXPECT_EQ(list.Load(dir.File("in.txt")), KvFile::kElementRefused);
    EXPECT_EQ(list.company, "A");
    EXPECT_EQ(list.people, (std::vector<Person>{{"first", 1}, {"second", 0}}));
    EXPECT_EQ(list.offered,
              (std::vector<CString>{"element personne", "element refuse", "element autre",
                                    "societe", "element personne", "element refuse"}));
    EXPECT_EQ(list.GetChapterCount(), 0u);
}

TEST(KvFileListeLoad, VersionChanges) {
    TempDir dir;
    const std::string body = "[Societe]\nNom societe = S\n[element personne]\nNom = p\n";
    auto file = [&](const char* version) {
        WriteBytes(dir.File("in.txt"), std::string("[[Liste personnes]]\n[Version]\n"
                                                   "Version ft = 0.2\nVersion = ") +
                                           version + "\n" + body);
        return dir.File("in.txt");
    };

    People minor;
    ASSERT_EQ(minor.Load(file("0.1")), KvFile::kLoaded);
    EXPECT_EQ(minor.company, "S");
    EXPECT_EQ(minor.people.size(), 1u);
    EXPECT_EQ(minor.changed, std::vector<CString>{"0.1"});
    EXPECT_TRUE(minor.converted.empty());
    EXPECT_TRUE(minor.IsModified());

    // Accepted major change: the converter replaces contents and elements.
    People major;
    major.convertResult = KvFile::kExchanged;
    major.SetModified(true);
    ASSERT_EQ(major.Load(file("1.0")), KvFile::kLoaded);
    EXPECT_EQ(major.converted, std::vector<CString>{"1.0"});
    EXPECT_EQ(major.company, "");
    EXPECT_TRUE(major.people.empty());
    EXPECT_TRUE(major.offered.empty());
    EXPECT_TRUE(major.changed.empty());
    EXPECT_FALSE(major.IsModified());

    People refused;
    refused.convertResult = 3;
    EXPECT_EQ(refused.Load(file("1.0")), KvFile::kFormatVersionRefused);
    EXPECT_EQ(refused.converted, std::vector<CString>{"1.0"});
    EXPECT_TRUE(refused.people.empty());
    EXPECT_EQ(refused.GetChapterCount(), 0u);
}

}  // namespace
