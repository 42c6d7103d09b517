// Fuzz target: the shortcut (.lnk) reader, straight on the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "messages/shell_link.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto link = shelllink::ParseShellLink(bytes))
        link->Target();
    return 0;
}
