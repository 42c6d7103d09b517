// The settings reader on the host's own store, through the test helper:
// .reg files of both encodings on Linux, the registry itself under Wine.
#include "messages/regkey.h"

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/settings_store_testing.h"

namespace {

using platform::RegFileEncoding;
using platform::SetSettingsString;
using Root = platform::SettingsRoot;

const char kProductKey[] = "SOFTWARE\\Quarrow Labs\\Torvane8\\";

// A regular expression matching `text` literally, in the syntax shared by
// POSIX extended expressions and GoogleTest's simple ones on Windows.
std::string Literal(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (std::string_view(".[](){}*+?^$|\\").find(ch) != std::string_view::npos)
            out += '\\';
        out += ch;
    }
    return out;
}

class ReadValue : public testing::TestWithParam<RegFileEncoding> {
  protected:
    void Machine(const char* name, const std::string& value) {
        ASSERT_TRUE(SetSettingsString(Root::LocalMachine, kProductKey, name, value));
    }
    void User(const char* name, const std::string& value) {
        ASSERT_TRUE(SetSettingsString(Root::CurrentUser, kProductKey, name, value));
    }

    platform::ScopedTestSettings m_settings{GetParam()};
};

TEST_P(ReadValue, UserSettingsFallBackToTheMachine) {
    Machine("LANGUAGE", "English");
    User("LANGUAGE",
         "Fran\xE7"
         "ais");
    EXPECT_EQ(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::CurrentUser),
              "Fran\xE7"
              "ais");
    EXPECT_EQ(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::LocalMachine), "English");

    User("LANGUAGE", "");  // present but empty
    EXPECT_EQ(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::CurrentUser), "English");

    ASSERT_TRUE(platform::DeleteSettingsKey(Root::CurrentUser, kProductKey));
    EXPECT_EQ(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::CurrentUser), "English");

    // Missing in both places while both keys exist: empty, no message.
    User("Other", "x");
    EXPECT_EQ(g_regKey.ReadValue("FILEUSERS", kProductKey, Root::CurrentUser), "");
    EXPECT_EQ(g_regKey.ReadValue("FILEUSERS", kProductKey, Root::LocalMachine), "");
    // Other roots are read once, without fallback or fatal error.
    EXPECT_EQ(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::Users), "");
    EXPECT_EQ(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::ClassesRoot), "");
}

TEST_P(ReadValue, ValuesOfTwoHundredFiftySixCharactersReadAsEmpty) {
    Machine("Fits", std::string(255, 'a'));
    Machine("TooLong", std::string(256, 'b'));
    Machine("Huge", std::string(5000, 'c'));
    EXPECT_EQ(g_regKey.ReadValue("Fits", kProductKey, Root::LocalMachine), std::string(255, 'a'));
    EXPECT_EQ(g_regKey.ReadValue("TooLong", kProductKey, Root::LocalMachine), "");
    EXPECT_EQ(g_regKey.ReadValue("Huge", kProductKey, Root::LocalMachine), "");
    // Too long for the user: the machine's value is taken.
    User("Path", std::string(300, 'u'));
    Machine("Path", "C:\\m\\");
    EXPECT_EQ(g_regKey.ReadValue("Path", kProductKey, Root::CurrentUser), "C:\\m\\");
}

TEST_P(ReadValue, ExpandsTheResultAndIgnoresTheFinalSeparator) {
    ASSERT_TRUE(platform::SetEnv("TV_REGKEY_TEMP", "/tmp/tv"));
    Machine("BATCH", "%TV_REGKEY_TEMP%\\batch");
    User("UserPath", "%TV_REGKEY_TEMP%\\u");
    EXPECT_EQ(g_regKey.ReadValue("BATCH", kProductKey, Root::LocalMachine), "/tmp/tv\\batch");
    EXPECT_EQ(g_regKey.ReadValue("UserPath", kProductKey, Root::CurrentUser), "/tmp/tv\\u");
    for (const char* key : {"SOFTWARE\\Quarrow Labs\\Torvane8", "SOFTWARE\\Quarrow Labs\\Torvane8/",
                            "software\\quarrow labs\\TORVANE8\\"})
        EXPECT_EQ(g_regKey.ReadValue("BATCH", key, Root::LocalMachine), "/tmp/tv\\batch") << key;
    platform::UnsetEnv("TV_REGKEY_TEMP");
}

TEST_P(ReadValue, MissingMachineKeyEndsTheProgram) {
    EXPECT_EXIT(g_regKey.ReadValue("FILEMSGSYS", kProductKey, Root::LocalMachine),
                testing::ExitedWithCode(0),
                Literal(": Impossible to read the register keySOFTWARE\\Quarrow Labs\\Torvane8\\"));
    // Even when the user's key is there.
    User("FILEMSGSYS", "x");
    EXPECT_EXIT(
        g_regKey.ReadValue("FILEMSGSYS", "SOFTWARE\\Quarrow Labs\\Torvane8", Root::LocalMachine),
        testing::ExitedWithCode(0),
        Literal("Impossible to read the register keySOFTWARE\\Quarrow Labs\\Torvane8") + "\\s");
}

TEST_P(ReadValue, KeyMissingForUserAndMachineEndsTheProgramExceptForWorkspaces) {
    // "clé": 0xE9 in the ANSI code page, one byte; UTF-8 on a Linux terminal, two.
    EXPECT_EXIT(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::CurrentUser),
                testing::ExitedWithCode(0),
                ": Impossible d'ouvrir la cl..? " + Literal("SOFTWARE\\Quarrow Labs\\Torvane8\\"));
    for (const char* name : {"Workspace0", "Workspace1", "Workspace2", "Workspace3"})
        EXPECT_EQ(g_regKey.ReadValue(name, kProductKey, Root::CurrentUser), "") << name;
    EXPECT_EXIT(g_regKey.ReadValue("workspace2", kProductKey, Root::CurrentUser),
                testing::ExitedWithCode(0), "Impossible d'ouvrir");
    EXPECT_EXIT(g_regKey.ReadValue("Workspace4", kProductKey, Root::CurrentUser),
                testing::ExitedWithCode(0), "Impossible d'ouvrir");

    // A user value that is set needs no machine key; an empty one does.
    User("LANGUAGE", "Deutsch");
    EXPECT_EQ(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::CurrentUser), "Deutsch");
    User("LANGUAGE", "");
    EXPECT_EXIT(g_regKey.ReadValue("LANGUAGE", kProductKey, Root::CurrentUser),
                testing::ExitedWithCode(0), "Impossible d'ouvrir");
}

TEST_P(ReadValue, SubKeyTooLongForItsBufferCannotBeOpened) {
    std::string longKey = "SOFTWARE\\" + std::string(246, 'k');  // 255 characters
    ASSERT_TRUE(SetSettingsString(Root::LocalMachine, longKey, "V", "ok"));
    EXPECT_EQ(g_regKey.ReadValue("V", longKey.c_str(), Root::LocalMachine), "ok");
    std::string tooLong = longKey + "\\";  // 256 characters: not even cut to fit
    EXPECT_EXIT(g_regKey.ReadValue("V", tooLong.c_str(), Root::LocalMachine),
                testing::ExitedWithCode(0), "Impossible to read the register key");
}

INSTANTIATE_TEST_SUITE_P(Encodings, ReadValue,
                         testing::Values(RegFileEncoding::Utf16, RegFileEncoding::Ansi),
                         [](const testing::TestParamInfo<RegFileEncoding>& info) {
                             return info.param == RegFileEncoding::Utf16 ? "Utf16" : "Ansi";
                         });

}  // namespace
