#include "messages/catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_stream.h"
#include "testsupport/temp_dir.h"

namespace {

using namespace std::string_literals;

enum class Encoding { kSingleByte, kSingleByteCrLf, kUtf16, kUtf16CrLf };

// Catalogue bytes for `text` (characters 0 to 255 only for single-byte).
std::string Encode(const std::u16string& text, Encoding encoding) {
    const bool crlf = encoding == Encoding::kSingleByteCrLf || encoding == Encoding::kUtf16CrLf;
    const bool wide = encoding == Encoding::kUtf16 || encoding == Encoding::kUtf16CrLf;
    std::string bytes = wide ? "\xFF\xFE" : "";
    for (const char16_t ch : text) {
        for (const char16_t unit : ch == u'\n' && crlf ? u"\r\n"s : std::u16string(1, ch)) {
            bytes += static_cast<char>(unit & 0xFF);
            if (wide)
                bytes += static_cast<char>(unit >> 8);
        }
    }
    return bytes;
}

class CatalogueEncodings : public testing::TestWithParam<Encoding> {
  protected:
    // Loads `text` as a system catalogue in the encoding under test.
    bool Load(CMessage& catalogue, const std::u16string& text) {
        testsupport::WriteBytes(m_dir.File("msg.txt"), Encode(text, GetParam()));
        return catalogue.LoadSystemCatalogue(m_dir.File("msg.txt"));
    }
    testsupport::TempDir m_dir;
};

INSTANTIATE_TEST_SUITE_P(AllEncodings, CatalogueEncodings,
                         testing::Values(Encoding::kSingleByte, Encoding::kSingleByteCrLf,
                                         Encoding::kUtf16, Encoding::kUtf16CrLf));

TEST_P(CatalogueEncodings, HeaderFormsTextRulesAndDuplicatesGiveTheSameMessages) {
    CMessage catalogue;
    ASSERT_TRUE(Load(catalogue,
                     u"; comment line\n"
                     u"\n"
                     u"[20,0,0,9]  abc\t\n"
                     u"[ 20 0 0 1 ]first\n"
                     u"[20, 0, 0, 1] second \t\r\n"
                     u"[1 5] two numbers\n"
                     u"[1 2 3] only two taken\n"
                     u"[1,6,7] comma pair\n"
                     u"[+3,-0,0,1] signs\n"
                     u"[20;0;0;2] refused\n"
                     u"[3 ,4] refused\n"
                     u" [3,5] refused\n"
                     u"[4,1]a\\tb\\\\t\\x\n"
                     u"[4,2]\t \\tlead\n"
                     u"[4,3]Soci\u00E9t\u00E9 100%\n"
                     u"[4,4]x]y\n"
                     u"[4,5]\n"
                     u"[4,6]ab\0cd\n"
                     u"[4,7] last"s));
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "abc");
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 1), "second ");  // last line wins
    EXPECT_EQ(catalogue.GetMessage(1, 5), "two numbers");
    EXPECT_EQ(catalogue.GetMessage(1, 2), "only two taken");
    EXPECT_EQ(catalogue.GetMessage(1, 6), "comma pair");
    EXPECT_EQ(catalogue.GetMessage(3, 0, 0, 1), "signs");
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 2), "");
    EXPECT_EQ(catalogue.GetMessage(3, 4), "");
    EXPECT_EQ(catalogue.GetMessage(3, 5), "");
    EXPECT_EQ(catalogue.GetMessage(4, 1), "a\tb\\\t\\x");
    EXPECT_EQ(catalogue.GetMessage(4, 2), "\tlead");
    EXPECT_EQ(catalogue.GetMessage(4, 3), "Soci\xE9t\xE9 100%");
    EXPECT_EQ(catalogue.GetMessage(4, 4), "x]y");
    EXPECT_EQ(catalogue.GetMessage(4, 5), "");  // an empty text reads as missing
    EXPECT_EQ(catalogue.GetMessage(4, 6), "ab");
    EXPECT_EQ(catalogue.GetMessage(4, 7), "last");  // no line end after it
}

