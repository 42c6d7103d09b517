#include "platform/file_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

std::string ReadAllText(const std::string& path, const char* mode = "r") {
    std::FILE* f = platform::OpenStream(path, mode);
    if (f == nullptr)
        return "<not opened>";
    std::string text;
    for (int ch; (ch = std::fgetc(f)) != EOF;) text += static_cast<char>(ch);
    std::fclose(f);
    return text;
}

TEST(FileStream, TextModeWritesWindowsLineEndsAndBinaryModeKeepsBytes) {
    TempDir dir;
    std::string path = dir.File("out.txt");
    std::FILE* f = platform::OpenStream(path, "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "Nombre = %d\n", 2);
    std::fputs("a\nb\n", f);
    std::fclose(f);
    EXPECT_EQ(ReadBytes(path), "Nombre = 2\r\na\r\nb\r\n");

    f = platform::OpenStream(path, "a+");
    ASSERT_NE(f, nullptr);
    std::fputs("c\n", f);
    std::fclose(f);
    EXPECT_EQ(ReadBytes(path), "Nombre = 2\r\na\r\nb\r\nc\r\n");

    f = platform::OpenStream(path, "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite("a\nb\r\n\xff", 1, 6, f);
    std::fclose(f);
    EXPECT_EQ(ReadBytes(path), std::string("a\nb\r\n\xff", 6));
    EXPECT_EQ(ReadAllText(path, "rb"), std::string("a\nb\r\n\xff", 6));
}

TEST(FileStream, CrlfAndLfFilesReadTheSame) {
    TempDir dir;
    WriteBytes(dir.path() / "crlf.txt", "one\r\ntwo\r\n\r\nlast");
    WriteBytes(dir.path() / "lf.txt", "one\ntwo\n\nlast");
    EXPECT_EQ(ReadAllText(dir.File("crlf.txt")), "one\ntwo\n\nlast");
    EXPECT_EQ(ReadAllText(dir.File("lf.txt")), "one\ntwo\n\nlast");
    // A lone carriage return is kept, as the Windows runtime keeps it.
    WriteBytes(dir.path() / "cr.txt", "a\rb\r");
    EXPECT_EQ(ReadAllText(dir.File("cr.txt")), "a\rb\r");

    // A line end split across read buffers is still one line end.
    std::string bytes;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        std::string line = std::string(static_cast<std::size_t>(i % 7), 'x') + std::to_string(i);
        bytes += line + "\r\n";
        expected += line + "\n";
    }
    WriteBytes(dir.path() / "big.txt", bytes);
    EXPECT_EQ(ReadAllText(dir.File("big.txt")), expected);
}

TEST(FileStream, RewriteAfterRewindOverwritesInPlace) {
    TempDir dir;
    WriteBytes(dir.path() / "queue.txt", "Nombre = 1\r\nEtat = 0\r\ntrailing old text\r\n");
    std::string path = dir.File("queue.txt");
    std::FILE* f = platform::OpenStream(path, "r+");
    ASSERT_NE(f, nullptr);
    char line[64];
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "Nombre = 1\n");
    std::rewind(f);
    std::fputs("Nombre = 1\nEtat = 2\n", f);
    std::fclose(f);
    EXPECT_EQ(ReadBytes(path), "Nombre = 1\r\nEtat = 2\r\ntrailing old text\r\n");
}

TEST(FileStream, FlushToDiskWritesWhatIsBuffered) {
    testsupport::TempDir dir;
    std::string path = dir.File("q.txt");
    std::FILE* stream = platform::OpenStream(path, "w");
    ASSERT_NE(stream, nullptr);
    std::fputs("nb = 0\n", stream);
    // Still open: the text must be in the file already, with its line end.
    EXPECT_TRUE(platform::FlushToDisk(stream, path));
    EXPECT_EQ(testsupport::ReadBytes(dir.path() / "q.txt"), "nb = 0\r\n");
    std::fclose(stream);
    EXPECT_FALSE(platform::FlushToDisk(nullptr, path));
}

TEST(FileStream, UntranslatedBytesGoBetweenTranslatedTextInOrder) {
    TempDir dir;
    for (const char* mode : {"w", "a+", "wb"}) {
        SCOPED_TRACE(mode);
        const std::string path = dir.File(std::string("untranslated") + mode[0] + mode[1]);
        WriteBytes(path, "old\r\n");
        std::FILE* f = platform::OpenStream(path, mode);
        ASSERT_NE(f, nullptr);
        std::fputs("a\n", f);
        EXPECT_TRUE(platform::WriteUntranslated(f, "b\r\nc\r\n"));
        EXPECT_TRUE(platform::WriteUntranslated(f, ""));
        std::fputs("d\n", f);
        std::fclose(f);
        const bool text = mode[1] != 'b';
        const std::string kept = mode[0] == 'a' ? "old\r\n" : "";
        EXPECT_EQ(ReadBytes(path),
                  kept + (text ? "a\r\n" : "a\n") + "b\r\nc\r\n" + (text ? "d\r\n" : "d\n"));
    }
}

TEST(FileStream, WhatCannotBeOpenedGivesNull) {
    TempDir dir;
    EXPECT_EQ(platform::OpenStream(dir.File("missing.txt"), "r"), nullptr);
    EXPECT_EQ(platform::OpenStream(dir.File("no/such/folder/x.txt"), "w"), nullptr);
    EXPECT_EQ(platform::OpenStream(dir.path().string(), "r"), nullptr);
    for (const char* mode : {"q", "rx", ""})
        EXPECT_EQ(platform::OpenStream(dir.File("x.txt"), mode), nullptr) << mode;
    EXPECT_EQ(platform::OpenStream(dir.File("x.txt"), nullptr), nullptr);
}

}  // namespace
