#include "platform/host_path.h"

namespace platform {

std::string ToHostPath(std::string_view windowsPath) {
    return std::string(windowsPath);
}

}  // namespace platform
