#include "platform/command_line.h"

namespace platform {
namespace {

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> arguments;
    if (line.empty())
        return arguments;

    std::size_t i = 0;
    std::string program;
    if (line[0] == '"') {
        for (i = 1; i < line.size() && line[i] != '"'; ++i) program += line[i];
        if (i < line.size())
            ++i;  // the closing quote; text glued to it starts the next argument
    } else {
        for (; i < line.size() && !IsBlank(line[i]); ++i) program += line[i];
    }
    arguments.push_back(std::move(program));
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size())
        return arguments;

    std::string current;
    // quotes: quote characters seen in the current quoted run (1 = inside
    // quotes, 0 = outside; 2 transiently); backslashes: the run just copied.
    int quotes = 0;
    std::size_t backslashes = 0;
    while (i < line.size()) {
        char ch = line[i];
        if (IsBlank(ch) && quotes == 0) {
            arguments.push_back(std::move(current));
            current.clear();
            while (i < line.size() && IsBlank(line[i])) ++i;
            backslashes = 0;
            if (i == line.size())
                return arguments;
            continue;
        }
        if (ch == '\\') {
            current += ch;
            ++backslashes;
            ++i;
            continue;
        }
        if (ch == '"') {
            if (backslashes % 2 == 0) {
                current.resize(current.size() - backslashes / 2);
                ++quotes;
            } else {
                current.resize(current.size() - backslashes / 2 - 1);
                current += '"';
            }
            ++i;
            backslashes = 0;
            // A run of further quotes: every third one is a literal quote.
            while (i < line.size() && line[i] == '"') {
                if (++quotes == 3) {
                    current += '"';
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2)
                quotes = 0;
            continue;
        }
        current += ch;
        backslashes = 0;
        ++i;
    }
    arguments.push_back(std::move(current));
    return arguments;
}

std::string QuoteArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos)
        return std::string(argument);
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char ch : argument) {
        if (ch == '\\') {
            ++backslashes;
            continue;
        }
        if (ch == '"') {
            // Backslashes before a quote are doubled, and the quote escaped.
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += ch;
    }
    // Before the closing quote, backslashes are doubled too.
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string JoinCommandLine(std::string_view program, const std::vector<std::string>& arguments) {
    std::string line = "\"" + std::string(program) + "\"";
    for (const std::string& argument : arguments) {
        line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

}  // namespace platform
