// Fuzz target: expansion of "%NAME%" references. The environment holds
// variables that refer to one another, to themselves and to themselves twice
// (a value that doubles on every pass), so that the pass limits are exercised
// and not only the scanning of the text.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "messages/expand_environment.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    setenv("A", "%B%", 1);
    setenv("B", "C:\\Torvane", 1);
    setenv("SELF", "x%SELF%", 1);
    setenv("TWICE", "%TWICE%%TWICE%", 1);
    setenv("LONG", std::string(1000, 'L').c_str(), 1);
    setenv("PCT", "%", 1);
    setenv("EMPTY", "", 1);
    setenv("USERNAME", "op\xE9rateur", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const CString result = ExpandEnvironment(text.c_str());
    // Text without any "%" has nothing to expand.
    if (text.find('%') == std::string::npos && result.str() != text.c_str())
        __builtin_trap();
    return 0;
}
