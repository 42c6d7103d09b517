// Fuzz target: splitting a Windows command line into arguments, as the Linux
// launcher does. Quoting each argument and joining them again must give the
// same arguments back, which is what the Windows test helper relies on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> arguments = platform::SplitCommandLine(line);
    if (arguments.empty()) {
        if (!line.empty())
            __builtin_trap();  // only an empty line gives no program
        return 0;
    }
    // An unquoted program may hold a quote, which no quoted program can.
    if (arguments[0].find('"') != std::string::npos)
        return 0;
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    const std::string joined = platform::JoinCommandLine(arguments[0], rest);
    if (platform::SplitCommandLine(joined) != arguments)
        __builtin_trap();
    return 0;
}
