// Win32 processes: the tool-help snapshot, OpenProcess for waiting, and
// CreateProcessA for launching.
#include "platform/process.h"

#include <windows.h>
// (after windows.h, which it needs)
#include <tlhelp32.h>

#include <map>
#include <mutex>

#include "platform/win32/system_message.h"

namespace platform {
namespace {

// Processes started without waiting, until WaitForLaunched has waited for
// them. An entry stays while it is waited for, so that TerminateLaunched
// from another thread still finds the process.
struct Launched {
    HANDLE process = nullptr;
    bool waitedFor = false;
};
std::mutex g_launchedMutex;
std::map<ProcessId, Launched> g_launched;

}  // namespace

namespace testing {
void ForceProcessPolling(bool) {}
}  // namespace testing

std::vector<ProcessEntry> SnapshotProcesses() {
    std::vector<ProcessEntry> entries;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return entries;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more;
         more = ::Process32Next(snapshot, &entry)) {
        entries.push_back({static_cast<ProcessId>(entry.th32ProcessID), entry.szExeFile});
    }
    ::CloseHandle(snapshot);
    return entries;
}

WaitOutcome WaitForProcessEnd(ProcessId id) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (process == nullptr)
        return WaitOutcome::kCannotOpen;
    ::WaitForSingleObject(process, INFINITE);
    ::CloseHandle(process);
    return WaitOutcome::kEnded;
}

LaunchResult LaunchCommandLine(std::string_view commandLine, const LaunchOptions& options) {
    LaunchResult result;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!options.show) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info{};
    // CreateProcessA may write into the command line: give it a copy.
    std::string line(commandLine);
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        result.reason = SystemMessage(::GetLastError());
        return result;
    }
    ::CloseHandle(info.hThread);
    result.created = true;
    result.id = static_cast<ProcessId>(info.dwProcessId);
    if (!options.wait) {
        std::lock_guard<std::mutex> lock(g_launchedMutex);
        g_launched[result.id] = Launched{info.hProcess, false};
        return result;
    }
    HWND window = static_cast<HWND>(options.window);
    bool minimize = options.minimizeWhileWaiting && window != nullptr && ::IsWindow(window);
    if (minimize)
        ::ShowWindow(window, SW_MINIMIZE);
    ::WaitForSingleObject(info.hProcess, INFINITE);
    if (minimize)
        ::ShowWindow(window, SW_RESTORE);
    DWORD code = 0;
    result.exitCode = ::GetExitCodeProcess(info.hProcess, &code) ? static_cast<int>(code) : -1;
    ::CloseHandle(info.hProcess);
    return result;
}

std::optional<int> WaitForLaunched(ProcessId id) {
    HANDLE process = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_launchedMutex);
        auto found = g_launched.find(id);
        if (found == g_launched.end() || found->second.waitedFor)
            return std::nullopt;
        found->second.waitedFor = true;
        process = found->second.process;
    }
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    std::optional<int> result;
    if (::GetExitCodeProcess(process, &code))
        result = static_cast<int>(code);
    {
        std::lock_guard<std::mutex> lock(g_launchedMutex);
        g_launched.erase(id);
    }
    ::CloseHandle(process);
    return result;
}

bool TerminateLaunched(ProcessId id) {
    std::lock_guard<std::mutex> lock(g_launchedMutex);
    auto found = g_launched.find(id);
    if (found == g_launched.end())
        return false;
    // Refused for a process that has ended already: it keeps its own code.
    ::TerminateProcess(found->second.process, static_cast<UINT>(kTerminatedExitCode));
    return true;
}

}  // namespace platform
