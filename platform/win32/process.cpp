// Win32 processes: the tool-help snapshot, OpenProcess for identities and
// waits, CreateProcessA for launching, and a named job object per group.
#include "platform/process.h"

#include <windows.h>
// (after windows.h, which it needs)
#include <tlhelp32.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/win32/file_time.h"
#include "platform/win32/system_message.h"

namespace platform {
namespace {

// Processes started without waiting, until WaitForLaunched has waited for
// them. An entry stays while it is waited for, so that TerminateLaunched
// from another thread still finds the process.
struct Launched {
    HANDLE process = nullptr;
    bool waitedFor = false;
    HANDLE heldThread = nullptr;  // launched held: its thread, still suspended
};
std::mutex g_launchedMutex;
std::map<ProcessId, Launched> g_launched;
// The job objects of the groups this launcher started, open until ended.
std::map<ProcessId, HANDLE> g_groupJobs;

// The job object of a group, found again by any launcher from the identity
// of its first process.
std::string JobName(const ProcessIdentity& process) {
    return "Local\\torvane-batch-job-" + std::to_string(process.id) + "-" +
           std::to_string(process.startTime);
}

// The creation time of an open process, 0 when it cannot be read.
std::uint64_t CreationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return FileTimeValue(created);
}

// The process with this identity, opened with `access` (plus the right to
// read its times); nullptr when there is none, or its number now names
// another process. An ended process that someone still holds is returned.
HANDLE OpenIdentified(const ProcessIdentity& process, DWORD access) {
    if (process.id == 0 || process.startTime == 0)
        return nullptr;
    HANDLE handle = ::OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                  static_cast<DWORD>(process.id));
    if (handle == nullptr)
        return nullptr;
    if (CreationTime(handle) != process.startTime) {
        ::CloseHandle(handle);
        return nullptr;
    }
    return handle;
}

bool HasEnded(HANDLE process) {
    return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Whether closing the job's last handle kills what it holds.
bool SetKillOnClose(HANDLE job, bool kill) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = kill ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
    return ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits) != 0;
}

// Gives the leader its inheritable handle to its job.
void GiveJobToLeader(HANDLE job, HANDLE process) {
    HANDLE inLeader = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), job, process, &inLeader, 0, TRUE,
                      DUPLICATE_SAME_ACCESS);
}

// Puts a process created suspended into a job object of its own. The job
// lives while a process holds a handle to it, and its name only while a
// handle is open: the leader gets one (inheritable, so that what it starts
// with handles inherited, as the command interpreter does, carries it on),
// and this launcher keeps its own until it ends the group. A held process
// gets its handle at its release: until then this launcher's handle is the
// only one, and the job kills the process when that closes.
bool PutInOwnJob(HANDLE process, const ProcessIdentity& identity, bool held, std::string& reason) {
    HANDLE job = ::CreateJobObjectA(nullptr, JobName(identity).c_str());
    if (job == nullptr) {
        reason = SystemMessage(::GetLastError());
        return false;
    }
    // A launcher inside a job of its own (a scheduled task) that refused the
    // breakaway gets a nested job: Windows 8 and later allow them.
    if ((held && !SetKillOnClose(job, true)) || !::AssignProcessToJobObject(job, process)) {
        reason = SystemMessage(::GetLastError());
        ::CloseHandle(job);
        return false;
    }
    if (!held)
        GiveJobToLeader(job, process);
    std::lock_guard<std::mutex> lock(g_launchedMutex);
    HANDLE& kept = g_groupJobs[identity.id];
    if (kept != nullptr)
        ::CloseHandle(kept);  // a group of long ago that had the same number
    kept = job;
    return true;
}

}  // namespace

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
    // A group leaves any job this launcher runs in (a scheduled task ends
    // its job's processes with it) when that job allows it.
    DWORD flags = options.ownGroup ? CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB : 0;
    BOOL made = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                 nullptr, &startup, &info);
    if (!made && options.ownGroup && ::GetLastError() == ERROR_ACCESS_DENIED) {
        flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
        line = std::string(commandLine);
        made = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                nullptr, &startup, &info);
    }
    if (!made) {
        result.reason = SystemMessage(::GetLastError());
        return result;
    }
    result.id = static_cast<ProcessId>(info.dwProcessId);
    result.startTime = CreationTime(info.hProcess);
    const bool held = options.ownGroup && options.held && !options.wait;
    if (options.ownGroup) {
        if (!PutInOwnJob(info.hProcess, {result.id, result.startTime}, held, result.reason)) {
            ::TerminateProcess(info.hProcess, static_cast<UINT>(kTerminatedExitCode));
            ::CloseHandle(info.hThread);
            ::CloseHandle(info.hProcess);
            result.id = 0;
            result.startTime = 0;
            return result;
        }
        if (!held)
            ::ResumeThread(info.hThread);
    }
    if (!held)
        ::CloseHandle(info.hThread);
    result.created = true;
    if (!options.wait) {
        std::lock_guard<std::mutex> lock(g_launchedMutex);
        g_launched[result.id] = Launched{info.hProcess, false, held ? info.hThread : nullptr};
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

std::optional<int> RunHeldStartGate(int, char**) {
    return std::nullopt;  // a held process waits suspended: no gate
}

Status ReleaseLaunched(ProcessId id) {
    std::lock_guard<std::mutex> lock(g_launchedMutex);
    auto found = g_launched.find(id);
    if (found == g_launched.end() || found->second.heldThread == nullptr)
        return Status::Ok();
    auto job = g_groupJobs.find(id);
    if (job == g_groupJobs.end())
        return Status::IoError("the job object of the process is gone");
    if (!SetKillOnClose(job->second, false))
        return WindowsError(::GetLastError());
    // Once the job no longer kills on closing, the leader may hold it too.
    GiveJobToLeader(job->second, found->second.process);
    if (::ResumeThread(found->second.heldThread) == static_cast<DWORD>(-1))
        return WindowsError(::GetLastError());
    ::CloseHandle(found->second.heldThread);
    found->second.heldThread = nullptr;
    return Status::Ok();
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
        auto found = g_launched.find(id);
        if (found != g_launched.end() && found->second.heldThread != nullptr)
            ::CloseHandle(found->second.heldThread);
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

std::optional<ProcessIdentity> IdentifyProcess(ProcessId id) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   static_cast<DWORD>(id));
    if (process == nullptr)
        return std::nullopt;
    std::optional<ProcessIdentity> identity;
    std::uint64_t created = CreationTime(process);
    if (created != 0 && !HasEnded(process))
        identity = ProcessIdentity{id, created};
    ::CloseHandle(process);
    return identity;
}