TEST_P(CatalogueEncodings, OverlongLinesAreCutAndReadingGoesOn) {
    // Pieces of 2047 characters, of which the first 1024 are kept: the text
    // keeps 1024 - 6 characters, the rest of the line is ignored (it does
    // not start with "["), the next message is intact.
    std::u16string text = u"[1,1] " + std::u16string(5000, u'a') + u"\n[1,2] ok\n";
    // A continuation piece that starts with "[" is a message line of its own.
    text += u"[1,3] " + std::u16string(2047 - 6, u'b') + u"[1,4] tail\n";
    CMessage catalogue;
    ASSERT_TRUE(Load(catalogue, text));
    EXPECT_EQ(catalogue.GetMessage(1, 1), std::string(1018, 'a'));
    EXPECT_EQ(catalogue.GetMessage(1, 2), "ok");
    EXPECT_EQ(catalogue.GetMessage(1, 3), std::string(1018, 'b'));
    EXPECT_EQ(catalogue.GetMessage(1, 4), "tail");
}

// Single-byte files are read byte for byte as the characters of the same
// code, then converted to the ANSI page: the typographic marks of Windows-1252
// (0x80 to 0x9F) are control characters there and come out as "?". A
// catalogue that needs them is written in UTF-16.
TEST(Catalogue, SingleByteBytesAreTakenAsCharactersOfTheSameCode) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("sb.txt"), "[1,1] l\x92\xE9t\xE9\n");
    testsupport::WriteBytes(dir.File("u16.txt"),
                            Encode(u"[1,1] l\u2019\u00E9t\u00E9\n", Encoding::kUtf16));
    CMessage catalogue;
    ASSERT_TRUE(catalogue.LoadSystemCatalogue(dir.File("sb.txt")));
    EXPECT_EQ(catalogue.GetMessage(1, 1), "l?\xE9t\xE9");
    ASSERT_TRUE(catalogue.LoadSystemCatalogue(dir.File("u16.txt")));
    EXPECT_EQ(catalogue.GetMessage(1, 1), "l\x92\xE9t\xE9");
}

TEST(Catalogue, QuotesAreStrippedFromTheStoredTextOnEachLookup) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("m.txt"),
                            "[1,1] \"abc\"\n"
                            "[1,2] \" padded \"\n"
                            "[1,3] \"\"twice\"\"\n"
                            "[1,4] \"\n"
                            "[1,5] \"\"\n"
                            "[1,6] half\"\n");
    CMessage catalogue;
    ASSERT_TRUE(catalogue.LoadSystemCatalogue(dir.File("m.txt")));
    EXPECT_EQ(catalogue.GetMessage(1, 1), "abc");
    EXPECT_EQ(catalogue.GetMessage(1, 2), " padded ");
    EXPECT_EQ(catalogue.GetMessage(1, 2), " padded ");
    EXPECT_EQ(catalogue.GetMessage(1, 3), "\"twice\"");
    EXPECT_EQ(catalogue.GetMessage(1, 3), "twice");
    EXPECT_EQ(catalogue.GetMessage(1, 3), "twice");
    EXPECT_EQ(catalogue.GetMessage(1, 4), "");
    EXPECT_EQ(catalogue.GetMessage(1, 5), "");
    EXPECT_EQ(catalogue.GetMessage(1, 6), "half");
}

