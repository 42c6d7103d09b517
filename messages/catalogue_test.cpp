#include "messages/catalogue.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/codepage.h"
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

class Catalogue : public testing::Test {
  protected:
    // Loads `bytes` as the system catalogue.
    bool Load(const std::string& bytes) {
        testsupport::WriteBytes(m_dir.File("msg.txt"), bytes);
        return m_catalogue.LoadSystemCatalogue(m_dir.File("msg.txt"));
    }
    testsupport::TempDir m_dir;
    CMessage m_catalogue;
};

class CatalogueEncodings : public Catalogue, public testing::WithParamInterface<Encoding> {
  protected:
    bool Load(const std::u16string& text) { return Catalogue::Load(Encode(text, GetParam())); }
};

INSTANTIATE_TEST_SUITE_P(AllEncodings, CatalogueEncodings,
                         testing::Values(Encoding::kSingleByte, Encoding::kSingleByteCrLf,
                                         Encoding::kUtf16, Encoding::kUtf16CrLf));

// Each line, and the message then found at its key (the last line of a key wins).
TEST_P(CatalogueEncodings, HeaderFormsTextRulesAndDuplicatesGiveTheSameMessages) {
    const struct {
        std::u16string line;
        std::array<std::uint32_t, 4> key;
        std::string message;
    } lines[] = {
        {u"; comment line", {0, 0, 0, 0}, ""},
        {u"", {0, 0, 0, 0}, ""},
        {u"[20,0,0,9]  abc\t", {20, 0, 0, 9}, "abc"},
        {u"[ 20 0 0 1 ]first", {20, 0, 0, 1}, "second "},
        {u"[1 5] two numbers", {1, 5}, "two numbers"},
        {u"[1 2 3] only two taken", {1, 2}, "only two taken"},
        {u"[1,6,7] comma pair", {1, 6}, "comma pair"},
        {u"[2,1,0,0,9] five", {2, 1, 0, 0}, "five"},
        {u"[7] one number", {7, 0}, ""},
        {u"[2,,3] refused", {2, 0}, ""},
        {u"[+3,-0,0,1] signs", {3, 0, 0, 1}, "signs"},
        {u"[20;0;0;2] refused", {20, 0, 0, 2}, ""},
        {u"[3 ,4] refused", {3, 4}, ""},
        {u" [3,5] refused", {3, 5}, ""},
        {u"[-1,2] refused", {1, 2}, "only two taken"},
        {u"[1,70000] refused", {1, 70000}, ""},
        {u"[1,8 refused", {1, 8}, ""},
        {u"[0,0,0,65535] edge", {0, 0, 0, 65535}, "edge"},
        {u"[20, 0, 0, 1] second \t\r", {20, 0, 0, 1}, "second "},
        {u"[4,1]a\\tb\\\\t\\x", {4, 1}, "a\tb\\\t\\x"},
        {u"[4,2]\t \\tlead", {4, 2}, "\tlead"},
        {u"[4,3]Soci\u00E9t\u00E9 100%", {4, 3}, "Soci\xE9t\xE9 100%"},
        {u"[4,4]x]y", {4, 4}, "x]y"},
        {u"[4,5]", {4, 5}, ""},  // an empty text reads as missing
        {u"[4,6]ab\0cd"s, {4, 6}, "ab"},
        {u"[5,6] \\", {5, 6}, "\\"},
        // 0x80 to 0x9F are control characters; the code page maps some on their own.
        {u"[4,8]\u0080\u0081\u008d\u009f\u00a0\u00e9\u00ff",
         {4, 8},
         platform::WideToAnsi(u"\u0080\u0081\u008d\u009f\u00a0\u00e9\u00ff")},
        {u"[4,7] last", {4, 7}, "last"},  // no line end after it
    };
    std::u16string text;
    for (const auto& line : lines) text += line.line + u"\n";
    text.pop_back();
    ASSERT_TRUE(Load(text));
    for (const auto& [line, key, message] : lines)
        EXPECT_EQ(m_catalogue.GetMessage(key[0], key[1], key[2], key[3]), message)
            << std::string(line.begin(), line.end());
    EXPECT_EQ(m_catalogue.GetTexts()->PlaceAt(1)->GetSize(), 7u);  // refused lines take none
}

