#include "chapfile/kv_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// Files are written with "\r\n" line ends on every host.
std::string Crlf(std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
        text.insert(at, 1, '\r');
    return text;
}

// A value stored as one text: "x;y".
struct Point : KvObjetFile {
    int x = 0;
    int y = 0;
    void FromText(const CString& text) override { std::sscanf(text.c_str(), "%d;%d", &x, &y); }
    void ToText(CString& text) override { text.Format("%d;%d", x, y); }
};

// One value of every kind in one chapter.
class Sample : public KvFile {
  public:
    Sample() : KvFile("Sample file", "1.2") {}

    unsigned u = 0;
    float f = 0;
    int i = 0;
    bool b = false;
    CString s;
    Point p;
    int chapterResult = -1;

    int Exchange(KvFile& file) override {
        chapterResult = file.Chapter("Values");
        file.ExchangeValue("Unsigned", u);
        file.ExchangeValue("Float", f);
        file.ExchangeValue("Signed", i);
        file.ExchangeValue("Bool", b);
        file.ExchangeValue("Text", s);
        file.ExchangeValue("Point", p);
        return kExchanged;
    }
};

// Exchange code given as a function, run on Save or Load.
class Scripted : public KvFile {
  public:
    using Script = std::function<void(KvFile&)>;
    explicit Scripted(Script script) : KvFile("Sample file", "1.2"), m_script(std::move(script)) {}
    int Exchange(KvFile& file) override {
        m_script(file);
        return kExchanged;
    }

  private:
    Script m_script;
};

// The head and version chapter as Save writes them.
std::string FileHead(const std::string& title, const std::string& version) {
    return "[[" + title + "]]\n\n\n\n\n[Version]\n\n\nVersion ft = 0.2\nVersion = " + version +
           "\n\n\n";
}

std::string SampleHead(const std::string& version = "1.2") {
    return "[[Sample file]]\n[Version]\nVersion ft = 0.2\nVersion = " + version + "\n";
}

class KvFileTest : public ::testing::Test {
  protected:
    // Writes `bytes` as in.txt and returns its path.
    std::string In(const std::string& bytes) {
        WriteBytes(dir.File("in.txt"), bytes);
        return dir.File("in.txt");
    }
    TempDir dir;
};

TEST_F(KvFileTest, SaveWritesTheHeadAndVersionChapterAndRefusesBadPaths) {
    KvFile file("T", "1.0");
    file.SetModified(true);
    // A longer file that is there is written over and ends with the new text.
    WriteBytes(dir.File("empty.txt"), std::string(5000, 'x') + "\r\n[OLD]\r\n");
    EXPECT_EQ(file.Save(dir.File("empty.txt")), KvFile::kSaved);
    EXPECT_EQ(ReadBytes(dir.File("empty.txt")), Crlf(FileHead("T", "1.0")));
    EXPECT_FALSE(file.IsModified());
    // Save() writes to the path of the last Save.
    std::filesystem::remove(dir.File("empty.txt"));
    EXPECT_EQ(file.Save(), KvFile::kSaved);
    EXPECT_EQ(ReadBytes(dir.File("empty.txt")), Crlf(FileHead("T", "1.0")));

    Sample refused;
    TempDir empty;
    for (const std::string& path :
         {std::string(), empty.File("no such folder/x.txt"), empty.path().string()})
        EXPECT_EQ(refused.Save(path), KvFile::kNotWritten) << path;
    EXPECT_TRUE(std::filesystem::is_empty(empty.path()));
}