TEST(Catalogue, SparseKeysGetDenseTablesAndFallBackAtEveryLevel) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("m.txt"), "[2,0,0,5] five\n[2,1,0,0] other\n");
    CMessage catalogue;
    ASSERT_TRUE(catalogue.LoadSystemCatalogue(dir.File("m.txt")));
    EXPECT_EQ(catalogue.GetMessage(2, 0, 0, 5), "five");
    EXPECT_EQ(catalogue.GetMessage(2, 1, 0, 0), "other");
    EXPECT_EQ(catalogue.GetMessage(2, 0, 0, 0), "");  // an empty place
    EXPECT_EQ(catalogue.GetMessage(2, 0, 0, 6), "");  // past the last k4
    EXPECT_EQ(catalogue.GetMessage(2, 2, 0, 0), "");  // past the last k2
    EXPECT_EQ(catalogue.GetMessage(2, 0, 1, 0), "");  // past the last k3
    EXPECT_EQ(catalogue.GetMessage(3, 0, 0, 0), "");  // past the last k1
    EXPECT_EQ(catalogue.GetMessage(0xFFFFFFFFu, 0), "");
}

TEST(Catalogue, ManyKeysInAnyOrderEachGiveTheirLastLine) {
    // Keys from the highest down, each given twice (the second line wins),
    // spread over all four numbers; looked up in yet another order.
    std::string text;
    for (int n = 2999; n >= 0; --n)
        for (const char* which : {"old", "new"})
            text += "[" + std::to_string(n % 7) + "," + std::to_string(n / 7 % 11) + "," +
                    std::to_string(n / 77 % 5) + "," + std::to_string(n / 385) + "] " + which +
                    " " + std::to_string(n) + "\r\n";
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("m.txt"), text);
    CMessage catalogue;
    ASSERT_TRUE(catalogue.LoadSystemCatalogue(dir.File("m.txt")));
    for (int i = 0; i < 3000; ++i) {
        const int n = (i * 1777) % 3000;
        ASSERT_EQ(catalogue.GetMessage(n % 7, n / 7 % 11, n / 77 % 5, n / 385),
                  "new " + std::to_string(n));
    }
    EXPECT_EQ(catalogue.GetMessage(6, 10, 4, 8), "");  // a place no line names
}

TEST(Catalogue, EmptyMissingAndUnnamedFiles) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("empty.txt"), "");
    testsupport::WriteBytes(dir.File("bom-only.txt"), "\xFF\xFE");
    CMessage catalogue;
    EXPECT_TRUE(catalogue.LoadSystemCatalogue(dir.File("empty.txt")));
    EXPECT_EQ(catalogue.GetMessage(0, 0), "");
    EXPECT_EQ(catalogue.GetMessage(1, 1), "");
    EXPECT_TRUE(catalogue.LoadSystemCatalogue(dir.File("bom-only.txt")));
    EXPECT_EQ(catalogue.GetMessage(0, 0), "");

    EXPECT_FALSE(catalogue.LoadSystemCatalogue(dir.File("missing.txt")));
    EXPECT_EQ(catalogue.GetTexts(), nullptr);
    EXPECT_FALSE(catalogue.LoadSystemCatalogue(""));
    EXPECT_EQ(catalogue.GetMessage(0, 0), "");
    // Indexes outside the language list load nothing and do not extend it.
    EXPECT_FALSE(catalogue.LoadLanguage(1));
    EXPECT_FALSE(catalogue.LoadLanguage(-1));
    EXPECT_EQ(catalogue.GetLanguages()->GetCount(), 1u);
}

