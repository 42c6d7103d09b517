#include "chapfile/kv_file_string.h"

#include <gtest/gtest.h>

namespace {

KvFileString Classified(const char* text) {
    KvFileString line(text);
    line.Classify();
    return line;
}

TEST(KvFileStringClassify, TypeKeyAndValue) {
    const KvFileString::LineType header = KvFileString::kHeader;
    const KvFileString::LineType head = KvFileString::kChapterHead;
    const KvFileString::LineType value = KvFileString::kValue;
    struct Case {
        const char* text;
        KvFileString::LineType type;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"[[Liste utilisateurs]]", header, "entete", "Liste utilisateurs"},
        {"[element Utilisateur]", head, "element utilisateur", ""},
        // Every trailing "]" and blank goes; inner ones stay.
        {"[Societe ]] ] ", head, "societe", ""},
        {"[A:B]x]", head, "a:b]x", ""},
        {"[[T]]]", header, "entete", "T"},
        {"Version ft = 0.2", value, "version ft", "0.2"},
        // Only the first "=" splits; leading blanks and "=" go from the value.
        {"\tNom = = a=b  C \t", value, "nom", "a=b  C"},
        {"Texte sans egal", value, "texte sans egal", ""},
        {"= only value", value, "", "only value"},
        // The queue file passes lines with their line end: the value loses it.
        {"Nombre = 3\n", value, "nombre", "3"},
        {"", value, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KvFileString line = Classified(c.text);
        EXPECT_EQ(line.GetType(), c.type);
        EXPECT_EQ(line.GetKey(), c.key);
        EXPECT_EQ(line.GetValue(), c.value);
        EXPECT_EQ(line.Text(), c.text);
    }
    // A second Classify starts from scratch.
    KvFileString line = Classified("a = b");
    line.str() = "[c]";
    line.Classify();
    EXPECT_EQ(line.GetType(), KvFileString::kChapterHead);
    EXPECT_EQ(line.GetValue(), "");
}

// Wrapping of out-of-range and negative numbers is checked by the chaptered
// file's round trips; here, what the scan accepts and refuses.
TEST(KvFileStringValue, NumbersScanLikeTheCRuntime) {
    KvFileString line;
    int i = 7;
    unsigned u = 7;
    float f = 7;
    line.SetValue("  -42xyz");
    EXPECT_TRUE(line.ValueAsInt(i));
    EXPECT_TRUE(line.ValueAsUInt(u));
    EXPECT_EQ(i, -42);
    EXPECT_EQ(u, 4294967254u);
    line.SetValue("3000000000");  // a damaged file's huge count wraps, as the C runtime's does
    EXPECT_TRUE(line.ValueAsInt(i));
    EXPECT_EQ(i, static_cast<int>(3000000000u));
    line.SetValue("+2.5e1 rest");
    EXPECT_TRUE(line.ValueAsFloat(f));
    EXPECT_FLOAT_EQ(f, 25.0f);
    for (const char* bad : {"", "abc", "-", "+ 1", ". "}) {
        line.SetValue(bad);
        EXPECT_FALSE(line.ValueAsInt(i)) << bad;
        EXPECT_FALSE(line.ValueAsUInt(u)) << bad;
        EXPECT_FALSE(line.ValueAsFloat(f)) << bad;
    }
}

}  // namespace
