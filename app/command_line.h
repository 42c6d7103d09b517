// The launcher's command line: the two options that work with no
// installation (--help, --version), the status view (--status, optionally
// with --json, in either order) and the program's version.
//
// A run takes no argument at all. --help and --version, each alone, print
// their text and end the program with status 0 before any setting is read;
// --status needs the settings and the users list to find the batch folder
// (app/batch_status.h); every other argument is left to the start-up
// sequence, which ends with status 1 as it always has.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

enum class CommandLineRequest {
    kRunBatch,        // no argument
    kPrintHelp,       // "--help" alone
    kPrintVersion,    // "--version" alone
    kShowStatus,      // "--status" alone
    kShowStatusJson,  // "--status" and "--json"
    kRefused,         // anything else
};

CommandLineRequest ReadCommandLine(int argc, const char* const argv[]);

// The project's version, "MAJOR.MINOR.PATCH", fixed at build time.
const char* ProgramVersion();

std::string HelpText();
std::string VersionText();

// Answers --help and --version on `out`: the exit status once answered,
// nothing when the program goes on to its start-up sequence.
std::optional<int> AnswerInformationRequest(int argc, const char* const argv[],
                                            std::FILE* out = stdout);
