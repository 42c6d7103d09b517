#include "platform/message_box_testing.h"

namespace platform {

bool MessageBoxesOnlyOnStandardError() {
    return true;
}

}  // namespace platform