// Every value type is written in its own format and read back as it was.
TEST_F(KvFileTest, EveryValueTypeComesBack) {
    struct Case {
        unsigned u;
        float f;
        int i;
        bool b;
        const char* s;
        const char* back;  // leading blanks are trimmed, a lone "\n" comes back as "\r\n"
        const char* saved;
    };
    const Case cases[] = {
        {0u, 0.0f, 0, false, "", "", "0\nFloat = 0.000000\nSigned = 0\nBool = 0\nText = "},
        {4294967295u, -0.25f, -2147483647 - 1, true, "line one\r\nline two\r\n",
         "line one\r\nline two\r\n",
         "-1\nFloat = -0.250000\nSigned = -2147483648\nBool = 1\nText = line one<saut>line "
         "two<saut>"},
        {2147483648u, 123456.5f, 2147483647, false, "  kept inside  = too", "kept inside  = too",
         "-2147483648\nFloat = 123456.500000\nSigned = 2147483647\nBool = 0\n"
         "Text =   kept inside  = too"},
        {3000000000u, -1e-3f, -1, true, "\r\nb\rc", "\r\nb\rc",
         "-1294967296\nFloat = -0.001000\nSigned = -1\nBool = 1\nText = <saut>b\rc"},
        {5u, 1e10f, 5, true, "a\n[Values]\nSigned = 99", "a\r\n[Values]\r\nSigned = 99",
         "5\nFloat = 10000000000.000000\nSigned = 5\nBool = 1\nText = a<saut>[Values]<saut>Signed "
         "= 99"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.s);
        Sample out;
        out.u = c.u;
        out.f = c.f;
        out.i = c.i;
        out.b = c.b;
        out.s = c.s;
        out.p.x = -3;
        out.p.y = 40;
        ASSERT_EQ(out.Save(dir.File("rt.txt")), KvFile::kSaved);
        EXPECT_EQ(ReadBytes(dir.File("rt.txt")),
                  Crlf(FileHead("Sample file", "1.2") + "\n\n[Values]\n\nUnsigned = " + c.saved +
                       "\nPoint = -3;40\n"));

        Sample in;
        in.b = !c.b;
        in.s = "previous";
        ASSERT_EQ(in.Load(dir.File("rt.txt")), KvFile::kLoaded);
        EXPECT_EQ(in.chapterResult, KvFile::kChapterFound);
        EXPECT_EQ(in.u, c.u);
        EXPECT_NEAR(in.f, c.f, 1e-6f + 1e-6f * std::abs(c.f));
        EXPECT_EQ(in.i, c.i);
        EXPECT_EQ(in.b, c.b);
        EXPECT_EQ(in.s, c.back);
        EXPECT_EQ(in.p.x, -3);
        EXPECT_EQ(in.p.y, 40);
        EXPECT_EQ(in.GetChapterCount(), 0u);
    }
}

TEST_F(KvFileTest, LoadRefusesForeignAndDamagedFilesReadingNothing) {
    const std::string title = "[[Sample file]]\n[Version]\n";
    const std::vector<std::pair<std::string, int>> cases = {
        {"", KvFile::kNotThisFile},
        {"\n  \t\n", KvFile::kNotThisFile},
        {"[Version]\nVersion ft = 0.2\nVersion = 1.2\n", KvFile::kNotThisFile},  // no header
        {"stray\n" + SampleHead(), KvFile::kNotThisFile},
        {"[[Sample File]]\n[Version]\nVersion ft = 0.2\nVersion = 1.2\n", KvFile::kNotThisFile},
        {"[[Sample file]]\n[Values]\nSigned = 1\n", KvFile::kNoVersionChapter},
        {title + "Version = 1.2\n[Values]\nSigned = 1\n", KvFile::kFormatVersionRefused},
        {title + "Version ft = 0.3\n[Values]\nSigned = 1\n", KvFile::kFormatVersionRefused},
        {title + "Version ft = 0.20\n", KvFile::kFormatVersionRefused},
    };
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes);
        Sample file;
        file.i = 11;
        EXPECT_EQ(file.Load(In(bytes)), expected);
        EXPECT_EQ(file.i, 11);
    }
    Sample file;
    EXPECT_EQ(file.Load(""), KvFile::kNotThisFile);
    EXPECT_EQ(file.Load(dir.File("missing.txt")), KvFile::kNotThisFile);
    EXPECT_EQ(file.GetPath(), dir.File("missing.txt"));
    // The header check only looks the key up in the first chapter.
    EXPECT_EQ(file.Load(In("[Intro]\nEnTete = Sample file\n[Version]\nVersion ft = 0.2\n"
                           "Version = 1.2\n[Values]\nSigned = 8\n")),
              KvFile::kLoaded);
    EXPECT_EQ(file.i, 8);
}

