#include "platform/file_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;

class FileStream : public ::testing::Test {
  protected:
    // The whole file as read through OpenStream in `mode`.
    std::string ReadAll(const std::string& name, const char* mode = "r") {
        return testsupport::ReadAndClose(platform::OpenStream(dir.File(name), mode));
    }
    // Writes `text` through OpenStream in `mode`.
    void Write(const std::string& name, const char* mode, const std::string& text) {
        std::FILE* f = platform::OpenStream(dir.File(name), mode);
        ASSERT_NE(f, nullptr) << mode;
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    testsupport::TempDir dir;
};

TEST_F(FileStream, TextModeWritesWindowsLineEndsAndBinaryModeKeepsBytes) {
    Write("out.txt", "w", "Nombre = 2\na\n");
    Write("out.txt", "a+", "c\n");
    EXPECT_EQ(ReadBytes(dir.path() / "out.txt"), "Nombre = 2\r\na\r\nc\r\n");
    const std::string binary("a\nb\r\n\xff", 6);
    Write("out.txt", "wb", binary);
    EXPECT_EQ(ReadBytes(dir.path() / "out.txt"), binary);
    EXPECT_EQ(ReadAll("out.txt", "rb"), binary);
}

TEST_F(FileStream, CrlfAndLfFilesReadTheSame) {
    testsupport::WriteBytes(dir.path() / "crlf.txt", "one\r\ntwo\r\n\r\nlast");
    testsupport::WriteBytes(dir.path() / "lf.txt", "one\ntwo\n\nlast");
    EXPECT_EQ(ReadAll("crlf.txt"), "one\ntwo\n\nlast");
    EXPECT_EQ(ReadAll("lf.txt"), "one\ntwo\n\nlast");
    // A lone carriage return is kept, as the Windows runtime keeps it.
    testsupport::WriteBytes(dir.path() / "cr.txt", "a\rb\r");
    EXPECT_EQ(ReadAll("cr.txt"), "a\rb\r");

    // A line end split across read buffers is still one line end.
    std::string bytes;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        std::string line = std::string(static_cast<std::size_t>(i % 7), 'x') + std::to_string(i);
        bytes += line + "\r\n";
        expected += line + "\n";
    }
    testsupport::WriteBytes(dir.path() / "big.txt", bytes);
    EXPECT_EQ(ReadAll("big.txt"), expected);
}

TEST_F(FileStream, RewriteAfterRewindOverwritesInPlaceFlushesAndEndsWhereItStands) {
    const std::string path = dir.File("queue.txt");
    testsupport::WriteBytes(path, "Nombre = 1\r\nEtat = 0\r\ntrailing old text\r\n");
    std::FILE* f = platform::OpenStream(path, "r+");
    ASSERT_NE(f, nullptr);
    char line[64];
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "Nombre = 1\n");
    std::rewind(f);
    std::fputs("Nombre = 1\nEtat = 2\n", f);
    // Still open: the text must be in the file already, with its line ends.
    EXPECT_TRUE(platform::FlushToDisk(f, path));
    EXPECT_EQ(ReadBytes(path), "Nombre = 1\r\nEtat = 2\r\ntrailing old text\r\n");
    // Ended where the stream stands, the old text past it is gone.
    std::fputs("Etat = 3\n", f);
    EXPECT_TRUE(platform::EndFileHere(f));
    std::fclose(f);
    EXPECT_EQ(ReadBytes(path), "Nombre = 1\r\nEtat = 2\r\nEtat = 3\r\n");
    EXPECT_FALSE(platform::FlushToDisk(nullptr, path));
    EXPECT_FALSE(platform::EndFileHere(nullptr));
}

TEST_F(FileStream, UntranslatedBytesGoBetweenTranslatedTextInOrder) {
    for (const char* mode : {"w", "a+", "wb"}) {
        SCOPED_TRACE(mode);
        const std::string name = std::string("untranslated") + mode[0] + mode[1];
        Write(name, "wb", "old\r\n");
        std::FILE* f = platform::OpenStream(dir.File(name), mode);
        ASSERT_NE(f, nullptr);
        std::fputs("a\n", f);
        EXPECT_TRUE(platform::WriteUntranslated(f, "b\r\nc\r\n"));
        EXPECT_TRUE(platform::WriteUntranslated(f, ""));
        std::fputs("d\n", f);
        std::fclose(f);
        const bool text = mode[1] != 'b';
        const std::string kept = mode[0] == 'a' ? "old\r\n" : "";
        EXPECT_EQ(ReadBytes(dir.File(name)),
                  kept + (text ? "a\r\n" : "a\n") + "b\r\nc\r\n" + (text ? "d\r\n" : "d\n"));
    }
}

TEST_F(FileStream, WhatCannotBeOpenedGivesNull) {
    EXPECT_EQ(platform::OpenStream(dir.File("missing.txt"), "r"), nullptr);
    EXPECT_EQ(platform::OpenStream(dir.File("no/such/folder/x.txt"), "w"), nullptr);
    EXPECT_EQ(platform::OpenStream(dir.path().string(), "r"), nullptr);
    for (const char* mode : {"q", "rx", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(platform::OpenStream(dir.File("x.txt"), mode), nullptr) << (mode ? mode : "null");
}

}  // namespace
