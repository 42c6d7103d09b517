// Installation paths: the product registry key under which every setting
// lives, the simulator's installation folder, and (from messages/) the
// expansion of environment variables in stored paths and names.
#pragma once

#include "containers/cstring.h"
#include "messages/expand_environment.h"
#include "platform/status.h"

// "SOFTWARE\Quarrow Labs\Torvane8\", relative to a root key, with its final
// backslash.
CString GetRegistryKeyPath();

// Sets `*folder` to "REPSOFTWARE" under the product key of the machine's
// settings, expanded, used as read: it is expected to end with a backslash
// since file names are appended to it directly. "" when the value is
// missing; SettingsMissing (fatal for the program) when the product key
// itself is missing.
platform::Status GetInstallFolder(CString* folder);
