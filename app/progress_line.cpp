#include "app/progress_line.h"

#include <cstdio>

namespace {

std::string Shown(const CString& text) {
    std::string shown = text.str();
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f')
            c = '?';
    return shown;
}

std::string TwoDigits(std::int64_t value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

}  // namespace

std::string FormatElapsed(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds > 0 ? milliseconds / 1000 : 0;
    const std::int64_t hours = seconds / 3600;
    const std::int64_t minutes = seconds / 60 % 60;
    if (hours > 0)
        return std::to_string(hours) + "h" + TwoDigits(minutes) + "m" + TwoDigits(seconds % 60) +
               "s";
    if (minutes > 0)
        return std::to_string(minutes) + "m" + TwoDigits(seconds % 60) + "s";
    return std::to_string(seconds) + "s";
}

std::string FormatProgressLine(const JobProgress& progress) {
    std::string line = "[" + std::to_string(progress.position + 1) + "/" +
                       std::to_string(progress.total) + "] " + Shown(progress.user) + " " +
                       Shown(progress.job) + (progress.succeeded ? " succeeded" : " failed");
    if (progress.elapsedMs)
        line += " in " + FormatElapsed(*progress.elapsedMs);
    return line;
}

void PrintProgressLine(const JobProgress& progress) {
    const std::string line = FormatProgressLine(progress) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}
