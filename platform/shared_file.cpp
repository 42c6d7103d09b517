#include "platform/shared_file.h"

namespace platform {

ExclusiveOpen OpenExclusive(std::string_view windowsPath, const char* mode,
                            const Sleeper& sleeper) {
    for (;;) {
        ExclusiveOpen attempt = TryOpenExclusive(windowsPath, mode);
        if (!attempt.status.IsBusy())
            return attempt;
        sleeper(kSharedRetryMs);
    }
}

}  // namespace platform
