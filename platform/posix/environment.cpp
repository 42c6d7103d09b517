#include "platform/environment.h"

#include <stdlib.h>

namespace platform {

bool SetEnv(const std::string& name, const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos)
        return false;
    return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool UnsetEnv(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos)
        return false;
    return unsetenv(name.c_str()) == 0;
}

}  // namespace platform
