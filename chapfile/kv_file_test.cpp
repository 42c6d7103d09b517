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
    std::string result;
    for (char ch : text) {
        if (ch == '\n')
            result += '\r';
        result += ch;
    }
    return result;
}

// A value stored as one text: "x;y".
struct Point : KvObjetFile {
    int x = 0;
    int y = 0;
    void FromText(const CString& text) override { std::sscanf(text.c_str(), "%d;%d", &x, &y); }
    void ToText(CString& text) override { text.Format("%d;%d", x, y); }
};

// One value of every kind in one chapter, and a record of the version hooks.
class Sample : public KvFile {
  public:
    explicit Sample(const CString& version = "1.2") : KvFile("Sample file", version) {}

    unsigned u = 0;
    float f = 0;
    int i = 0;
    bool b = false;
    CString s;
    Point p;
    int chapterResult = -1;
    std::vector<CString> changed;
    std::vector<CString> converted;

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
    int ConvertFromVersion(const CString& versionRead) override {
        converted.push_back(versionRead);
        return kNotExchanged;
    }
    void VersionChanged(const CString& versionRead) override { changed.push_back(versionRead); }
};

// Exchange code given as a function: the exact-text tests write through it,
// the probes check each call's result while a file loads.
class Scripted : public KvFile {
  public:
    using Script = std::function<void(KvFile&)>;
    explicit Scripted(Script script, const CString& title = "T", const CString& version = "1.0")
        : KvFile(title, version), m_script(std::move(script)) {}
    int Exchange(KvFile& file) override {
        m_script(file);
        return kExchanged;
    }

  private:
    Script m_script;
};

const char* const kEmptyFileText =
    "[[T]]\n"
    "\n\n\n\n"
    "[Version]\n"
    "\n\n"
    "Version ft = 0.2\n"
    "Version = 1.0\n"
    "\n\n";

std::string SampleHead(const char* version = "1.2") {
    return std::string("[[Sample file]]\n[Version]\nVersion ft = 0.2\nVersion = ") + version + "\n";
}

TEST(KvFileSave, FileWithoutContents) {
    TempDir dir;
    KvFile file("T", "1.0");
    file.SetModified(true);
    EXPECT_EQ(file.Save(dir.File("empty.txt")), KvFile::kSaved);
    EXPECT_EQ(ReadBytes(dir.File("empty.txt")), Crlf(kEmptyFileText));
    EXPECT_FALSE(file.IsModified());
    EXPECT_EQ(file.GetPath(), dir.File("empty.txt"));
    EXPECT_EQ(file.GetOpenMode(), KvFile::kWriting);

    // Save() writes to the path of the last Save.
    std::filesystem::remove(dir.File("empty.txt"));
    EXPECT_EQ(file.Save(), KvFile::kSaved);
    EXPECT_EQ(ReadBytes(dir.File("empty.txt")), Crlf(kEmptyFileText));
}

TEST(KvFileSave, RefusedPaths) {
    TempDir dir;
    Sample file;
    EXPECT_EQ(file.Save(""), KvFile::kNotWritten);
    EXPECT_EQ(file.GetOpenMode(), KvFile::kNone);
    EXPECT_EQ(file.Save(dir.File("no such folder/x.txt")), KvFile::kNotWritten);
    EXPECT_EQ(file.Save(dir.path().string()), KvFile::kNotWritten);  // a folder
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // Exchange calls outside Save and Load do nothing.
    EXPECT_EQ(file.Chapter("Values"), KvFile::kNotExchanged);
    EXPECT_EQ(file.ExchangeValue("Signed", file.i), KvFile::kNotExchanged);
    EXPECT_EQ(file.ExchangeHeader(), KvFile::kNotExchanged);
}