// Each lookup peels one pair of quotes from the stored text, also across the
// moment a single-byte catalogue asked for many keys builds its table.
TEST_P(CatalogueEncodings, AStoredTextKeepsItsPeeledQuotesWhateverServesTheLookup) {
    std::u16string text;
    for (int i = 0; i < 100; ++i)
        text += u"[1," + std::u16string(1, u'0' + i / 10) + std::u16string(1, u'0' + i % 10) +
                u"] \"\"q\"\"\n";
    ASSERT_TRUE(Load(text));
    std::vector<std::string> first, second;
    for (std::uint32_t i = 0; i < 100; ++i) first.push_back(m_catalogue.GetMessage(1, i).str());
    for (std::uint32_t i = 0; i < 100; ++i) second.push_back(m_catalogue.GetMessage(1, i).str());
    EXPECT_EQ(first, std::vector<std::string>(100, "\"q\""));
    EXPECT_EQ(second, std::vector<std::string>(100, "q"));
}

TEST_P(CatalogueEncodings, OverlongLinesAreCutAndReadingGoesOn) {
    // Pieces of 2047 characters keep 1024; one that starts with "[" is a message.
    std::u16string text = u"[1,1] " + std::u16string(5000, u'a') + u"\n[1,2] ok\n";
    text += u"[1,3] " + std::u16string(2047 - 6, u'b') + u"[1,4] tail\n";
    ASSERT_TRUE(Load(text));
    EXPECT_EQ(m_catalogue.GetMessage(1, 1), std::string(1018, 'a'));
    EXPECT_EQ(m_catalogue.GetMessage(1, 2), "ok");
    EXPECT_EQ(m_catalogue.GetMessage(1, 3), std::string(1018, 'b'));
    EXPECT_EQ(m_catalogue.GetMessage(1, 4), "tail");
}

TEST_P(CatalogueEncodings, LinesEndingRightAtTheCutsKeepTheLinesAfterThem) {
    // 1024 characters with the line feed (all kept), 2047 (the longest piece)
    // and 2048 (a piece, then the line feed alone); in the CR LF encodings
    // each ends in "\r\n", a character more in the file than in the line.
    std::u16string text = u"[2,1] " + std::u16string(1017, u'x') + u"\n";
    text += u"[2,2] " + std::u16string(2040, u'y') + u"\n[2,3] after\n";
    text += u"[2,4] " + std::u16string(2041, u'z') + u"\n[2,5] last\n";
    ASSERT_TRUE(Load(text));
    EXPECT_EQ(m_catalogue.GetMessage(2, 1), std::string(1017, 'x'));
    EXPECT_EQ(m_catalogue.GetMessage(2, 2), std::string(1018, 'y'));
    EXPECT_EQ(m_catalogue.GetMessage(2, 3), "after");
    EXPECT_EQ(m_catalogue.GetMessage(2, 4), std::string(1018, 'z'));
    EXPECT_EQ(m_catalogue.GetMessage(2, 5), "last");
}

TEST_F(Catalogue, QuotesAreStrippedFromTheStoredTextOnEachLookup) {
    ASSERT_TRUE(
        Load("[1,1] \"abc\"\n[1,2] \" padded \"\n[1,3] \"\"twice\"\"\n"
             "[1,4] \"\n[1,5] \"\"\n[1,6] half\"\n"));
    const std::pair<std::uint32_t, const char*> lookups[] = {
        {1, "abc"},   {2, " padded "}, {2, " padded "}, {3, "\"twice\""}, {3, "twice"},
        {3, "twice"}, {4, ""},         {5, ""},         {6, "half"}};
    for (const auto& [k2, text] : lookups) EXPECT_EQ(m_catalogue.GetMessage(1, k2), text) << k2;
}