bool IsStillRunning(const ProcessIdentity& process) {
    HANDLE handle = OpenIdentified(process, SYNCHRONIZE);
    if (handle == nullptr)
        return false;
    bool running = !HasEnded(handle);
    ::CloseHandle(handle);
    return running;
}

WaitOutcome WaitForProcess(const ProcessIdentity& process, std::uint32_t timeLimitMs) {
    HANDLE handle = OpenIdentified(process, SYNCHRONIZE);
    if (handle == nullptr)
        return WaitOutcome::kCannotOpen;
    // kNoTimeLimit is INFINITE.
    DWORD waited = ::WaitForSingleObject(handle, timeLimitMs);
    ::CloseHandle(handle);
    return waited == WAIT_TIMEOUT ? WaitOutcome::kTimedOut : WaitOutcome::kEnded;
}

bool EndProcessGroup(const ProcessIdentity& process, std::uint32_t) {
    if (process.id == 0 || process.startTime == 0)
        return false;
    HANDLE job = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_launchedMutex);
        auto found = g_groupJobs.find(process.id);
        if (found != g_groupJobs.end()) {
            job = found->second;
            g_groupJobs.erase(found);
        }
    }
    // The handle kept by the launcher that started the group may belong to
    // an earlier group with the same number: only the name tells.
    HANDLE named =
        ::OpenJobObjectA(JOB_OBJECT_TERMINATE | JOB_OBJECT_QUERY, FALSE, JobName(process).c_str());
    if (job != nullptr)
        ::CloseHandle(job);
    // Only a group with processes left counts as found: an ended process
    // may keep its job object (and so its name) alive a while.
    bool ended = false;
    if (named != nullptr) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION counts{};
        bool empty = ::QueryInformationJobObject(named, JobObjectBasicAccountingInformation,
                                                 &counts, sizeof counts, nullptr) &&
                     counts.ActiveProcesses == 0;
        if (!empty)
            ended = ::TerminateJobObject(named, static_cast<UINT>(kTerminatedExitCode)) != 0;
        ::CloseHandle(named);
    }
    // No job by that name (a leader launched alone, or every holder of the
    // name gone): the process alone, when it is still the same one.
    HANDLE leader = OpenIdentified(process, PROCESS_TERMINATE | SYNCHRONIZE);
    if (leader != nullptr) {
        if (!HasEnded(leader) && ::TerminateProcess(leader, static_cast<UINT>(kTerminatedExitCode)))
            ended = true;
        ::CloseHandle(leader);
    }
    return ended;
}

}  // namespace platform