TEST(KvFileSave, ChaptersSectionsElementsAndNumberFormats) {
    TempDir dir;
    Scripted file([](KvFile& f) {
        unsigned big = 4294967295u;
        unsigned above = 3000000000u;
        int negative = -17;
        bool yes = true;
        float half = 1.5f, quarter = -0.25f, zero = 0.0f, large = 1e10f;
        CString text = "a\r\nb\rc";
        CString empty;
        f.Chapter("JOB INFORMATIONS");
        f.ExchangeValue("Max", big);
        f.ExchangeValue("Above", above);
        f.ExchangeValue("Negative", negative);
        f.ExchangeValue("Flag", yes);
        f.ExchangeValue("Half", half);
        f.ExchangeValue("Quarter", quarter);
        f.ExchangeValue("Zero", zero);
        f.ExchangeValue("Large", large);
        f.ExchangeValue("Texte", text);
        f.ExchangeValue("Vide", empty);
        f.BeginSection("A");
        f.Chapter("B");
        f.BeginSection("C");
        EXPECT_EQ(f.GetSectionPath(), "A:C");
        f.Chapter("D");
        f.EndSection();
        f.EndSection();
        EXPECT_EQ(f.GetSectionPath(), "");
        f.Chapter("E");
        EXPECT_EQ(f.ElementChapter("utilisateur"), KvFile::kChapterFound);
        f.WriteBlankLines(1);
    });
    ASSERT_EQ(file.Save(dir.File("f.txt")), KvFile::kSaved);
    EXPECT_EQ(ReadBytes(dir.File("f.txt")),
              Crlf(std::string(kEmptyFileText) + "\n\n[JOB INFORMATIONS]\n\n"
                                                 "Max = -1\n"
                                                 "Above = -1294967296\n"
                                                 "Negative = -17\n"
                                                 "Flag = 1\n"
                                                 "Half = 1.500000\n"
                                                 "Quarter = -0.250000\n"
                                                 "Zero = 0.000000\n"
                                                 "Large = 10000000000.000000\n"
                                                 "Texte = a<saut>b\rc\n"
                                                 "Vide = \n"
                                                 "\n\n\n\n[A:nouvelle_section]\n\n"
                                                 "\n\n[A:B]\n\n"
                                                 "\n\n\n\n[A:C:nouvelle_section]\n\n"
                                                 "\n\n[A:C:D]\n\n"
                                                 "\n\n[E]\n\n"
                                                 "\n\n\n\n[element utilisateur]\n\n"
                                                 "\n"));
}

TEST(KvFileRoundTrip, EveryValueTypeComesBack) {
    TempDir dir;
    struct Case {
        unsigned u;
        float f;
        int i;
        bool b;
        const char* s;
    };
    const Case cases[] = {
        {0u, 0.0f, 0, false, ""},
        {4294967295u, -0.25f, -2147483647 - 1, true, "line one\r\nline two\r\n"},
        {2147483648u, 123456.5f, 2147483647, false, "  kept inside  = too"},
        {3000000000u, -1e-3f, -1, true, "\r\n"},
    };
    for (const Case& c : cases) {
        Sample out;
        out.u = c.u;
        out.f = c.f;
        out.i = c.i;
        out.b = c.b;
        out.s = c.s;
        out.p.x = -3;
        out.p.y = 40;
        ASSERT_EQ(out.Save(dir.File("rt.txt")), KvFile::kSaved);

        Sample in;
        in.b = !c.b;
        in.s = "previous";
        ASSERT_EQ(in.Load(dir.File("rt.txt")), KvFile::kLoaded);
        EXPECT_EQ(in.chapterResult, KvFile::kChapterFound);
        EXPECT_EQ(in.u, c.u);
        EXPECT_NEAR(in.f, c.f, 1e-6f + 1e-6f * std::abs(c.f));
        EXPECT_EQ(in.i, c.i);
        EXPECT_EQ(in.b, c.b);
        // Leading blanks of a text do not survive (the reader trims values).
        CString expected = c.s;
        expected.TrimLeft(" ");
        EXPECT_EQ(in.s, expected);
        EXPECT_EQ(in.p.x, -3);
        EXPECT_EQ(in.p.y, 40);
        EXPECT_TRUE(in.changed.empty());
        EXPECT_FALSE(in.IsModified());
        EXPECT_EQ(in.GetChapterCount(), 0u);
    }
}

TEST(KvFileRoundTrip, LoneLineFeedCannotBreakTheFile) {
    TempDir dir;
    Sample out;
    out.s = "a\n[Values]\nSigned = 99";
    out.i = 5;
    ASSERT_EQ(out.Save(dir.File("x.txt")), KvFile::kSaved);
    Sample in;
    ASSERT_EQ(in.Load(dir.File("x.txt")), KvFile::kLoaded);
    EXPECT_EQ(in.s, "a\r\n[Values]\r\nSigned = 99");
    EXPECT_EQ(in.i, 5);
}

