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
