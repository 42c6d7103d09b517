// Job launching and the error reporter.
//
// Each queued job runs the installation's command script "TorvaneBatch.bat"
// in batch mode for the job's user and job name; the batch run waits for it
// to end and then judges the job from its batch log, never from the exit
// code. LaunchProcess starts a command line and optionally waits; when the
// line cannot be started it says so through ReportError.
//
// ReportError is how errors that concern the user reach them: a catalogue
// text, a blank and a detail. Running unattended, nobody would see a message
// box, so the caller may pass an error sink that takes the text instead: the
// batch run passes one that appends it as an event to the running job's log
// (JobLogErrorSink, job_run.h). Without a sink a message box shows it.
//
// The launcher itself is replaceable (ProcessLauncher) so that the batch
// run's tests need no real process.
#pragma once

#include <functional>
#include <string_view>

#include "containers/cstring.h"
#include "platform/process.h"

// Takes the text of an error in place of the message box.
using ErrorSink = std::function<void(const CString& message)>;

// Reports the user catalogue text (3, 12, a, b), a blank and `detail`: to
// `sink` when it is set, otherwise in a message box (title: user catalogue
// text (2, 1, 1, 0); exclamation icon, OK button) that blocks until
// dismissed.
void ReportError(int a, int b, const CString& detail, const ErrorSink& sink = {});

// Starts a command line: platform::LaunchCommandLine, or a stand-in in tests.
using ProcessLauncher =
    std::function<platform::LaunchResult(std::string_view, const platform::LaunchOptions&)>;
ProcessLauncher HostProcessLauncher();

// Starts `commandLine` with `options` through `launcher` and returns what
// the launcher answered. When the process was not created,
// ReportError(1, 1, the command line, sink) has been called. A launcher that
// throws has reported nothing; the throw passes on.
platform::LaunchResult Launch(const CString& commandLine, const platform::LaunchOptions& options,
                              const ProcessLauncher& launcher, const ErrorSink& sink);

// Starts `commandLine` (no separate program name: the program is its first,
// quoted, token; no inherited handles; our environment and folder). `show` 0
// hides the new window. With `wait` non-zero, blocks without time-out until
// the process has ended, minimising `window` meanwhile when `minimize` is
// non-zero and it is a valid window (a console program has no main window to
// fall back on, so nothing is minimised otherwise). Returns 1 when the
// process was started, 0 when it could not be: ReportError(1, 1, the
// command line, sink) has then been called. The exit code plays no part.
int LaunchProcess(const CString& commandLine, int wait, int minimize, void* window, int show,
                  const ProcessLauncher& launcher = HostProcessLauncher(),
                  const ErrorSink& sink = {});

// The script of the job command line: "<installFolder>TorvaneBatch.bat" in
// double quotes. The folder ends with a backslash (GetInstallFolder).
CString JobScript(const CString& installFolder);
// <script> -b -u "<user>" -j "<job>": the names are enclosed in double
// quotes as they stand, so blanks stay inside one argument; a name holding a
// double quote would break the line (nothing escapes it).
CString JobCommandLine(const CString& script, const CString& user, const CString& job);