TEST(KvFileLoad, RefusalCodes) {
    TempDir dir;
    auto load = [&](const std::string& bytes) {
        WriteBytes(dir.File("in.txt"), bytes);
        Sample file;
        file.i = 11;
        int result = file.Load(dir.File("in.txt"));
        EXPECT_EQ(file.i, 11) << bytes;  // nothing read from a refused file
        EXPECT_TRUE(file.converted.empty());
        return result;
    };
    {
        Sample file;
        EXPECT_EQ(file.Load(""), KvFile::kNotThisFile);
        EXPECT_EQ(file.Load(dir.File("missing.txt")), KvFile::kNotThisFile);
        EXPECT_EQ(file.GetPath(), dir.File("missing.txt"));
    }
    EXPECT_EQ(load(""), KvFile::kNotThisFile);
    EXPECT_EQ(load("\n  \t\n"), KvFile::kNotThisFile);
    // No header: the first chapter is the version chapter.
    EXPECT_EQ(load("[Version]\nVersion ft = 0.2\nVersion = 1.2\n"), KvFile::kNotThisFile);
    // Text before the first chapter: nothing parsed.
    EXPECT_EQ(load("stray\n" + SampleHead()), KvFile::kNotThisFile);
    // The title counts case.
    EXPECT_EQ(load("[[Sample File]]\n[Version]\nVersion ft = 0.2\nVersion = 1.2\n"),
              KvFile::kNotThisFile);
    EXPECT_EQ(load("[[Sample file]]\n[Values]\nSigned = 1\n"), KvFile::kNoVersionChapter);
    EXPECT_EQ(load("[[Sample file]]\n[Version]\nVersion = 1.2\n[Values]\nSigned = 1\n"),
              KvFile::kFormatVersionRefused);
    EXPECT_EQ(load("[[Sample file]]\n[Version]\nVersion ft = 0.3\n[Values]\nSigned = 1\n"),
              KvFile::kFormatVersionRefused);
    EXPECT_EQ(load("[[Sample file]]\n[Version]\nVersion ft = 0.20\n"),
              KvFile::kFormatVersionRefused);

    // The header check only looks the key up in the first chapter.
    Sample file;
    WriteBytes(dir.File("in.txt"),
               "[Intro]\nEnTete = Sample file\n[Version]\nVersion ft = 0.2\nVersion = 1.2\n"
               "[Values]\nSigned = 8\n");
    EXPECT_EQ(file.Load(dir.File("in.txt")), KvFile::kLoaded);
    EXPECT_EQ(file.i, 8);
}

TEST(KvFileLoad, LineEndsBlanksAndCase) {
    TempDir dir;
    const std::string lf =
        "  \n\t\n[[Sample file]]  \n\n[VERSION]\n  VERSION FT=0.2\nversion =   1.2  \n"
        "\n \t \n[VALUES ]]]\n   SIGNED    =   -12   \n  text = = Hello World  \n"
        "UNSIGNED=7\n\n";
    for (const std::string& bytes : {lf, Crlf(lf)}) {
        WriteBytes(dir.File("in.txt"), bytes);
        Sample file;
        ASSERT_EQ(file.Load(dir.File("in.txt")), KvFile::kLoaded);
        EXPECT_EQ(file.i, -12);
        EXPECT_EQ(file.u, 7u);
        EXPECT_EQ(file.s, "Hello World");
        EXPECT_TRUE(file.changed.empty());
    }
}

TEST(KvFileLoad, MissingOrBadValuesKeepTheirDefaults) {
    TempDir dir;
    WriteBytes(dir.File("in.txt"), SampleHead() +
                                       "[Values]\nSigned = not a number\nBool = yes\n"
                                       "Float = x\nUnsigned\n");
    Sample file;
    file.i = 3;
    file.b = true;
    file.f = 2.5f;
    file.u = 9;
    file.s = "kept";
    ASSERT_EQ(file.Load(dir.File("in.txt")), KvFile::kLoaded);
    EXPECT_EQ(file.i, 3);
    EXPECT_TRUE(file.b);
    EXPECT_EQ(file.f, 2.5f);
    EXPECT_EQ(file.u, 9u);
    EXPECT_EQ(file.s, "kept");

    // A missing chapter: nothing is read until the next chapter is found.
    WriteBytes(dir.File("in.txt"), SampleHead() + "[Other]\nSigned = 4\n");
    ASSERT_EQ(file.Load(dir.File("in.txt")), KvFile::kLoaded);
    EXPECT_EQ(file.chapterResult, KvFile::kNotExchanged);
    EXPECT_EQ(file.i, 3);
}

