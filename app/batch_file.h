// The batch text files: the queue file and the report file in the current
// user's batch folder, which the interactive simulator and its tools read and
// edit while the batch runs.
//
// Both sides coordinate only through these files, so the launcher opens them
// exclusively and for short moments: KvBatchFile opens its fixed path through
// OpenSharedFile, which waits (500 ms between attempts, through a Sleeper)
// for as long as another program holds the file, and remembers the mode it
// was opened with so that a repeated Open in the same mode costs nothing.
//
// An open that waiting cannot cure (the folder does not exist, access is
// denied, the disk is full) is not retried: Open answers false and keeps the
// failure (a status naming the file), and the run must stop there, since
// every later step expects the file to be open: the failure travels back to
// the program's main (EndOnFailure in entry_point.h), which prints
// CannotOpenLine.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "containers/cstring.h"
#include "platform/sleep.h"
#include "platform/status.h"

// What OpenSharedFile gives: an open stream, or why there is none (an I/O
// error with the host's text, never Busy).
struct SharedFileOpen {
    std::FILE* stream = nullptr;  // owned by the caller (fclose)
    platform::Status status;
};

// Opens `path` (Windows form) in `mode` so that no other program can open it
// while it is open here. Blocks, retrying every 500 ms through `sleeper`,
// while another program holds the file; returns at once on any other
// failure. Never writes anything.
SharedFileOpen OpenSharedFile(const CString& path, const char* mode,
                              const platform::Sleeper& sleeper = platform::RealSleeper());

// A failure to open or write a batch text file: an I/O error whose context
// is the file and whose message is the host's reason.
platform::Status CannotOpen(const CString& path, std::string reason);

// The line the program prints before it stops on `failure`:
//   torvane-batch: cannot open "<context>": <message>
std::string CannotOpenLine(const platform::Status& failure);

class KvBatchFile {
  public:
    virtual ~KvBatchFile();
    KvBatchFile(const KvBatchFile&) = delete;
    KvBatchFile& operator=(const KvBatchFile&) = delete;

    // Both do nothing here; the queue file reads and writes its job list.
    virtual void Read() {}
    virtual void Write() {}

    // Nothing happens when the file is open in exactly `mode` already (the
    // comparison is case-sensitive). Otherwise an open stream is closed and
    // the file opened again in `mode`, which is remembered. False when the
    // file cannot be opened for a reason that waiting cannot cure: the file
    // is then closed and GetOpenFailure says why.
    bool Open(const char* mode);
    // Closes the stream; the remembered mode stays. Closing twice is harmless.
    void Close();
    // Back to the start of the file, when it is open.
    void Rewind();
    // Writes `text` and a line end, only when the file is open in a mode that
    // contains "a+": the queue file, opened "r+", "w" or "wt", never takes a
    // report line. The text is written as it is ("%" included).
    void WriteLine(const CString& text);
    // The same for many lines at once, each already ending in "\r\n" as the
    // file holds it: they are written as they are, without the text mode's
    // translation of line ends.
    void WriteLines(std::string_view lines);
    // Writes "<stamp> -> <text>" with WriteLine, when the file is open. The
    // stamp is the local time as "%m/%d/%y %H:%M:%S".
    void WriteStamped(const CString& text);
    // Removes the file from the disk and forgets the stream and the mode.
    // Meant for a closed file; an open one is closed first. False when the
    // file could not be removed (a missing file included).
    bool Delete();

    bool IsOpen() const { return m_stream != nullptr; }
    // The mode of the last successful Open; empty before the first.
    const std::string& GetMode() const { return m_mode ? *m_mode : kNoMode; }
    const CString& GetPath() const { return m_path; }
    // Ok after a successful Open.
    const platform::Status& GetOpenFailure() const { return m_failure; }

    // The pause between open attempts (tests pass one that does not wait).
    void SetSleeper(platform::Sleeper sleeper) { m_sleeper = std::move(sleeper); }
    // The stamp of WriteStamped (tests fix the time).
    void SetClock(std::function<std::string()> clock) { m_clock = std::move(clock); }

  protected:
    // `path`: the full path of the file, fixed for the life of the object.
    explicit KvBatchFile(CString path);

    std::FILE* Stream() const { return m_stream; }
    // Opens the stream through OpenSharedFile without remembering `mode`, for
    // a derived class that must write to a closed file (the queue's Write
    // opens it "wt"). An open stream is closed first. False as for Open.
    bool OpenWithoutRecording(const char* mode);
    const platform::Sleeper& GetSleeper() const { return m_sleeper; }
    // For a derived class whose own writing fails (a file written beside
    // this one).
    void SetOpenFailure(platform::Status failure) { m_failure = std::move(failure); }

  private:
    static const std::string kNoMode;

    std::FILE* m_stream = nullptr;
    std::optional<std::string> m_mode;
    CString m_path;
    platform::Status m_failure;
    platform::Sleeper m_sleeper = platform::RealSleeper();
    std::function<std::string()> m_clock;
};
