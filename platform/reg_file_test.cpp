#include "platform/reg_file.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/settings_store_testing.h"

namespace platform {
namespace {

using Root = SettingsRoot;

// The value as RegQueryValueExA hands it over, or "<missing>".
std::string Read(const RegistryTree& tree, Root root, const std::string& key,
                 const std::string& name) {
    const RegValues* values = tree.FindKey(root, key);
    if (values == nullptr)
        return "<no key>";
    const RegValue* value = RegistryTree::FindValue(*values, name);
    return value == nullptr ? "<missing>" : AnsiValueData(*value);
}

RegistryTree Parse(const std::string& bytes) {
    RegistryTree tree;
    EXPECT_TRUE(tree.ApplyRegFile(bytes));
    return tree;
}

TEST(RegFile, EncodingsGiveTheSameAnsiText) {
    const std::string body =
        "[HKEY_CURRENT_USER\\Software\\T]\r\n\"Name\"=\"caf\xE9\"\r\n"
        "\"Exp\"=hex(2):25,00,41,00,25,00,e9,00,00,00\r\n";
    // Version 5 in UTF-16 and in UTF-8 with and without a byte-order mark.
    std::string utf8Body = body;
    utf8Body.replace(utf8Body.find('\xE9'), 1, "\xC3\xA9");
    const std::string v5 = "Windows Registry Editor Version 5.00\r\n\r\n";
    // REGEDIT4: 8-bit text, and hex(2) bytes are ANSI.
    const std::string regedit4 =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n\"Name\"=\"caf\xE9\"\n"
        "\"Exp\"=hex(2):25,41,25,e9,00\n";
    for (const std::string& file :
         {Utf16File(v5 + body), v5 + utf8Body, "\xEF\xBB\xBF" + v5 + utf8Body, regedit4}) {
        RegistryTree tree = Parse(file);
        EXPECT_EQ(Read(tree, Root::CurrentUser, "Software\\T", "Name"),
                  std::string("caf\xE9\0", 5));
        EXPECT_EQ(Read(tree, Root::CurrentUser, "Software\\T", "Exp"), std::string("%A%\xE9\0", 5));
    }
}

// Byte for byte what Wine's regedit /e wrote for a key made with reg add:
// UTF-16LE, CRLF, string, dword, default and hex(2) values, a hex(2) value
// continued over lines (one byte pair cut by the line end), and a sub-key;
// the values as RegQueryValueExA gave them after regedit imported the file.
TEST(RegFile, ARegeditExportGivesWhatTheRegistryHolds) {
    RegistryTree tree = Parse(Utf16File(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrow Labs\\Torvane8 sample]\r\n"
        "@=\"default text\"\r\n"
        "\"Count\"=dword:00000041\r\n"
        "\"FILEUSERS\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,62,00,61,00,74,00,\\\r\n"
        "  63,00,68,00,5c,00,75,00,73,00,65,00,72,00,73,00,2e,00,74,00,78,00,74,00,00,\\\r\n"
        "  00\r\n"
        "\"LANGUAGE\"=\"Fran\347ais\"\r\n"
        "\"Quoted\"=\"say \\\"hi\\\" \\\\\\\\srv\\\\share\"\r\n"
        "\"REPSOFTWARE\"=\"C:\\\\Program Files\\\\Torvane8\\\\\"\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrow Labs\\Torvane8 sample\\Sub]\r\n"
        "\"Empty\"=\"\"\r\n"
        "\r\n"));
    const std::string key = "SOFTWARE\\Quarrow Labs\\Torvane8 sample";
    const std::pair<const char*, std::string> values[] = {
        {"REPSOFTWARE", std::string("C:\\Program Files\\Torvane8\\\0", 27)},
        {"LANGUAGE", std::string("Fran\347ais\0", 9)},
        {"Quoted", std::string("say \"hi\" \\\\srv\\share\0", 21)},
        {"FILEUSERS", std::string("%TEMP%\\batch\\users.txt\0", 23)},
        {"", std::string("default text\0", 13)},
        {"Count", std::string("A\0\0\0", 4)},
    };
    for (const auto& [name, data] : values)
        EXPECT_EQ(Read(tree, Root::LocalMachine, key, name), data) << name;
    EXPECT_EQ(Read(tree, Root::LocalMachine, key + "\\Sub", "Empty"), std::string(1, '\0'));
}

TEST(RegFile, NamesIgnoreCaseAndKeysHaveParents) {
    RegistryTree tree = Parse(
        "REGEDIT4\r\n[HKLM\\SOFTWARE\\Quarrow Labs\\T\xE9st\\]\r\n\"LanGuage\"=\"fr\"\r\n"
        "  @ = \"def\"  ; a comment\r\n");
    EXPECT_EQ(Read(tree, Root::LocalMachine, "software\\QUARROW labs\\T\xC9ST", "LANGUAGE"),
              std::string("fr\0", 3));
    EXPECT_EQ(Read(tree, Root::LocalMachine, "SOFTWARE\\Quarrow Labs\\T\xE9st", ""),
              std::string("def\0", 4));
    EXPECT_NE(tree.FindKey(Root::LocalMachine, "SOFTWARE\\Quarrow Labs"), nullptr);
    EXPECT_NE(tree.FindKey(Root::LocalMachine, ""), nullptr);
    EXPECT_EQ(tree.FindKey(Root::CurrentUser, "SOFTWARE"), nullptr);
    EXPECT_EQ(tree.FindKey(Root::LocalMachine, "SOFTWARE\\Quarrow"), nullptr);
}

TEST(RegFile, DeletionsAndLaterFilesWin) {
    RegistryTree tree = Parse(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S\\A]\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
        "[HKEY_LOCAL_MACHINE\\S\\A\\B]\n\"z\"=\"3\"\n[HKEY_LOCAL_MACHINE\\S\\A 2]\n\"w\"=\"4\"\n");
    EXPECT_TRUE(tree.ApplyRegFile(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S\\A 2]\n\"W\"=\"5\"\n\"v\"=-\n"
        "[-HKEY_LOCAL_MACHINE\\S\\A]\n[HKEY_LOCAL_MACHINE\\S\\C]\n\"x\"=\"6\"\n\"x\"=-\n"));
    EXPECT_EQ(tree.FindKey(Root::LocalMachine, "S\\A"), nullptr);
    EXPECT_EQ(tree.FindKey(Root::LocalMachine, "S\\A\\B"), nullptr);
    EXPECT_EQ(Read(tree, Root::LocalMachine, "S\\A 2", "w"), std::string("5\0", 2));
    EXPECT_EQ(Read(tree, Root::LocalMachine, "S\\C", "x"), "<missing>");
}