// Where the host reads the file's bytes as they are, the texts stay in the
// file until looked up: past the first blocks they are found where they
// stand, and a file cut short since its load gives what is left (here
// nothing) rather than a crash. Elsewhere they were copied at the load.
TEST_F(Catalogue, TextsAreFoundPastTheFirstBlocksAndAFileCutShortSinceGivesWhatIsLeft) {
    std::string text;
    for (int k2 = 0; k2 < 3000; ++k2)
        text += "[7," + std::to_string(k2) + "] text number " + std::to_string(k2) + " \r\n";
    ASSERT_TRUE(Load(text));
    for (int k2 : {0, 1500, 2998})
        EXPECT_EQ(m_catalogue.GetMessage(7, k2), "text number " + std::to_string(k2) + " ");
    testsupport::WriteBytes(m_dir.File("msg.txt"), "[7,0] x\n");
    EXPECT_EQ(m_catalogue.GetMessage(7, 10),
              platform::LineReadKeepsPositions() ? "" : "text number 10 ");
    EXPECT_EQ(m_catalogue.GetMessage(7, 1500), "text number 1500 ") << "taken before";
}

TEST_F(Catalogue, SparseKeysGetDenseTablesAndFallBackAtEveryLevel) {
    ASSERT_TRUE(Load("[2,0,0,5] five\n[2,1,0,0] other\n"));
    EXPECT_EQ(m_catalogue.GetMessage(2, 0, 0, 5), "five");
    EXPECT_EQ(m_catalogue.GetMessage(2, 1, 0, 0), "other");
    // An empty place, then past the last k4, k2, k3 and k1.
    const std::array<std::uint32_t, 4> missing[] = {{2, 0, 0, 0}, {2, 0, 0, 6},
                                                    {2, 2, 0, 0}, {2, 0, 1, 0},
                                                    {3, 0, 0, 0}, {0xFFFFFFFFu, 0, 0, 0}};
    for (const auto& [k1, k2, k3, k4] : missing)
        EXPECT_EQ(m_catalogue.GetMessage(k1, k2, k3, k4), "") << k1 << k2 << k3 << k4;
}

// A one-byte file has not even its byte-order mark; an odd last byte is no character.
TEST_F(Catalogue, EmptyShortMissingAndUnnamedFiles) {
    for (const std::string& bytes : {""s, "\xFF\xFE"s, "\xFF"s}) {
        EXPECT_TRUE(Load(bytes));
        EXPECT_EQ(m_catalogue.GetMessage(0, 0), "");
    }
    ASSERT_TRUE(Load(Encode(u"[1,1]a\r\n[1,2]b", Encoding::kUtf16) + "c"));
    EXPECT_EQ(m_catalogue.GetMessage(1, 1), "a");
    EXPECT_EQ(m_catalogue.GetMessage(1, 2), "b");

    EXPECT_FALSE(m_catalogue.LoadSystemCatalogue(m_dir.File("missing.txt")));
    EXPECT_EQ(m_catalogue.GetTexts(), nullptr);
    EXPECT_FALSE(m_catalogue.LoadSystemCatalogue(""));
    EXPECT_EQ(m_catalogue.GetMessage(0, 0), "");
}

TEST_F(Catalogue, HostileHeadersAreIgnoredWithoutSizingHugeTables) {
    std::string text =
        "[4000000000,0,0,0] wraps\n[0,-1,0,0] negative\n[99999999999999999999999,1] overflow\n"
        "[65536,0] above the limit\n[1,1 no closing bracket\n[]\n[\n[,] x\n";
    // Each adds some 200,000 places: past the budget, the later ones are refused.
    for (int i = 0; i < 20; ++i) text += "[0," + std::to_string(i) + ",65535,65535] wide\n";
    ASSERT_TRUE(Load(text + "[1,1] still read\n"));
    EXPECT_EQ(m_catalogue.GetMessage(1, 1), "still read");
    EXPECT_EQ(m_catalogue.GetMessage(0, 0, 65535, 65535), "wide");
    EXPECT_EQ(m_catalogue.GetMessage(0, 19, 65535, 65535), "");
    EXPECT_EQ(m_catalogue.GetMessage(0, 0xFFFFFFFFu, 0, 0), "");
    EXPECT_EQ(m_catalogue.GetTexts()->GetSize(), 2u);
}

