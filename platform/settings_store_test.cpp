// The settings store on files in a private TORVANE_PREFIX on Linux, on the
// registry itself under Windows.
#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include "platform/reg_file.h"
#include "platform/settings_store_testing.h"
#include "testsupport/scoped_env.h"

namespace platform {
namespace {

using Root = SettingsRoot;

// The value read with a buffer of `capacity` bytes, or "<missing>".
std::string Query(Root root, const char* key, const char* name, std::size_t capacity = 256) {
    SettingsKey handle = OpenSettingsKey(root, key);
    if (handle == nullptr)
        return "<no key>";
    std::string buffer(capacity, '\0');
    std::size_t size = capacity;
    bool ok = QuerySettingsValue(handle, name, buffer.data(), &size);
    CloseSettingsKey(handle);
    return ok ? buffer.substr(0, size) : "<missing>";
}

class SettingsStore : public testing::TestWithParam<RegFileEncoding> {
  protected:
    ScopedTestSettings m_settings{GetParam()};
};

TEST_P(SettingsStore, ValueNamesInAnyCaseTheDefaultValueAndAnExactBuffer) {
    const std::string path("C:\\x\\\0", 6);
    ASSERT_TRUE(SetSettingsString(Root::LocalMachine, "SOFTWARE\\Tv Test\\", "Path", "C:\\x\\"));
    ASSERT_TRUE(SetSettingsString(Root::LocalMachine, "SOFTWARE\\Tv Test", "", "default"));
    EXPECT_EQ(Query(Root::LocalMachine, "software\\TV TEST", "PATH"), path);
    EXPECT_EQ(Query(Root::LocalMachine, "SOFTWARE\\Tv Test", ""), std::string("default\0", 8));
    EXPECT_EQ(Query(Root::CurrentUser, "SOFTWARE\\Tv Test", "Path"), "<no key>");
    EXPECT_EQ(Query(Root::LocalMachine, "SOFTWARE", "Path"), "<missing>") << "a parent key";
    // The data must fit the buffer with their terminator.
    EXPECT_EQ(Query(Root::LocalMachine, "SOFTWARE\\Tv Test", "Path", 6), path);
    EXPECT_EQ(Query(Root::LocalMachine, "SOFTWARE\\Tv Test", "Path", 5), "<missing>");
    ASSERT_TRUE(DeleteSettingsValue(Root::LocalMachine, "SOFTWARE\\Tv Test", "Path"));
    EXPECT_EQ(Query(Root::LocalMachine, "SOFTWARE\\Tv Test", "Path"), "<missing>");
}

// Byte for byte what Wine's regedit /e wrote for a key made with reg add:
// UTF-16LE, CRLF, string, dword, default and hex(2) values, a hex(2) value
// continued over lines (one byte pair cut by the line end), and a sub-key.
TEST_P(SettingsStore, ARegeditExportReadsBackTheSameStrings) {
    ASSERT_TRUE(ImportSettingsFile(Utf16File(
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
        "\r\n")));
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
        EXPECT_EQ(Query(Root::LocalMachine, key.c_str(), name), data) << name;
    EXPECT_EQ(Query(Root::LocalMachine, (key + "\\Sub").c_str(), "Empty"), std::string(1, '\0'));
}

INSTANTIATE_TEST_SUITE_P(Encodings, SettingsStore,
                         testing::Values(RegFileEncoding::Utf16, RegFileEncoding::Ansi),
                         [](const testing::TestParamInfo<RegFileEncoding>& info) {
                             return info.param == RegFileEncoding::Utf16 ? "Utf16" : "Ansi";
                         });

TEST(SettingsFiles, PrefixOrDefaultLocations) {
    {
        testsupport::ScopedEnv prefix("TORVANE_PREFIX", "/opt/tv");
        EXPECT_EQ(SettingsFilePaths(),
                  (std::vector<std::string>{"/opt/tv/machine.reg", "/opt/tv/user.reg"}));
    }
    testsupport::ScopedEnv prefix("TORVANE_PREFIX", std::nullopt);
    {
        testsupport::ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(SettingsFilePaths(), (std::vector<std::string>{"/etc/torvane8/machine.reg",
                                                                 "/cfg/torvane8/user.reg"}));
    }
    testsupport::ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    testsupport::ScopedEnv home("HOME", "/home/anne");
    EXPECT_EQ(SettingsFilePaths(),
              (std::vector<std::string>{"/etc/torvane8/machine.reg",
                                        "/home/anne/.config/torvane8/user.reg"}));
}

}  // namespace
}  // namespace platform
