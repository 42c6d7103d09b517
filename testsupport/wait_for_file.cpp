#include "testsupport/wait_for_file.h"

#include <cstdio>

#include "platform/command_line.h"
#include "platform/shared_file.h"
#include "platform/sleep.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_main.h"

namespace testsupport {
namespace {

// "<path> <mode> <ready> <go> <expected> <append>": see FileHolder.
TV_TEST_CHILD(hold_file) {
    if (argc < 7)
        return 4;
    platform::ExclusiveOpen held = platform::OpenExclusive(argv[1], argv[2]);
    // Renamed into place, so that the test never reads it half written.
    const std::string ready = argv[3];
    WriteBytes(ready + ".tmp", held.stream != nullptr ? "ready" : "not opened");
    std::filesystem::rename(ready + ".tmp", ready);
    if (held.stream == nullptr)
        return 2;
    if (!WaitForFile(argv[4])) {
        std::fclose(held.stream);
        return 3;
    }
    std::rewind(held.stream);
    std::string text;
    for (int ch; (ch = std::fgetc(held.stream)) != EOF;) text += static_cast<char>(ch);
    if (*argv[6] != '\0') {
        std::fseek(held.stream, 0, SEEK_END);
        std::fputs(argv[6], held.stream);
    }
    std::fclose(held.stream);
    return text == argv[5] ? 0 : 1;
}

}  // namespace

bool WaitForFile(const std::filesystem::path& path, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (std::filesystem::exists(path))
            return true;
        platform::SleepMs(20);
    }
    return std::filesystem::exists(path);
}

bool EndsWithin(const platform::ProcessIdentity& process, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (!platform::IsStillRunning(process))
            return true;
        platform::SleepMs(20);
    }
    return !platform::IsStillRunning(process);
}

void WriteIdentityFile(const std::string& path, const platform::ProcessIdentity& process) {
    WriteBytes(path + ".tmp", std::to_string(process.id) + " " + std::to_string(process.startTime));
    std::filesystem::rename(path + ".tmp", path);
}

platform::ProcessIdentity ReadIdentityFile(const std::string& path) {
    platform::ProcessIdentity identity;
    unsigned long long id = 0, start = 0;
    if (WaitForFile(path) && std::sscanf(ReadBytes(path).c_str(), "%llu %llu", &id, &start) == 2)
        identity = {static_cast<platform::ProcessId>(id), start};
    return identity;
}

FileHolder::FileHolder(const std::string& path, const std::string& mode, std::string expected,
                       std::string append)
    : m_go(path + ".go") {
    const std::string ready = path + ".ready";
    std::string line = platform::JoinCommandLine(
        TestExecutablePath(),
        {ChildArgument("hold_file"), path, mode, ready, m_go, expected, append});
    m_child = platform::LaunchCommandLine(line, {.wait = false});
    if (!m_child.created) {
        m_reason = "cannot start the holder: " + m_child.reason;
        return;
    }
    if (!WaitForFile(ready))
        m_reason = "the holder never opened the file";
    else if (ReadBytes(ready) != "ready")
        m_reason = "the holder could not open the file";
    else
        m_holding = true;
}

FileHolder::~FileHolder() {
    if (m_child.created && !m_waited) {
        Release();
        Wait();
    }
}

void FileHolder::Release() {
    WriteBytes(m_go, "go");
}

std::optional<int> FileHolder::Wait() {
    m_waited = true;
    return m_child.created ? platform::WaitForLaunched(m_child.id) : std::nullopt;
}

}  // namespace testsupport
