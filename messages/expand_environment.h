// Expansion of environment-variable references ("%NAME%") in stored paths
// and names: registry values, user names and user folders.
//
// It lives here, below the settings reader that needs it, rather than with the
// installation paths of app/ (which re-export it), so that every subsystem
// that reads settings or users can use it without depending on the program.
#pragma once

#include "containers/cstring.h"

// Replaces, left to right, each name enclosed between two "%" by the value of
// the environment variable of that name (looked up as the host does: with
// regard to case on Linux, without on Windows). A reference to a variable
// that is not set, or a "%" without a partner, ends the expansion: the rest of
// the text stays as it is. Text brought in by a value is expanded by a further
// pass over the whole text.
CString ExpandEnvironment(const CString& text);
