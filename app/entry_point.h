// The launcher's start-up sequence and its teardown, called by main().
//
// Settings come from the registry only: the paths of the system catalogue,
// of the user catalogue's language list and of the users list, and the
// language. --help and --version are answered before anything else (see
// app/command_line.h). After the catalogues the program refuses any other
// argument, prints its banner, loads the users list, takes the current user's
// batch folder (where --status shows the batch, with no banner, and ends),
// makes sure it is the only launcher working on that folder,
// waits until no interactive simulator runs, and runs the queue.
//
// Exit status: 0 after a batch run, --help, --version or --status (and after
// the fatal message of a missing product key); 1 for a start-up failure, any
// other argument, or another launcher already running on the same batch
// folder; 2 when a batch text file cannot be opened for a reason that waiting
// cannot cure, or when the machine setting BATCHENGINE names an engine that
// this build cannot use (one line on standard error, before the queue is
// touched); 3 when --status found the queue busy for its whole wait.
// The libraries below only report these failures (a platform::Status); this
// is the one place that shows them and ends the program.
#pragma once

#include "app/batch_exec_file.h"
#include "app/batch_run.h"
#include "platform/status.h"

// Console output of the start-up sequence.
inline constexpr const char* kMissingFileLine = "File does not exist : ";

// The lock that keeps a second launcher off a batch folder: a file of its
// own, held exclusively for the whole run and released by the system when
// the process ends, however it ends.
inline constexpr const char* kLauncherLockName = "torvane-batch.lock";

// The exit status after the message box of a missing product key, as the
// launcher has always ended on it.
inline constexpr int kSettingsMissingExitStatus = 0;
// The exit status of a run stopped by a file it cannot open.
inline constexpr int kOpenFailureExitStatus = 2;

// What the program does with a failure that stops it: a missing product key
// (SettingsMissing) is shown in a message box; any other failure, a file
// that cannot be opened, is one line on standard error naming the file and
// the reason, after whatever standard output holds. Returns the exit status.
int EndOnFailure(const platform::Status& failure);

// The whole program. `host` replaces the pauses and the launcher in tests.
int TorvaneBatchMain(int argc, char* argv[], const BatchRunHost& host = BatchRunHost());