TEST(Catalogue, HostileHeadersAreIgnoredWithoutSizingHugeTables) {
    testsupport::TempDir dir;
    std::string text =
        "[4000000000,0,0,0] wraps\n"
        "[0,-1,0,0] negative\n"
        "[99999999999999999999999,1] overflow\n"
        "[65536,0] above the limit\n"
        "[1,1 no closing bracket\n"
        "[]\n[\n[,] x\n";
    // Each of these is allowed alone but adds some 200,000 places; together
    // they would pass the budget, so the later ones are refused.
    for (int i = 0; i < 20; ++i) text += "[0," + std::to_string(i) + ",65535,65535] wide\n";
    text += "[1,1] still read\n";
    testsupport::WriteBytes(dir.File("m.txt"), text);
    CMessage catalogue;
    ASSERT_TRUE(catalogue.LoadSystemCatalogue(dir.File("m.txt")));
    EXPECT_EQ(catalogue.GetMessage(1, 1), "still read");
    EXPECT_EQ(catalogue.GetMessage(0, 0, 65535, 65535), "wide");
    EXPECT_EQ(catalogue.GetMessage(0, 19, 65535, 65535), "");
    EXPECT_EQ(catalogue.GetMessage(0, 0xFFFFFFFFu, 0, 0), "");
    EXPECT_EQ(catalogue.GetTexts()->GetSize(), 2u);

    CMessage::TYPE_MsgIndexe message;
    EXPECT_TRUE(CMessage::ParseMessageLine(u"[65535,65535,65535,65535] edge", message));
    EXPECT_EQ(message.k4, 65535u);
    EXPECT_FALSE(CMessage::ParseMessageLine(u"[65535,65535,65535,65536] edge", message));
}

// Single-byte lines are parsed as bytes; each must give what the line widened
// unit by unit gives: keys, refusals, blanks, the "\\t" escape, and bytes from
// 0x80 to 0x9F, which the code page maps on their own.
TEST(ParseMessageBytes, GivesWhatTheWidenedLineGives) {
    const std::string lines[] = {"[1,2] plain",
                                 "[ 1 2 3 4 ]\t text\\tafter\r\n",
                                 "[1,2,3] three",
                                 "[-1,2] negative",
                                 "[1,70000] big",
                                 "no bracket",
                                 "[1,2 unclosed",
                                 "[+7, 8]x",
                                 "[1,2]",
                                 std::string("[1,2] zero\0after", 16),
                                 "[3,4] \x80\x81\x8d\x9f\xa0\xe9\xff end\t\r",
                                 "[5,6] \\",
                                 "["};
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        std::u16string wide;
        for (char ch : line) wide += static_cast<char16_t>(static_cast<unsigned char>(ch));
        CMessage::TYPE_MsgIndexe fromBytes;
        CMessage::TYPE_MsgIndexe fromWide;
        const bool parsed = CMessage::ParseMessageLine(wide, fromWide);
        ASSERT_EQ(CMessage::ParseMessageBytes(line, fromBytes), parsed);
        if (!parsed)
            continue;
        EXPECT_EQ(
            std::vector<std::uint32_t>({fromBytes.k1, fromBytes.k2, fromBytes.k3, fromBytes.k4}),
            std::vector<std::uint32_t>({fromWide.k1, fromWide.k2, fromWide.k3, fromWide.k4}));
        EXPECT_EQ(fromBytes.text, fromWide.text);
    }
}

TEST(LanguageList, NamesFilesAndLinesFollowTheListRules) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("lang.txt"),
                            "A=x.txt\n"
                            "B = y.txt\r\n"
                            "C=z.txt\x01junk\n"
                            "no equals sign\n"
                            "\n"
                            "D=E=f.txt\n"
                            "F=Fran\xE7"
                            "ais.txt\n"
                            "G=last");
    CMessage catalogue;
    ASSERT_TRUE(catalogue.LoadLanguageList(dir.File("lang.txt")));
    EXPECT_EQ(catalogue.GetFallback(), "Unknown message");
    const std::string list = dir.File("lang.txt");
    const std::string folder = list.substr(0, list.find_last_of("\\/")) + "\\";
    auto& languages = const_cast<KvListeTabFixe<CMessage::TYPE_Langue>&>(*catalogue.GetLanguages());
    ASSERT_EQ(languages.GetCount(), 8u);
    const struct {
        const char* name;
        std::string file;
    } expected[] = {{"A", folder + "x.txt"},
                    {"B ", folder + " y.txt"},
                    {"C", folder + "z.txt"},
                    {"no equals sign", ""},
                    {"", ""},
                    {"D", folder + "E=f.txt"},
                    {"F", folder + "Fran\xE7"
                                   "ais.txt"},
                    {"G", folder + "last"}};
    for (std::uint32_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(languages.GetAt(i)->id, static_cast<std::int32_t>(i));
        EXPECT_EQ(languages.GetAt(i)->name, expected[i].name);
        EXPECT_EQ(languages.GetAt(i)->file, CString(expected[i].file));
    }
    // The list loads no catalogue.
    EXPECT_EQ(catalogue.GetTexts(), nullptr);
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Unknown message");
}