TEST(KvFileLoad, ChapterAndValueResults) {
    TempDir dir;
    WriteBytes(dir.File("in.txt"), SampleHead() +
                                       "[Societe]\nNom societe = Quarrow\nNom societe = second\n"
                                       "[SOCIETE]\nNom societe = duplicate\n"
                                       "[A:nouvelle_section]\nCount = 1\n[A:B:nouvelle_section]\n"
                                       "Count = 2\n");
    bool ran = false;
    Scripted file(
        [&](KvFile& f) {
            ran = true;
            CString name;
            int count = 0;
            EXPECT_EQ(f.ExchangeValue("Nom societe", name),
                      KvFile::kNotExchanged);  // still in [Version]
            EXPECT_EQ(f.ExchangeValue("VERSION FT", name), KvFile::kExchanged);
            EXPECT_EQ(name, "0.2");
            EXPECT_EQ(f.Chapter("societe"), KvFile::kChapterFound);
            KvFileChapitre* first = f.GetCurrentChapter();
            ASSERT_NE(first, nullptr);
            EXPECT_TRUE(first->IsUsed());
            EXPECT_EQ(f.ExchangeValue("NOM SOCIETE", name), KvFile::kExchanged);
            EXPECT_EQ(name, "Quarrow");
            EXPECT_FALSE(f.GetChapter(3)->IsUsed());  // the second [SOCIETE]

            f.BeginSection("A");
            EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kExchanged);
            EXPECT_EQ(count, 1);
            f.BeginSection("B");
            EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kExchanged);
            EXPECT_EQ(count, 2);
            f.EndSection();
            // The current chapter does not change with EndSection.
            EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kExchanged);
            EXPECT_EQ(count, 2);
            f.EndSection();
            EXPECT_EQ(f.Chapter("Missing"), KvFile::kNotExchanged);
            EXPECT_EQ(f.GetCurrentChapter(), nullptr);
            count = 77;
            EXPECT_EQ(f.ExchangeValue("count", count), KvFile::kNotExchanged);
            EXPECT_EQ(count, 77);
        },
        "Sample file", "1.2");
    ASSERT_EQ(file.Load(dir.File("in.txt")), KvFile::kLoaded);
    EXPECT_TRUE(ran);
    EXPECT_EQ(file.GetOpenMode(), KvFile::kReading);
    EXPECT_EQ(file.GetCurrentChapter(), nullptr);
}

TEST(KvFileLoad, VersionChanges) {
    TempDir dir;
    const std::string body = "[Values]\nSigned = 6\n";

    // Minor change: contents read, hook called, file marked modified.
    WriteBytes(dir.File("in.txt"), SampleHead("1.7") + body);
    Sample minor;
    ASSERT_EQ(minor.Load(dir.File("in.txt")), KvFile::kLoaded);
    EXPECT_EQ(minor.i, 6);
    EXPECT_EQ(minor.changed, std::vector<CString>{"1.7"});
    EXPECT_TRUE(minor.converted.empty());
    EXPECT_TRUE(minor.IsModified());
    EXPECT_EQ(minor.GetVersionRead(), "1.7");
    EXPECT_FALSE(minor.MajorVersionDiffers());

    // No "Version" key: read as the expected version, yet marked modified.
    WriteBytes(dir.File("in.txt"), "[[Sample file]]\n[Version]\nVersion ft = 0.2\n" + body);
    Sample missing;
    ASSERT_EQ(missing.Load(dir.File("in.txt")), KvFile::kLoaded);
    EXPECT_EQ(missing.i, 6);
    EXPECT_EQ(missing.changed, std::vector<CString>{"1.2"});
    EXPECT_TRUE(missing.IsModified());

    // Major change: the converter runs instead of the contents.
    for (const char* version : {"2.2", "11.2", "3"}) {
        WriteBytes(dir.File("in.txt"), SampleHead(version) + body);
        Sample major;
        ASSERT_EQ(major.Load(dir.File("in.txt")), KvFile::kLoaded) << version;
        EXPECT_EQ(major.i, 0) << version;
        EXPECT_EQ(major.converted, std::vector<CString>{version});
        EXPECT_TRUE(major.changed.empty());
        EXPECT_FALSE(major.IsModified());
        EXPECT_TRUE(major.MajorVersionDiffers());
    }

    // The same version again: no hook, not modified.
    WriteBytes(dir.File("in.txt"), SampleHead() + body);
    Sample same;
    same.SetModified(true);
    ASSERT_EQ(same.Load(dir.File("in.txt")), KvFile::kLoaded);
    EXPECT_TRUE(same.changed.empty());
    EXPECT_FALSE(same.IsModified());
}

