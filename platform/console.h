// Host console: whether the program's standard output is a terminal that a
// person watches, so that the program may add lines meant for that person
// only. Output to a file, a pipe or a scheduled task stays as it always was.
//
// StandardOutputIsTerminal does not block. Win32: GetConsoleMode on the
// standard output handle succeeds (a console; a file, a pipe or the NUL
// device is not one). Linux: isatty on descriptor 1.
#pragma once

namespace platform {

bool StandardOutputIsTerminal();

}  // namespace platform
