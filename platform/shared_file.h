// Exclusive open of the files that other programs of the suite share with the
// launcher (the queue and the report file): while one program holds such a
// file, every other program that opens it through here waits.
//
// TryOpenExclusive makes one attempt and never blocks. OpenExclusive retries
// every 500 ms, through the given Sleeper, for as long as another program
// holds the file, and gives up at once on a failure that waiting cannot cure
// (missing folder, access denied, a folder in place of the file, a bad mode,
// disk full): it then returns a null stream and an I/O error status with the
// host's reason, for the caller to print with the file name. It has no
// time-out. OpenExclusiveWithin is the same with a bound, for a reader that
// must not wait all night (a status view): past `maxWaitMs` of pauses it
// gives up with Busy.
//   Win32: _fsopen(path, mode, _SH_DENYRW); only a sharing or lock violation
//          counts as "held by another program". The stream is not inherited
//          by processes the program starts.
//   Linux: open(2) with O_CLOEXEC, then flock(LOCK_EX | LOCK_NB), the lock
//          held until the stream is closed. Every program of the suite takes
//          the same lock; a program that does not is not kept out, as flock
//          is advisory. A "w" open creates the file but truncates it only once
//          the lock is held, so waiting never destroys the holder's data. A
//          file replaced or deleted by its holder while we waited is opened
//          afresh by its name. Text mode translates line ends as OpenStream
//          does.
// The path is a Windows-form path (it goes through ToHostPath).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/sleep.h"
#include "platform/status.h"

namespace platform {

// The status is ok with a stream, Busy when another program holds the file
// (waiting may cure it), or an I/O error whose message is the host's text.
struct ExclusiveOpen {
    std::FILE* stream = nullptr;  // owned by the caller (fclose), null unless opened
    Status status;
};

// The pause between two attempts of OpenExclusive.
constexpr std::uint32_t kSharedRetryMs = 500;

ExclusiveOpen TryOpenExclusive(std::string_view windowsPath, const char* mode);

// Blocks while the file is busy. The status is never Busy.
ExclusiveOpen OpenExclusive(std::string_view windowsPath, const char* mode,
                            const Sleeper& sleeper = RealSleeper());

// As OpenExclusive, but gives kBusy once the pauses taken reach `maxWaitMs`
// (one attempt when it is 0). The pauses are counted, not timed, so a test's
// Sleeper that does not wait gives the same number of attempts.
ExclusiveOpen OpenExclusiveWithin(std::string_view windowsPath, const char* mode,
                                  std::uint32_t maxWaitMs, const Sleeper& sleeper = RealSleeper());

}  // namespace platform