TEST(KvFileParse, LongLinesAreReadInPiecesOf999) {
    TempDir dir;
    std::string longLine = "k = " + std::string(2496, 'v');  // 2500 characters
    std::string exact(999, 'e');
    WriteBytes(dir.File("in.txt"), "[Chapter]\n" + longLine + "\n" + exact + "\r\n" +
                                       std::string(998, 'f') + "\nlast = 1");
    KvFile file("T", "1");
    ASSERT_EQ(file.ParseFile(dir.File("in.txt")), KvFile::kParsed);
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
    EXPECT_EQ(file.GetOpenMode(), KvFile::kReading);
}

TEST(KvFileParse, ParsedLinesSplitAsClassifyDoes) {
    TempDir dir;
    const std::vector<std::string> lines = {"= orphan",
                                            "=",
                                            "==  x = y",
                                            "Key",
                                            "MiXeD Key = Value = More",
                                            "lower = v \r x",
                                            "[[Late header]] ]",
                                            "[[",
                                            "[[]]",
                                            "a=",
                                            "k\t=\t=\tv",
                                            "\x80\xC9t\xE9 = \xE9t\xE9"};
    std::string text = "[Chapter]\n";
    for (const std::string& line : lines) text += line + "\n";
    WriteBytes(dir.File("in.txt"), text);
    KvFile file("T", "1");
    ASSERT_EQ(file.ParseFile(dir.File("in.txt")), KvFile::kParsed);
    ASSERT_EQ(file.GetChapterCount(), 1u);
    const KvFileChapitre* chapter = file.GetChapter(0);
    ASSERT_EQ(chapter->GetLineCount(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        KvFileString expected(lines[i].c_str());
        expected.Classify();
        const KvFileString& line = chapter->GetLine(i);
        EXPECT_EQ(line.Text(), expected.Text()) << i;
        EXPECT_EQ(line.GetType(), expected.GetType()) << i;
        EXPECT_EQ(line.GetKey(), expected.GetKey()) << i;
        EXPECT_EQ(line.GetValue(), expected.GetValue()) << i;
    }
    // The first line of an empty key wins; keys keep only ASCII lowercased.
    ASSERT_NE(chapter->FindLine(""), nullptr);
    EXPECT_EQ(chapter->FindLine("")->GetValue(), "orphan");
    EXPECT_EQ(chapter->FindLine("MIXED KEY ")->GetValue(), "Value = More");
    EXPECT_EQ(chapter->FindLine("entete")->GetValue(), "Late header");
    EXPECT_EQ(chapter->FindLine("\x80\xC9T\xE9")->GetValue(), "\xE9t\xE9");
    EXPECT_EQ(chapter->FindLine("\x80\xE9t\xE9"), nullptr);
}

// A long chapter is indexed in one go, in an order of its own: the first
// line of each key must still win, whatever the case of the later ones, and
// lines added afterwards (keeping their own key) must join the same index.
TEST(KvFileParse, LongChaptersKeepTheFirstLineOfEachKey) {
    TempDir dir;
    const int count = 3000;
    std::string text = "[Many]\n";
    for (int i = 0; i < count; ++i) text += "Key " + std::to_string(i) + " = first\n";
    for (int i = count - 1; i >= 0; i -= 2) text += "KEY " + std::to_string(i) + " = second\n";
    for (int i = 0; i < count; i += 3) text += "key " + std::to_string(i) + "  =  third\n";
    text += "Only once = last\n";
    WriteBytes(dir.File("in.txt"), text);
    KvFile file("T", "1");
    ASSERT_EQ(file.ParseFile(dir.File("in.txt")), KvFile::kParsed);
    KvFileChapitre* chapter = file.GetChapter(0);
    // Looked up out of file order, so that no lookup is answered by the line
    // that follows the previous one.
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

    // A copy holds parsed and added lines alike and answers the same lookups.
    KvFileChapitre copy(*chapter);
    ASSERT_EQ(copy.GetLineCount(), chapter->GetLineCount());
    EXPECT_EQ(copy.FindLine("KEY 7")->GetValue(), "first");
    EXPECT_EQ(copy.FindLine("key 3000")->GetValue(), "added");
    EXPECT_EQ(copy.GetLine(0).Text(), "Key 0 = first");
}

TEST(KvFileParse, StructureAndResults) {
    TempDir dir;
    KvFile file("T", "1");
    EXPECT_EQ(file.ParseFile(dir.File("missing.txt")), KvFile::kCannotOpen);
    EXPECT_EQ(file.GetOpenMode(), KvFile::kNone);

    WriteBytes(dir.File("in.txt"), "\n[[T]]\na = 1\n[[Other]]\n[Two]\nb\n[two]\n");
    ASSERT_EQ(file.ParseFile(dir.File("in.txt")), KvFile::kParsed);
    ASSERT_EQ(file.GetChapterCount(), 3u);
    // A header before any chapter opens "EnTete"; a later one is a line.
    EXPECT_EQ(file.GetChapter(0)->GetName(), "EnTete");
    ASSERT_EQ(file.GetChapter(0)->GetLineCount(), 3u);
    EXPECT_EQ(file.GetChapter(0)->GetLine(0).GetType(), KvFileString::kHeader);
    EXPECT_EQ(file.GetChapter(0)->GetLine(2).GetValue(), "Other");
    EXPECT_EQ(file.GetChapter(1)->GetName(), "two");
    EXPECT_EQ(file.GetChapter(1)->GetHead().Text(), "");
    EXPECT_EQ(file.GetChapter(1)->FindLine("b")->GetValue(), "");
    EXPECT_EQ(file.GetChapter(2)->GetLineCount(), 0u);

    WriteBytes(dir.File("in.txt"), "a = 1\n[[T]]\n");
    EXPECT_EQ(file.ParseFile(dir.File("in.txt")), KvFile::kTextBeforeHead);
    EXPECT_EQ(file.GetChapterCount(), 0u);
}

TEST(KvFileParse, RenamedChaptersAreFoundUnderTheirNewName) {
    TempDir dir;
    WriteBytes(dir.File("in.txt"), SampleHead() + "[Values]\nSigned = 1\n[Other]\nSigned = 2\n");
    Scripted file(
        [](KvFile& f) {
            int value = 0;
            EXPECT_EQ(f.Chapter("Values"), KvFile::kChapterFound);
            f.GetChapter(3)->SetName("Values");
            f.GetChapter(2)->SetName("Gone");
            EXPECT_EQ(f.Chapter("Values"), KvFile::kChapterFound);
            EXPECT_EQ(f.ExchangeValue("signed", value), KvFile::kExchanged);
            EXPECT_EQ(value, 2);
            EXPECT_EQ(f.Chapter("gone"), KvFile::kChapterFound);
            // Renaming a copy changes nothing in the file; a chapter assigned
            // over one of the file's (no SetName on the file's chapter) is found
            // under its own name, and the old name is gone.
            KvFileChapitre copy = *f.GetChapter(3);
            copy.SetName("Copied");
            KvFileChapitre other;
            other.SetName("Assigned");
            EXPECT_EQ(f.Chapter("copied"), KvFile::kNotExchanged);
            EXPECT_EQ(f.Chapter("values"), KvFile::kChapterFound);
            EXPECT_EQ(f.GetCurrentChapter(), f.GetChapter(3));
            *f.GetChapter(2) = other;
            EXPECT_EQ(f.Chapter("gone"), KvFile::kNotExchanged);
            EXPECT_EQ(f.Chapter("assigned"), KvFile::kChapterFound);
            EXPECT_EQ(f.GetCurrentChapter(), f.GetChapter(2));
        },
        "Sample file", "1.2");
    ASSERT_EQ(file.Load(dir.File("in.txt")), KvFile::kLoaded);
}

}  // namespace
