#include "platform/shared_file.h"

namespace platform {

ExclusiveOpen OpenExclusive(std::string_view windowsPath, const char* mode,
                            const Sleeper& sleeper) {
    for (;;) {
        ExclusiveOpen attempt = TryOpenExclusive(windowsPath, mode);
        if (attempt.outcome != OpenOutcome::kBusy)
            return attempt;
        sleeper(kSharedRetryMs);
    }
}

}  // namespace platform
