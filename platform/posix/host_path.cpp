#include "platform/host_path.h"

#include <sys/stat.h>

#include <cstdlib>

namespace platform {

std::string ToHostPath(std::string_view windowsPath) {
    std::string path(windowsPath);
    for (char& ch : path) {
        if (ch == '\\')
            ch = '/';
    }
    bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                    ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    const char* prefix = std::getenv("TORVANE_PREFIX");
    if (!hasDrive || prefix == nullptr || *prefix == '\0')
        return path;

    char letter = static_cast<char>(path[0] | 0x20);
    std::string device = std::string(prefix) + "/dosdevices/" + letter + ":";
    struct stat info {};
    if (stat(device.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return path;
    std::string rest = path.substr(2);
    if (!rest.empty() && rest[0] != '/')
        rest.insert(rest.begin(), '/');
    return device + rest;
}

}  // namespace platform
