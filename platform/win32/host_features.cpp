#include "platform/host_features.h"

namespace platform {

bool HostHasSlurmClient() {
    return false;
}

}  // namespace platform
