// Setting and removing process environment variables, which the expansion of
// "%NAME%" references and the Linux settings store read through getenv.
//   Win32: _putenv_s, which updates the runtime's copy that getenv reads.
//   Linux: setenv / unsetenv.
// Never blocks. Returns false when the host refuses the name or the value
// (an empty name, or one containing "=").
#pragma once

#include <string>

namespace platform {

bool SetEnv(const std::string& name, const std::string& value);
bool UnsetEnv(const std::string& name);

}  // namespace platform