TEST(RegFile, DamagedContentKeepsWhatCameBefore) {
    RegistryTree tree;
    for (const std::string& notRegistry :
         {std::string("[HKEY_LOCAL_MACHINE\\S]\n\"x\"=\"1\"\n"),
          std::string("\x7F\x45LF\x02\x01\x01\0\0\0", 10), std::string()})
        EXPECT_FALSE(tree.ApplyRegFile(notRegistry)) << "no header: nothing applied";
    EXPECT_EQ(tree.KeyCount(), 0u);

    tree = Parse(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S]\n\"good\"=\"1\"\n"
        "\"open\"=\"no closing quote\n"
        "\"trail\"=\"x\" junk\n"
        "\"badhex\"=hex:4g,00\n"
        "\"bigdword\"=dword:123456789\n"
        "noquote=\"x\"\n"
        "[HKEY_NOWHERE\\S]\n\"lost\"=\"1\"\n"
        "[HKEY_LOCAL_MACHINE\\S\n"
        "\"afterbadsection\"=\"1\"\n"
        "[HKEY_LOCAL_MACHINE\\S]\n"
        "\"cut\"=hex(2):41,00,\\\n");
    EXPECT_EQ(Read(tree, Root::LocalMachine, "S", "good"), std::string("1\0", 2));
    for (const char* name :
         {"open", "trail", "badhex", "bigdword", "noquote", "afterbadsection", "cut"})
        EXPECT_EQ(Read(tree, Root::LocalMachine, "S", name), "<missing>") << name;
    EXPECT_EQ(tree.FindKey(Root::LocalMachine, "S\\lost"), nullptr);

    // A UTF-16 file cut in the middle of a character and of a line.
    std::string full = Utf16File(
        "Windows Registry Editor Version 5.00\r\n[HKCU\\S]\r\n\"a\"=\"1\"\r\n\"b\"=\"22\"");
    RegistryTree cut = Parse(full.substr(0, full.size() - 5));
    EXPECT_EQ(Read(cut, Root::CurrentUser, "S", "a"), std::string("1\0", 2));
    EXPECT_EQ(Read(cut, Root::CurrentUser, "S", "b"), "<missing>");
}

TEST(RegFile, HugeLinesAreHarmless) {
    std::string noise =
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S]\n\"big\"=hex:" + std::string(3000000, 'a') + "\n";
    noise += "\"long\"=\"" + std::string(1000000, 'x') + "\"\n";
    RegistryTree tree = Parse(noise);
    EXPECT_EQ(Read(tree, Root::LocalMachine, "S", "long").size(), 1000001u);
    EXPECT_EQ(Read(tree, Root::LocalMachine, "S", "big"), "<missing>");
}

}  // namespace
}  // namespace platform
