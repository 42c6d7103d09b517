// Installation paths: the product registry key under which every setting
// lives, the simulator's installation folder, and (from messages/) the
// expansion of environment variables in stored paths and names.
#pragma once

#include "containers/cstring.h"
#include "messages/expand_environment.h"

// "SOFTWARE\Quarrow Labs\Torvane8\", relative to a root key, with its final
// backslash.
CString GetRegistryKeyPath();

// "REPSOFTWARE" under the product key of the machine's settings, expanded,
// used as read: it is expected to end with a backslash since file names are
// appended to it directly. "" when the value is missing; the program ends
// (message box, status 0) when the product key itself is missing.
CString GetInstallFolder();
