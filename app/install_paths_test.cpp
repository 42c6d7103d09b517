#include "app/install_paths.h"

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/settings_store_testing.h"

namespace {

using Root = platform::SettingsRoot;

CString InstallFolder() {
    CString folder("left over");
    platform::Status status = GetInstallFolder(&folder);
    EXPECT_TRUE(status.ok()) << status.ToString();
    return folder;
}

// A missing product key, fatal, is run on the real program (tools/).
TEST(InstallPaths, InstallFolderIsTheMachineValueExpanded) {
    platform::ScopedTestSettings settings;
    ASSERT_TRUE(platform::SetEnv("TV_INSTALL_ROOT", "C:\\Programs"));
    ASSERT_TRUE(platform::SetSettingsString(Root::LocalMachine, GetRegistryKeyPath().str(),
                                            "REPSOFTWARE", "%TV_INSTALL_ROOT%\\Torvane8\\"));
    // Only the machine's settings count.
    ASSERT_TRUE(platform::SetSettingsString(Root::CurrentUser, GetRegistryKeyPath().str(),
                                            "REPSOFTWARE", "D:\\user\\"));
    EXPECT_EQ(InstallFolder(), "C:\\Programs\\Torvane8\\");
    platform::UnsetEnv("TV_INSTALL_ROOT");

    ASSERT_TRUE(platform::DeleteSettingsValue(Root::LocalMachine, GetRegistryKeyPath().str(),
                                              "REPSOFTWARE"));
    EXPECT_EQ(InstallFolder(), "");
}

}  // namespace
