#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "platform/file_stream.h"
#include "testsupport/temp_dir.h"

namespace {

// The wide open reaches the same file as the narrow open of the ANSI name,
// with the same modes (text mode translating line ends).
TEST(FileStreamWide, SameFileAsTheAnsiName) {
    testsupport::TempDir dir;
    // Joined by hand: the ANSI byte is no valid name for std::filesystem.
    std::string ansi = dir.path().string() + "\\r\xe9sum\xe9.txt";
    std::FILE* out = platform::OpenStreamWide(platform::AnsiToWide(ansi), u"w");
    ASSERT_NE(out, nullptr);
    std::fputs("ligne\n", out);
    std::fclose(out);

    std::FILE* in = platform::OpenStream(ansi, "rb");
    ASSERT_NE(in, nullptr);
    char text[16] = {};
    std::fread(text, 1, sizeof text - 1, in);
    std::fclose(in);
    EXPECT_STREQ(text, "ligne\r\n");

    EXPECT_EQ(platform::OpenStreamWide(platform::AnsiToWide(dir.File("none.txt")), u"r"), nullptr);
    EXPECT_EQ(platform::OpenStreamWide(platform::AnsiToWide(ansi), u"q"), nullptr);
    EXPECT_EQ(platform::OpenStreamWide(u"", u"r"), nullptr);
}

}  // namespace
