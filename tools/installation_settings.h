// Test support for the end-to-end tests: puts the launcher's settings where
// the programs a test starts will read them.
//
// Unlike platform::ScopedTestSettings, which redirects the settings of the
// test process itself, these settings must reach other processes (the
// launcher, and through it the stand-in):
//   Win32: the real registry, key SOFTWARE\Quarrow Labs\Torvane8 under
//          HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, replaced as a whole on
//          every call (the Windows leg runs in a Wine prefix of its own, and
//          its end-to-end tests one after the other). Nothing is added to the
//          children's environment.
//   Linux: machine.reg and user.reg (REGEDIT4) written into `folder`, which
//          the returned environment names as TORVANE_PREFIX.
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
// (the Linux host). Otherwise a message box may start the host's desktop
// process (under Wine), which inherits and keeps open the pipes of a
// captured run: run such a case without capturing its output.
bool MessageBoxesOnStandardError();

}  // namespace e2e
