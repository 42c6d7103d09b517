// Opening a C stream on a Windows-form path with a standard mode string.
//
// OpenStream(path, mode) takes the modes of fopen ("r", "w", "a", "r+", "w+",
// "a+", with "b" or "t"); the path goes through ToHostPath. It never blocks on
// other programs and returns nullptr when the file cannot be opened (missing,
// a folder, no permission), with errno set.
//   Text mode (no "b"): the Windows runtime's line ends on both hosts. Win32
//     does it itself. On Linux the stream is a glibc cookie stream that writes
//     "\r\n" for "\n" and reads "\r\n" as "\n" (a lone "\r" stays), so files
//     are byte-identical on both hosts; rewind/fseek to the start followed by
//     an in-place rewrite ("r+") behaves as on Windows. ftell on a Linux text
//     stream is not meaningful and is not used.
//   Binary mode ("b"): plain bytes on both hosts.
// Streams are never inherited by processes that the program starts.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

namespace platform {

// A stream closed when its owner goes.
struct StreamCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using UniqueStream = std::unique_ptr<std::FILE, StreamCloser>;

std::FILE* OpenStream(std::string_view windowsPath, const char* mode);

// The same open with a wide (UTF-16) path and mode: _wfopen on Win32, so a
// name outside the ANSI code page can be opened there. On Linux the path and
// mode are converted to the ANSI code page and opened as by OpenStream.
std::FILE* OpenStreamWide(std::u16string_view windowsPath, std::u16string_view mode);

// Pushes what `stream` has buffered to the file and asks the host to put the
// file's data on the disk, so that a crash of the machine just after does not
// lose it. `windowsPath` names the same file (the fault-injection point
// decides by it). Blocks until the disk has the data; false when either step
// fails.
//   Win32: fflush + _commit on the stream's descriptor.
//   Linux: fflush + fdatasync on the stream's descriptor (a text stream's is
//   the one under its cookie): the data and what reading them back needs, not
//   the file's times, which saves a write of its inode for each save that
//   keeps the file's size.
bool FlushToDisk(std::FILE* stream, std::string_view windowsPath);

// Pushes what `stream` has buffered to the file and ends the file where the
// stream stands: for a file written over in place ("r+") whose old text may
// run past the new. False when either step fails.
//   Win32: fflush + _chsize_s at the descriptor's position.
//   Linux: fflush + ftruncate at the descriptor's position (a text stream's
//   descriptor is the one under its cookie).
bool EndFileHere(std::FILE* stream);

// Writes `bytes` exactly as they are, also to a text stream: for text whose
// line ends are already "\r\n", which the text mode would turn into
// "\r\r\n". What the stream holds buffered goes first, translated as ever.
// For a stream being written (or appended to), not one halfway through a
// read. False when a write fails. On a binary stream it is fwrite.
//   Win32: the stream's descriptor is binary (_setmode) for the write.
//   Linux: the bytes go straight to the text stream's descriptor.
bool WriteUntranslated(std::FILE* stream, std::string_view bytes);

// The fopen mode for reading a text file a block at a time, by a reader that
// ends its lines at "\n" itself and takes a "\r" just before one as part of
// that line end: the host's text rules, with the fewest copies.
//   Win32: "r", the C runtime's text mode ("\r\n" comes as "\n", Ctrl-Z ends
//          the file).
//   Linux: "rb": the text mode here only turns "\r\n" into "\n", which such a
//          reader does itself without the text stream's extra copy.
const char* LineReadMode();
// Whether a stream opened in LineReadMode() gives the file's bytes as they
// are, so that a count of the bytes read from it is a position to seek back
// to and read again.
//   Win32: false (the text mode drops the "\r" of each "\r\n").
//   Linux: true.
bool LineReadKeepsPositions();

// Parsed form of an fopen mode string, shared by the host implementations.
struct StreamMode {
    bool valid = false;
    bool read = false;
    bool write = false;
    bool create = false;
    bool truncate = false;
    bool append = false;
    bool binary = false;
};
StreamMode ParseStreamMode(const char* mode);

}  // namespace platform
