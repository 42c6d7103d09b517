// The settings reader on the host's own store, through the test helper:
// .reg files of both encodings on Linux, the registry itself under Wine.
#include "messages/regkey.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/environment.h"
#include "platform/settings_store_testing.h"

namespace {

using platform::RegFileEncoding;
using platform::SetSettingsString;
using Root = platform::SettingsRoot;

const char kProductKey[] = "SOFTWARE\\Quarrow Labs\\Torvane8\\";

// The value of a read that must succeed.
CString Read(const char* name, const char* key, Root root) {
    CString value("left over");
    platform::Status status = ReadSettingsValue(name, key, root, &value);
    EXPECT_TRUE(status.ok()) << status.ToString();
    return value;
}

// The text to show of a read that must fail for a missing product key.
std::string Missing(const char* name, const char* key, Root root) {
    CString value("left over");
    platform::Status status = ReadSettingsValue(name, key, root, &value);
    EXPECT_EQ(status.code(), platform::Status::Code::kSettingsMissing) << name;
    EXPECT_EQ(value, "") << name;
    return status.message();
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
    EXPECT_EQ(Read("LANGUAGE", kProductKey, Root::CurrentUser),
              "Fran\xE7"
              "ais");
    EXPECT_EQ(Read("LANGUAGE", kProductKey, Root::LocalMachine), "English");

    User("LANGUAGE", "");  // present but empty
    EXPECT_EQ(Read("LANGUAGE", kProductKey, Root::CurrentUser), "English");

    ASSERT_TRUE(platform::DeleteSettingsKey(Root::CurrentUser, kProductKey));
    EXPECT_EQ(Read("LANGUAGE", kProductKey, Root::CurrentUser), "English");

    // Missing in both places while both keys exist: empty, no message.
    User("Other", "x");
    EXPECT_EQ(Read("FILEUSERS", kProductKey, Root::CurrentUser), "");
    EXPECT_EQ(Read("FILEUSERS", kProductKey, Root::LocalMachine), "");
    // Other roots are read once, without fallback or fatal error.
    EXPECT_EQ(Read("LANGUAGE", kProductKey, Root::Users), "");
    EXPECT_EQ(Read("LANGUAGE", kProductKey, Root::ClassesRoot), "");
}

TEST_P(ReadValue, ValuesOfTwoHundredFiftySixCharactersReadAsEmpty) {
    Machine("Fits", std::string(255, 'a'));
    Machine("TooLong", std::string(256, 'b'));
    Machine("Huge", std::string(5000, 'c'));
    EXPECT_EQ(Read("Fits", kProductKey, Root::LocalMachine), std::string(255, 'a'));
    EXPECT_EQ(Read("TooLong", kProductKey, Root::LocalMachine), "");
    EXPECT_EQ(Read("Huge", kProductKey, Root::LocalMachine), "");
    // Too long for the user: the machine's value is taken.
    User("Path", std::string(300, 'u'));
    Machine("Path", "C:\\m\\");
    EXPECT_EQ(Read("Path", kProductKey, Root::CurrentUser), "C:\\m\\");
}

TEST_P(ReadValue, ExpandsTheResultAndIgnoresTheFinalSeparator) {
    ASSERT_TRUE(platform::SetEnv("TV_REGKEY_TEMP", "/tmp/tv"));
    Machine("BATCH", "%TV_REGKEY_TEMP%\\batch");
    User("UserPath", "%TV_REGKEY_TEMP%\\u");
    EXPECT_EQ(Read("BATCH", kProductKey, Root::LocalMachine), "/tmp/tv\\batch");
    EXPECT_EQ(Read("UserPath", kProductKey, Root::CurrentUser), "/tmp/tv\\u");
    for (const char* key : {"SOFTWARE\\Quarrow Labs\\Torvane8", "SOFTWARE\\Quarrow Labs\\Torvane8/",
                            "software\\quarrow labs\\TORVANE8\\"})
        EXPECT_EQ(Read("BATCH", key, Root::LocalMachine), "/tmp/tv\\batch") << key;
    platform::UnsetEnv("TV_REGKEY_TEMP");
}

TEST_P(ReadValue, MissingMachineKeyIsFatal) {
    EXPECT_EQ(Missing("FILEMSGSYS", kProductKey, Root::LocalMachine),
              "Impossible to read the register keySOFTWARE\\Quarrow Labs\\Torvane8\\");
    // Even when the user's key is there; the key is named as it was given.
    User("FILEMSGSYS", "x");
    EXPECT_EQ(Missing("FILEMSGSYS", "SOFTWARE\\Quarrow Labs\\Torvane8", Root::LocalMachine),
              "Impossible to read the register keySOFTWARE\\Quarrow Labs\\Torvane8");
}

TEST_P(ReadValue, KeyMissingForUserAndMachineIsFatalExceptForWorkspaces) {
    // "clé": 0xE9 in the ANSI code page.
    EXPECT_EQ(Missing("LANGUAGE", kProductKey, Root::CurrentUser),
              "Impossible d'ouvrir la cl\xE9 SOFTWARE\\Quarrow Labs\\Torvane8\\");
    for (const char* name : {"Workspace0", "Workspace1", "Workspace2", "Workspace3"})
        EXPECT_EQ(Read(name, kProductKey, Root::CurrentUser), "") << name;
    for (const char* name : {"workspace2", "Workspace4"})
        EXPECT_NE(Missing(name, kProductKey, Root::CurrentUser).find("Impossible d'ouvrir"),
                  std::string::npos);

    // A user value that is set needs no machine key; an empty one does.
    User("LANGUAGE", "Deutsch");
    EXPECT_EQ(Read("LANGUAGE", kProductKey, Root::CurrentUser), "Deutsch");
    User("LANGUAGE", "");
    EXPECT_NE(Missing("LANGUAGE", kProductKey, Root::CurrentUser).find("Impossible d'ouvrir"),
              std::string::npos);
}

TEST_P(ReadValue, SubKeyTooLongForItsBufferCannotBeOpened) {
    std::string longKey = "SOFTWARE\\" + std::string(246, 'k');  // 255 characters
    ASSERT_TRUE(SetSettingsString(Root::LocalMachine, longKey, "V", "ok"));
    EXPECT_EQ(Read("V", longKey.c_str(), Root::LocalMachine), "ok");
    std::string tooLong = longKey + "\\";  // 256 characters: not even cut to fit
    EXPECT_EQ(Missing("V", tooLong.c_str(), Root::LocalMachine),
              "Impossible to read the register key" + tooLong);
}

INSTANTIATE_TEST_SUITE_P(Encodings, ReadValue,
                         testing::Values(RegFileEncoding::Utf16, RegFileEncoding::Ansi),
                         [](const testing::TestParamInfo<RegFileEncoding>& info) {
                             return info.param == RegFileEncoding::Utf16 ? "Utf16" : "Ansi";
                         });

}  // namespace
