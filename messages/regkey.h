// The registry settings reader: the one place that reads the launcher's
// settings, string values under the product key (see GetRegistryKeyPath).
//
// Each ReadSettingsValue opens a key, reads one value and closes the key
// again, so nothing is held between calls. It settles the fallback from the
// user's settings to the machine's, and which missing keys are fatal: without
// the machine's product key nothing can be configured, so the reader answers
// SettingsMissing with the text to show, and the program's main shows it in a
// message box and ends with status 0. Values go through a 256-byte buffer, so a value of 256
// characters or more reads as empty, as it always has.
#pragma once

#include "containers/cstring.h"
#include "platform/settings_store.h"
#include "platform/status.h"

// Sets `*value` to the value `valueName` of root\subKey with environment
// variables expanded, or "" when it is missing, unreadable or too long.
// Under CurrentUser an empty result is read again from LocalMachine.
// SettingsMissing (`*value` then "") when LocalMachine's key is missing (for
// CurrentUser: missing in both, except for the values "Workspace0" to
// "Workspace3"); its message is the text to show. Other roots are read once,
// with no fallback and no failure. A sub-key of 256 characters or more cannot
// be opened: it is treated as a missing key.
platform::Status ReadSettingsValue(const char* valueName, const char* subKey,
                                   platform::SettingsRoot root, CString* value);
