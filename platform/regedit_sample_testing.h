// Test data shared by the settings tests: .reg content as regedit writes it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/settings_store_testing.h"

namespace platform {

// Byte for byte what Wine's regedit /e wrote for a key made with reg add:
// UTF-16LE, CRLF, string, dword, default and hex(2) values, a hex(2) value
// continued over lines, and a sub-key.
inline std::string RegeditSampleFile() {
    return Utf16File(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrow Labs\\Torvane8 sample]\r\n"
        "@=\"default text\"\r\n"
        "\"Count\"=dword:00000041\r\n"
        "\"FILEUSERS\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,62,00,61,00,74,00,\\\r\n"
        "  63,00,68,00,5c,00,75,00,73,00,65,00,72,00,73,00,2e,00,74,00,78,00,74,00,00,\\\r\n"
        "  00\r\n"
        "\"LANGUAGE\"=\"Fran\xE7"
        "ais\"\r\n"
        "\"Quoted\"=\"say \\\"hi\\\" \\\\\\\\srv\\\\share\"\r\n"
        "\"REPSOFTWARE\"=\"C:\\\\Program Files\\\\Torvane8\\\\\"\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrow Labs\\Torvane8 sample\\Sub]\r\n"
        "\"Empty\"=\"\"\r\n"
        "\r\n");
}

// Checks the sample's values as `read(key, name)` gives their data: as
// RegQueryValueExA hands it over, terminator included.
template <typename Read>
void ExpectRegeditSampleValues(Read read) {
    const std::string key = "SOFTWARE\\Quarrow Labs\\Torvane8 sample";
    EXPECT_EQ(read(key, "REPSOFTWARE"), std::string("C:\\Program Files\\Torvane8\\\0", 27));
    EXPECT_EQ(read(key, "LANGUAGE"), std::string("Fran\xE7"
                                                 "ais\0",
                                                 9));
    EXPECT_EQ(read(key, "Quoted"), std::string("say \"hi\" \\\\srv\\share\0", 21));
    // hex(2) continued over three lines, one byte pair cut by the line end.
    EXPECT_EQ(read(key, "FILEUSERS"), std::string("%TEMP%\\batch\\users.txt\0", 23));
    EXPECT_EQ(read(key, ""), std::string("default text\0", 13));
    EXPECT_EQ(read(key, "Count"), std::string("A\0\0\0", 4));
    EXPECT_EQ(read(key + "\\Sub", "Empty"), std::string(1, '\0'));
}

}  // namespace platform