TEST_F(KvFileTest, LoadIgnoresLineEndsBlanksAndCaseAndKeepsDefaultsForBadValues) {
    const std::string lf =
        "  \n\t\n[[Sample file]]  \n\n[VERSION]\n  VERSION FT=0.2\nversion =   1.2  \n"
        "\n \t \n[VALUES ]]]\n   SIGNED    =   -12   \n  text = = Hello World  \n"
        "UNSIGNED=7\n\n";
    for (const std::string& bytes : {lf, Crlf(lf)}) {
        Sample file;
        ASSERT_EQ(file.Load(In(bytes)), KvFile::kLoaded);
        EXPECT_EQ(file.i, -12);
        EXPECT_EQ(file.u, 7u);
        EXPECT_EQ(file.s, "Hello World");
    }

    // Values that do not convert, or have no "=", leave the variable alone.
    Sample file;
    file.i = 3;
    file.f = 2.5f;
    file.u = 9;
    ASSERT_EQ(
        file.Load(In(SampleHead() + "[Values]\nSigned = not a number\nFloat = x\nUnsigned\n")),
        KvFile::kLoaded);
    EXPECT_EQ(file.i, 3);
    EXPECT_EQ(file.f, 2.5f);
    EXPECT_EQ(file.u, 9u);
    // A missing chapter: nothing is read until the next chapter is found.
    ASSERT_EQ(file.Load(In(SampleHead() + "[Other]\nSigned = 4\n")), KvFile::kLoaded);
    EXPECT_EQ(file.chapterResult, KvFile::kNotExchanged);
    EXPECT_EQ(file.i, 3);
}

TEST_F(KvFileTest, ChapterAndValueResultsWhileLoading) {
    bool ran = false;
    Scripted file([&](KvFile& f) {
        ran = true;
        CString name;
        int count = 0;
        // Still in [Version].
        EXPECT_EQ(f.ExchangeValue("Nom societe", name), KvFile::kNotExchanged);
        EXPECT_EQ(f.ExchangeValue("VERSION FT", name), KvFile::kExchanged);
        EXPECT_EQ(name, "0.2");
        EXPECT_EQ(f.Chapter("societe"), KvFile::kChapterFound);
        EXPECT_EQ(f.ExchangeValue("NOM SOCIETE", name), KvFile::kExchanged);
        EXPECT_EQ(name, "Quarrow");

        f.BeginSection("A");
        EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kExchanged);
        EXPECT_EQ(count, 1);
        f.BeginSection("B");
        EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kExchanged);
        EXPECT_EQ(count, 2);
        f.EndSection();
        count = 0;  // the current chapter does not change with EndSection
        EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kExchanged);
        EXPECT_EQ(count, 2);
        f.EndSection();
        EXPECT_EQ(f.Chapter("Missing"), KvFile::kNotExchanged);
        EXPECT_EQ(f.GetCurrentChapter(), nullptr);
        EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kNotExchanged);
        EXPECT_EQ(count, 2);
    });
    ASSERT_EQ(file.Load(In(SampleHead() +
                           "[Societe]\nNom societe = Quarrow\nNom societe = second\n"
                           "[SOCIETE]\nNom societe = duplicate\n[A:nouvelle_section]\nCount = 1\n"
                           "[A:B:nouvelle_section]\nCount = 2\n")),
              KvFile::kLoaded);
    EXPECT_TRUE(ran);
    EXPECT_EQ(file.GetCurrentChapter(), nullptr);
}

