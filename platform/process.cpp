#include "platform/process.h"

#include "containers/cstring.h"

namespace platform {

std::optional<ProcessEntry> FindProcessByNamePrefix(std::string_view prefix) {
    for (ProcessEntry& entry : SnapshotProcesses()) {
        if (StartsWithNoCase(entry.name, prefix))
            return std::move(entry);
    }
    return std::nullopt;
}

}  // namespace platform
