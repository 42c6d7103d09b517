#include "platform/shared_file.h"

#include <algorithm>

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

ExclusiveOpen OpenExclusiveWithin(std::string_view windowsPath, const char* mode,
                                  std::uint32_t maxWaitMs, const Sleeper& sleeper) {
    for (std::uint32_t waited = 0;; waited += kSharedRetryMs) {
        ExclusiveOpen attempt = TryOpenExclusive(windowsPath, mode);
        if (!attempt.status.IsBusy() || waited >= maxWaitMs)
            return attempt;
        sleeper(std::min(kSharedRetryMs, maxWaitMs - waited));
    }
}

}  // namespace platform