TEST(LanguageList, SelectionLoadsTheNamedLanguageOnly) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("lang.txt"), "EN=en.txt\nFR = fr.txt\nXX=none.txt\n");
    testsupport::WriteBytes(dir.File("en.txt"), "[20,0,0,9] Torvane Batch\n");
    testsupport::WriteBytes(dir.File(" fr.txt"),
                            Encode(u"[20,0,0,9] Lot\u00E9\n", Encoding::kUtf16));

    CMessage catalogue;
    ASSERT_TRUE(catalogue.LoadLanguageList(dir.File("lang.txt")));
    EXPECT_FALSE(catalogue.SelectLanguage("DE"));
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Unknown message");

    EXPECT_TRUE(catalogue.SelectLanguage("EN"));
    EXPECT_EQ(catalogue.GetCurrentLanguage(), 0);
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Torvane Batch");
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 8), "Unknown message");
    // Names compare exactly: case and the blank before "=" count, and a
    // failed selection leaves the loaded language alone.
    EXPECT_FALSE(catalogue.SelectLanguage("en"));
    EXPECT_FALSE(catalogue.SelectLanguage("FR"));
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Torvane Batch");
    EXPECT_TRUE(catalogue.SelectLanguage("FR "));
    EXPECT_EQ(catalogue.GetCurrentLanguage(), 1);
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Lot\xE9");
    // A listed language whose file is missing leaves no texts at all.
    EXPECT_FALSE(catalogue.SelectLanguage("XX"));
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Unknown message");
}

TEST(LanguageList, MissingListLoadsNothing) {
    testsupport::TempDir dir;
    CMessage catalogue;
    EXPECT_FALSE(catalogue.LoadLanguageList(dir.File("missing.txt")));
    ASSERT_NE(catalogue.GetLanguages(), nullptr);
    EXPECT_EQ(catalogue.GetLanguages()->GetCount(), 0u);
    EXPECT_FALSE(catalogue.SelectLanguage(""));
    EXPECT_EQ(catalogue.GetMessage(2, 1, 1, 0), "Unknown message");
}

TEST(ReadCatalogueLine, Utf16LinesEndAtEitherLineEndAndAnOddByteIsDropped) {
    testsupport::TempDir dir;
    testsupport::WriteBytes(dir.File("u.txt"), std::string("\xFF\xFE"
                                                           "a\0\r\0\n\0b\0c",
                                                           11));
    std::FILE* stream = platform::OpenStream(dir.File("u.txt"), "rb");
    ASSERT_NE(stream, nullptr);
    std::u16string line;
    ASSERT_TRUE(CMessage::ReadCatalogueLine(stream, true, true, line));
    EXPECT_EQ(line, u"a");
    ASSERT_TRUE(CMessage::ReadCatalogueLine(stream, true, false, line));
    EXPECT_EQ(line, u"");
    ASSERT_TRUE(CMessage::ReadCatalogueLine(stream, true, false, line));
    EXPECT_EQ(line, u"b");  // the lone low byte of "c" makes no character
    EXPECT_FALSE(CMessage::ReadCatalogueLine(stream, true, false, line));
    std::fclose(stream);

    // A file of one byte has not even its byte-order mark.
    testsupport::WriteBytes(dir.File("short.txt"), "\xFF");
    stream = platform::OpenStream(dir.File("short.txt"), "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_FALSE(CMessage::ReadCatalogueLine(stream, true, true, line));
    std::fclose(stream);
}

}  // namespace
