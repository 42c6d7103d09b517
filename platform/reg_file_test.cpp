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

TEST(RegFile, HugeLinesAndBinaryNoiseAreHarmless) {
    std::string noise = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S]\n";
    for (int i = 0; i < 200000; ++i) noise += static_cast<char>((i * 7919) % 251);
    noise += "\n[HKEY_LOCAL_MACHINE\\S]\n\"big\"=hex:" + std::string(3000000, 'a') + "\n";
    noise += "\"long\"=\"" + std::string(1000000, 'x') + "\"\n";
    RegistryTree tree = Parse(noise);
    EXPECT_EQ(Read(tree, Root::LocalMachine, "S", "long").size(), 1000001u);
    EXPECT_EQ(Read(tree, Root::LocalMachine, "S", "big"), "<missing>");
}

}  // namespace
}  // namespace platform
