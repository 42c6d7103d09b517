// Conversion between wide text (UTF-16) and the host's ANSI code page, the
// encoding of every CString.
//   Win32: the system ANSI code page (WideCharToMultiByte / MultiByteToWideChar
//          with CP_ACP); characters the page lacks become "?".
//   Linux: Windows-1252 from a fixed table; characters it lacks become "?",
//          one per UTF-16 unit (so a character beyond the basic plane gives
//          "??", as on Windows). The five bytes Windows-1252 leaves undefined
//          map to and from U+0081, U+008D, U+008F, U+0090 and U+009D as Windows
//          does.
// Pure functions: no blocking, no failure beyond the "?" replacement.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string WideToAnsi(std::u16string_view text);
std::u16string AnsiToWide(std::string_view text);

}  // namespace platform
