#include "platform/environment.h"

#include <stdlib.h>

namespace platform {

// _putenv_s with an empty value removes the variable; a variable cannot be
// set to "" through the runtime, so an empty value removes it here too.
bool SetEnv(const std::string& name, const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos)
        return false;
    return _putenv_s(name.c_str(), value.c_str()) == 0;
}

bool UnsetEnv(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos)
        return false;
    return _putenv_s(name.c_str(), "") == 0;
}

}  // namespace platform
