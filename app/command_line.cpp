#include "app/command_line.h"

#include <cstring>

#ifndef TV_PROGRAM_VERSION
#error "TV_PROGRAM_VERSION comes from the project's version in CMakeLists.txt"
#endif

CommandLineRequest ReadCommandLine(int argc, const char* const argv[]) {
    if (argc <= 1)
        return CommandLineRequest::kRunBatch;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0)
        return CommandLineRequest::kPrintHelp;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        return CommandLineRequest::kPrintVersion;
    if (argc == 2 && std::strcmp(argv[1], "--status") == 0)
        return CommandLineRequest::kShowStatus;
    if (argc == 3 &&
        ((std::strcmp(argv[1], "--status") == 0 && std::strcmp(argv[2], "--json") == 0) ||
         (std::strcmp(argv[1], "--json") == 0 && std::strcmp(argv[2], "--status") == 0)))
        return CommandLineRequest::kShowStatusJson;
    return CommandLineRequest::kRefused;
}

const char* ProgramVersion() {
    return TV_PROGRAM_VERSION;
}

std::string HelpText() {
    return "Usage: torvane-batch\n"
           "       torvane-batch --status [--json]\n"
           "       torvane-batch --help | --version\n"
           "\n"
           "Runs the current user's queue of Torvane simulation jobs (batchexec.txt in the\n"
           "user's batch folder) one job at a time, once no interactive simulator is\n"
           "running, and appends each job's outcome to batchreport.txt beside it.\n"
           "\n"
           "Options:\n"
           "  --help     print this text and exit\n"
           "  --version  print the version and exit\n"
           "  --status   show the batch: the launcher, each queued job and the counts;\n"
           "             read only, it waits at most 3 s for the queue\n"
           "  --json     with --status: one JSON object (UTF-8) for programs\n"
           "Any other argument ends the program with status 1.\n"
           "\n"
           "Settings are read from the registry key\n"
           "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarrow Labs\\Torvane8 (on Linux the files\n"
           "/etc/torvane8/machine.reg and ~/.config/torvane8/user.reg, or those under\n"
           "$TORVANE_PREFIX); see the README or torvane-batch(1).\n"
           "\n"
           "Exit status: 0 after a batch run or a status shown, 1 for a start-up\n"
           "failure, a refused argument or another launcher on the same batch folder,\n"
           "2 when a batch file cannot be opened for a reason that waiting cannot cure,\n"
           "3 when --status found the queue busy for its whole wait.\n";
}

std::string VersionText() {
    return std::string("torvane-batch ") + ProgramVersion() + "\n";
}

std::optional<int> AnswerInformationRequest(int argc, const char* const argv[], std::FILE* out) {
    std::string text;
    switch (ReadCommandLine(argc, argv)) {
        case CommandLineRequest::kPrintHelp:
            text = HelpText();
            break;
        case CommandLineRequest::kPrintVersion:
            text = VersionText();
            break;
        case CommandLineRequest::kRunBatch:
        case CommandLineRequest::kShowStatus:
        case CommandLineRequest::kShowStatusJson:
        case CommandLineRequest::kRefused:
            return std::nullopt;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    // A closed or full output (for example `--help | head -0`) is a failure
    // the caller should see in the status.
    if (std::fflush(out) != 0 || !written)
        return 1;
    return 0;
}
