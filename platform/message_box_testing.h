// Test-only knowledge of the message box (message_box.h): whether a test may
// capture the output of a program that shows one.
#pragma once

namespace platform {

// True where a message box is only ever a line on standard error.
//   Linux: true.
//   Win32: false. A box may start the host's desktop process (under Wine),
//          which inherits and keeps open the pipes of a captured run: run
//          such a case without capturing its output.
bool MessageBoxesOnlyOnStandardError();

}  // namespace platform
