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

// The value read, or "fatal: " and the message of a failed read (value left empty).
std::string Get(const char* name, Root root, const std::string& key = kProductKey) {
    CString value("left over");
    platform::Status status = ReadSettingsValue(name, key.c_str(), root, &value);
    if (status.ok())
        return value.str();
    EXPECT_EQ(status.code(), platform::Status::Code::kSettingsMissing) << name;
    EXPECT_EQ(value, "") << name;
    return "fatal: " + status.message();
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

TEST_P(ReadValue, UserSettingsFallBackToTheMachineAndLongValuesReadAsEmpty) {
    Machine("LANGUAGE", "English");
    User("LANGUAGE", "Espa\xF1ol");
    EXPECT_EQ(Get("LANGUAGE", Root::CurrentUser), "Espa\xF1ol");
    EXPECT_EQ(Get("LANGUAGE", Root::LocalMachine), "English");
    User("LANGUAGE", "");  // present but empty
    EXPECT_EQ(Get("LANGUAGE", Root::CurrentUser), "English");
    ASSERT_TRUE(platform::DeleteSettingsKey(Root::CurrentUser, kProductKey));
    EXPECT_EQ(Get("LANGUAGE", Root::CurrentUser), "English");

    // Missing in both places while both keys exist: empty, no message.
    User("Other", "x");
    EXPECT_EQ(Get("FILEUSERS", Root::CurrentUser), "");
    EXPECT_EQ(Get("FILEUSERS", Root::LocalMachine), "");

    // Values of 256 characters or more read as empty.
    Machine("Fits", std::string(255, 'a'));
    Machine("TooLong", std::string(256, 'b'));
    EXPECT_EQ(Get("Fits", Root::LocalMachine), std::string(255, 'a'));
    EXPECT_EQ(Get("TooLong", Root::LocalMachine), "");
    // Too long for the user: the machine's value is taken.
    User("Path", std::string(300, 'u'));
    Machine("Path", "C:\\m\\");
    EXPECT_EQ(Get("Path", Root::CurrentUser), "C:\\m\\");
}

TEST_P(ReadValue, ExpandsTheResultAndIgnoresTheFinalSeparator) {
    ASSERT_TRUE(platform::SetEnv("TV_REGKEY_TEMP", "/tmp/tv"));
    Machine("BATCH", "%TV_REGKEY_TEMP%\\batch");
    User("UserPath", "%TV_REGKEY_TEMP%\\u");
    EXPECT_EQ(Get("UserPath", Root::CurrentUser), "/tmp/tv\\u");
    for (const char* key : {"SOFTWARE\\Quarrow Labs\\Torvane8", "SOFTWARE\\Quarrow Labs\\Torvane8/",
                            "software\\quarrow labs\\TORVANE8\\"})
        EXPECT_EQ(Get("BATCH", Root::LocalMachine, key), "/tmp/tv\\batch") << key;
    platform::UnsetEnv("TV_REGKEY_TEMP");
}

// Fatal: no machine key, or none for user and machine.
TEST_P(ReadValue, MissingKeysAreFatal) {
    const std::string machineMissing = "fatal: Impossible to read the register key";
    // "clé": 0xE9 in the ANSI code page.
    const std::string userMissing =
        "fatal: Impossible d'ouvrir la cl\xE9 " + std::string(kProductKey);
    EXPECT_EQ(Get("FILEMSGSYS", Root::LocalMachine), machineMissing + kProductKey);
    EXPECT_EQ(Get("LANGUAGE", Root::CurrentUser), userMissing);

    // A user value that is set needs no machine key; an empty one does.
    User("LANGUAGE", "Deutsch");
    EXPECT_EQ(Get("LANGUAGE", Root::CurrentUser), "Deutsch");
    User("LANGUAGE", "");
    EXPECT_EQ(Get("LANGUAGE", Root::CurrentUser), userMissing);
    const char* bare = "SOFTWARE\\Quarrow Labs\\Torvane8";
    EXPECT_EQ(Get("FILEMSGSYS", Root::LocalMachine, bare), machineMissing + bare);

    // A sub-key of 256 characters does not fit its buffer: not even cut to fit.
    std::string longKey = "SOFTWARE\\" + std::string(246, 'k');
    ASSERT_TRUE(SetSettingsString(Root::LocalMachine, longKey, "V", "ok"));
    EXPECT_EQ(Get("V", Root::LocalMachine, longKey), "ok");
    EXPECT_EQ(Get("V", Root::LocalMachine, longKey + "\\"), machineMissing + longKey + "\\");
}

INSTANTIATE_TEST_SUITE_P(Encodings, ReadValue,
                         testing::Values(RegFileEncoding::Utf16, RegFileEncoding::Ansi),
                         [](const testing::TestParamInfo<RegFileEncoding>& info) {
                             return info.param == RegFileEncoding::Utf16 ? "Utf16" : "Ansi";
                         });

}  // namespace
