#include "platform/console.h"

#include <windows.h>

namespace platform {

bool StandardOutputIsTerminal() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output != nullptr && output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode);
}

}  // namespace platform