TEST_F(KvFileTest, OtherMajorVersionsAreNotRead) {
    const std::string noVersion = "[[Sample file]]\n[Version]\nVersion ft = 0.2\n";
    struct Case {
        std::string head;
        int i;  // what the contents give, 0 when they are not read
        bool modified;
        bool major;
    };
    const Case cases[] = {
        {SampleHead("1.7"), 6, true, false},
        {noVersion, 6, true, false},  // read as the expected version
        {SampleHead("2.2"), 0, false, true},
        {SampleHead("11.2"), 0, false, true},
        {SampleHead("3"), 0, false, true},
        {SampleHead("1.2"), 6, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        Sample file;
        file.SetModified(true);
        ASSERT_EQ(file.Load(In(c.head + "[Values]\nSigned = 6\n")), KvFile::kLoaded);
        EXPECT_EQ(file.i, c.i);
        EXPECT_EQ(file.IsModified(), c.modified);
        EXPECT_EQ(file.MajorVersionDiffers(), c.major);
    }
}

TEST_F(KvFileTest, LongLinesAreParsedInPiecesOf999) {
    std::string longLine = "k = " + std::string(2496, 'v');  // 2500 characters
    std::string exact(999, 'e');
    KvFile file("T", "1");
    ASSERT_EQ(file.ParseFile(In("[Chapter]\n" + longLine + "\n" + exact + "\r\n" +
                                std::string(998, 'f') + "\nlast = 1")),
              KvFile::kParsed);
    ASSERT_EQ(file.GetChapterCount(), 1u);
    KvFileChapitre* chapter = file.GetChapter(0);
    ASSERT_EQ(chapter->GetLineCount(), 6u);
    EXPECT_EQ(chapter->GetLine(0).Text(), longLine.substr(0, 999));
    EXPECT_EQ(chapter->GetLine(0).GetValue().GetLength(), 995);
    EXPECT_EQ(chapter->GetLine(1).Text(), std::string(999, 'v'));
    EXPECT_EQ(chapter->GetLine(2).Text().GetLength(), 502);
    EXPECT_EQ(chapter->GetLine(3).Text(), exact);
    EXPECT_EQ(chapter->GetLine(4).Text(), std::string(998, 'f'));
    EXPECT_EQ(chapter->FindLine("last")->GetValue(), "1");
}

TEST_F(KvFileTest, ParsedLinesSplitAsClassifyDoes) {
    const std::string lines =
        "= orphan\n=\n==  x = y\nKey\nMiXeD Key = Value = More\nlower = v \r x\n"
        "[[Late header]] ]\n[[\n[[]]\na=\nk\t=\t=\tv\n\x80\xC9t\xE9 = \xE9t\xE9\n";
    KvFile file("T", "1");
    ASSERT_EQ(file.ParseFile(In("[Chapter]\n" + lines)), KvFile::kParsed);
    ASSERT_EQ(file.GetChapterCount(), 1u);
    const KvFileChapitre* chapter = file.GetChapter(0);
    ASSERT_EQ(chapter->GetLineCount(), 12u);
    for (std::size_t i = 0, at = 0; i < 12; ++i, at = lines.find('\n', at) + 1) {
        const std::string text = lines.substr(at, lines.find('\n', at) - at);
        SCOPED_TRACE(text);
        KvFileString expected(text.c_str());
        expected.Classify();
        const KvFileString& line = chapter->GetLine(i);
        EXPECT_EQ(line.Text(), expected.Text());
        EXPECT_EQ(line.GetType(), expected.GetType());
        EXPECT_EQ(line.GetKey(), expected.GetKey());
        EXPECT_EQ(line.GetValue(), expected.GetValue());
    }
    // The first line of an empty key wins; keys keep only ASCII lowercased.
    ASSERT_NE(chapter->FindLine(""), nullptr);
    EXPECT_EQ(chapter->FindLine("")->GetValue(), "orphan");
    EXPECT_EQ(chapter->FindLine("MIXED KEY ")->GetValue(), "Value = More");
    EXPECT_EQ(chapter->FindLine("entete")->GetValue(), "Late header");
    EXPECT_EQ(chapter->FindLine("\x80\xC9T\xE9")->GetValue(), "\xE9t\xE9");
    EXPECT_EQ(chapter->FindLine("\x80\xE9t\xE9"), nullptr);
}

// A long chapter is indexed in one go: the first line of each key must still
// win, and lines added afterwards and copies must use the same index.
TEST_F(KvFileTest, LongChaptersKeepTheFirstLineOfEachKey) {
    const int count = 3000;
    std::string text = "[Many]\n";
    for (int i = 0; i < count; ++i) text += "Key " + std::to_string(i) + " = first\n";
    for (int i = count - 1; i >= 0; i -= 2) text += "KEY " + std::to_string(i) + " = second\n";
    for (int i = 0; i < count; i += 3) text += "key " + std::to_string(i) + "  =  third\n";
    text += "Only once = last\n";
    KvFile file("T", "1");
    ASSERT_EQ(file.ParseFile(In(text)), KvFile::kParsed);
    KvFileChapitre* chapter = file.GetChapter(0);
    // Out of file order, so that no lookup is answered by the line after the last.
    for (int i = count - 1; i >= 0; --i) {
        const KvFileString* line = chapter->FindLine(("kEy " + std::to_string(i)).c_str());
        ASSERT_NE(line, nullptr) << i;
        EXPECT_EQ(line->GetValue(), "first") << i;
    }
    EXPECT_EQ(chapter->FindLine("only ONCE")->GetValue(), "last");
    EXPECT_EQ(chapter->FindLine("key 3000"), nullptr);

    KvFileString added("Key 3000 = added");
    added.Classify();
    chapter->AddLine(added);
    EXPECT_EQ(chapter->FindLine("KEY 3000")->GetValue(), "added");
    EXPECT_EQ(chapter->FindLine("key 2999")->GetValue(), "first");

    KvFileChapitre copy(*chapter);
    ASSERT_EQ(copy.GetLineCount(), chapter->GetLineCount());
    EXPECT_EQ(copy.FindLine("KEY 7")->GetValue(), "first");
    EXPECT_EQ(copy.FindLine("key 3000")->GetValue(), "added");
}

TEST_F(KvFileTest, ParseGivesChaptersInFileOrderOrItsRefusal) {
    KvFile file("T", "1");
    EXPECT_EQ(file.ParseFile(dir.File("missing.txt")), KvFile::kCannotOpen);

    ASSERT_EQ(file.ParseFile(In("\n[[T]]\na = 1\n[[Other]]\n[Two]\nb\n[two]\n")), KvFile::kParsed);
    ASSERT_EQ(file.GetChapterCount(), 3u);
    // A header before any chapter opens "EnTete"; a later one is a line.
    EXPECT_EQ(file.GetChapter(0)->GetName(), "EnTete");
    ASSERT_EQ(file.GetChapter(0)->GetLineCount(), 3u);
    EXPECT_EQ(file.GetChapter(0)->GetLine(0).GetType(), KvFileString::kHeader);
    EXPECT_EQ(file.GetChapter(0)->GetLine(2).GetValue(), "Other");
    EXPECT_EQ(file.GetChapter(1)->GetName(), "two");
    EXPECT_EQ(file.GetChapter(1)->FindLine("b")->GetValue(), "");
    EXPECT_EQ(file.GetChapter(2)->GetLineCount(), 0u);

    EXPECT_EQ(file.ParseFile(In("a = 1\n[[T]]\n")), KvFile::kTextBeforeHead);
    EXPECT_EQ(file.GetChapterCount(), 0u);
}

}  // namespace
