// Linux has no separate wide open: file names are the ANSI bytes the rest of
// the system uses, so the wide form goes back to them.
#include "platform/codepage.h"
#include "platform/file_stream.h"

namespace platform {

std::FILE* OpenStreamWide(std::u16string_view windowsPath, std::u16string_view mode) {
    return OpenStream(WideToAnsi(windowsPath), WideToAnsi(mode).c_str());
}

}  // namespace platform
