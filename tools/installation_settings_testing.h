// Test support for the end-to-end tests: puts the launcher's settings where
// the programs a test starts will read them (platform::ScopedChildSettings):
// the real registry on Windows, where the product key under
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER is replaced as a whole on every
// call (the Windows leg runs in a Wine prefix of its own, and its end-to-end
// tests one after the other); on Linux, machine.reg and user.reg in `folder`,
// which the returned environment names as TORVANE_PREFIX.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/child_process.h"

namespace e2e {

using SettingValues = std::vector<std::pair<std::string, std::string>>;

// String values under the product key of the machine's and of the user's
// settings; an empty `machine` still creates the machine's product key.
// `environment` receives what the launcher needs to find them. False when
// they could not be written.
bool WriteInstallationSettings(const std::string& folder, const SettingValues& machine,
                               const SettingValues& user,
                               platform::EnvironmentEntries& environment);

// No product key anywhere: the launcher's fatal registry case.
bool RemoveInstallationSettings(const std::string& folder,
                                platform::EnvironmentEntries& environment);

// Whether the launcher's message boxes come out as a line on standard error
// only (platform::MessageBoxesOnlyOnStandardError): otherwise run a case
// that shows one without capturing its output.
bool MessageBoxesOnStandardError();

}  // namespace e2e