// Five wide level-2 places take 983,041 of the 1,048,576 places; a last line
// [1,0,0,n] adds 4 + n. Both encodings draw the line at the same place.
TEST_F(Catalogue, TheBudgetEndsAtItsLastPlace) {
    std::u16string wide;
    for (int j = 0; j < 5; ++j) wide += u"[0," + std::u16string(1, u'0' + j) + u",65535,65535]w\n";
    for (const Encoding encoding : {Encoding::kSingleByte, Encoding::kUtf16}) {
        ASSERT_TRUE(Load(Encode(wide + u"[1,0,0,65531]last", encoding)));
        EXPECT_EQ(m_catalogue.GetMessage(1, 0, 0, 65531), "last");
        ASSERT_TRUE(Load(Encode(wide + u"[1,0,0,65532]last", encoding)));
        EXPECT_EQ(m_catalogue.GetMessage(1, 0, 0, 65532), "");
        EXPECT_EQ(m_catalogue.GetMessage(0, 4, 65535, 65535), "w");
    }
}

// Each line a language: name up to "=", file beside the list up to a control byte.
TEST_F(Catalogue, LanguageListsAndSelection) {
    testsupport::WriteBytes(m_dir.File("lang.txt"),
                            "EN=en.txt\nFR = fr.txt\r\nC=z.txt\x01junk\nno equals sign\n\n"
                            "D=E=f.txt\nF=Fran\xE7"
                            "ais.txt\nXX=none");
    testsupport::WriteBytes(m_dir.File("en.txt"), "[20,0,0,9] Torvane Batch\n");
    testsupport::WriteBytes(m_dir.File(" fr.txt"),
                            Encode(u"[20,0,0,9] Lot\u00E9\n", Encoding::kUtf16));
    CMessage& catalogue = m_catalogue;
    ASSERT_TRUE(catalogue.LoadLanguageList(m_dir.File("lang.txt")));
    const std::string list = m_dir.File("lang.txt");
    const std::string folder = list.substr(0, list.find_last_of("\\/")) + "\\";
    auto& languages = const_cast<KvListeTabFixe<CMessage::TYPE_Langue>&>(*catalogue.GetLanguages());
    std::string got;  // name=file of each language, the file without its folder
    for (int i = 0; i < static_cast<int>(languages.GetCount()); ++i) {
        const std::string& file = languages.GetAt(i)->file.str();
        EXPECT_TRUE(file.empty() || file.rfind(folder, 0) == 0) << file;
        got += languages.GetAt(i)->name.str() + "=" +
               file.substr(file.empty() ? 0 : folder.size()) + "|";
    }
    EXPECT_EQ(got,
              "EN=en.txt|FR = fr.txt|C=z.txt|no equals sign=|=|D=E=f.txt|F=Fran\xE7"
              "ais.txt|XX=none|");
    EXPECT_EQ(catalogue.GetTexts(), nullptr);  // the list loads no catalogue
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Unknown message");
    EXPECT_FALSE(catalogue.SelectLanguage("DE"));

    EXPECT_TRUE(catalogue.SelectLanguage("EN"));
    EXPECT_EQ(catalogue.GetCurrentLanguage(), 0);
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Torvane Batch");
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 8), "Unknown message");
    // A failed selection leaves the loaded language alone.
    EXPECT_FALSE(catalogue.SelectLanguage("en"));
    EXPECT_FALSE(catalogue.SelectLanguage("FR"));
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Torvane Batch");
    EXPECT_TRUE(catalogue.SelectLanguage("FR "));
    EXPECT_EQ(catalogue.GetCurrentLanguage(), 1);
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Lot\xE9");
    // A listed language whose file is missing leaves no texts at all.
    EXPECT_FALSE(catalogue.SelectLanguage("XX"));
    EXPECT_EQ(catalogue.GetMessage(20, 0, 0, 9), "Unknown message");

    EXPECT_FALSE(catalogue.LoadLanguageList(m_dir.File("missing.txt")));
    EXPECT_EQ(catalogue.GetLanguages()->GetCount(), 0u);
    EXPECT_FALSE(catalogue.SelectLanguage(""));
}

}  // namespace
