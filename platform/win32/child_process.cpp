#include "platform/child_process.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>

#include "containers/cstring.h"
#include "platform/command_line.h"
#include "platform/win32/system_message.h"

namespace platform {
namespace {

struct Handle {
    HANDLE h = nullptr;
    ~Handle() { Close(); }
    void Close() {
        if (h != nullptr && h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
        h = nullptr;
    }
};

// Reads the pipe until every writer has closed it or, once `ended` is set,
// until it holds nothing more: what the program wrote before it ended is in
// the pipe by then, while a process it started may keep the pipe open for
// ever (Wine's desktop process, started by the first window a program opens,
// inherits the program's outputs).
void Drain(HANDLE pipe, std::string& sink, const std::atomic<bool>& ended) {
    char buffer[4096];
    for (;;) {
        // Read before the look: a program that wrote and ended between an
        // empty look and this check would otherwise lose its last output.
        const bool endedBefore = ended.load();
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return;  // every writer has closed it
        if (available == 0) {
            if (endedBefore)
                return;
            ::Sleep(5);
            continue;
        }
        DWORD got = 0;
        DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
        if (!::ReadFile(pipe, buffer, wanted, &got, nullptr) || got == 0)
            return;
        sink.append(buffer, got);
    }
}

// Our environment block with the extra entries replacing variables of the
// same name (names compare without regard to case, as Windows does).
std::string EnvironmentBlock(const EnvironmentEntries& extra) {
    std::string block;
    char* strings = ::GetEnvironmentStringsA();
    for (const char* entry = strings; entry != nullptr && *entry != '\0';
         entry += std::strlen(entry) + 1) {
        std::string_view text(entry);
        // Entries such as "=C:=C:\dir" start with "=": their name goes up to the second "=".
        std::size_t equals = text.find('=', 1);
        std::string_view name = text.substr(0, equals);
        bool replaced = false;
        for (const auto& [extraName, value] : extra)
            replaced = replaced || CompareNoCase(name, extraName) == 0;
        if (!replaced) {
            block += text;
            block += '\0';
        }
    }
    if (strings != nullptr)
        ::FreeEnvironmentStringsA(strings);
    for (const auto& [name, value] : extra) {
        block += name + "=" + value;
        block += '\0';
    }
    block += '\0';
    return block;
}

}  // namespace

CapturedRun RunAndCapture(const std::string& program, const std::vector<std::string>& arguments,
                          const EnvironmentEntries& extraEnvironment, std::uint32_t timeLimitMs) {
    using Clock = std::chrono::steady_clock;
    const bool limited = timeLimitMs != kNoTimeLimit;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
    CapturedRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle outRead, outWrite, errRead, errWrite, input;
    if (!::CreatePipe(&outRead.h, &outWrite.h, &inherit, 0) ||
        !::CreatePipe(&errRead.h, &errWrite.h, &inherit, 0)) {
        run.reason = SystemMessage(::GetLastError());
        return run;
    }
    // Only the child's ends are inherited.
    ::SetHandleInformation(outRead.h, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead.h, HANDLE_FLAG_INHERIT, 0);
    input.h = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.h;
    startup.hStdOutput = outWrite.h;
    startup.hStdError = errWrite.h;
    std::string line = JoinCommandLine(program, arguments);
    std::string environment = EnvironmentBlock(extraEnvironment);
    // A limited program runs in a job object of its own, so that what it
    // started can be ended with it. It is created suspended and put in the
    // job before it can start anything.
    Handle job;
    if (limited)
        job.h = ::CreateJobObjectA(nullptr, nullptr);
    PROCESS_INFORMATION info{};
    DWORD flags = job.h != nullptr ? CREATE_SUSPENDED : 0;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, environment.data(),
                          nullptr, &startup, &info)) {
        run.reason = SystemMessage(::GetLastError());
        return run;
    }
    run.started = true;
    Handle process{info.hProcess};
    if (job.h != nullptr) {
        ::AssignProcessToJobObject(job.h, info.hProcess);
        ::ResumeThread(info.hThread);
    }
    ::CloseHandle(info.hThread);
    outWrite.Close();
    errWrite.Close();
    input.Close();
    // One thread per pipe, so that a child filling one pipe cannot stall.
    std::string out, err;
    // Without a time limit the outputs are read to the program's end; with
    // one, to their close (a process left holding them times the run out).
    std::atomic<bool> ended{false};
    std::future<void> outReader =
        std::async(std::launch::async, Drain, outRead.h, std::ref(out), std::cref(ended));
    std::future<void> errReader =
        std::async(std::launch::async, Drain, errRead.h, std::ref(err), std::cref(ended));
    auto left = [&]() -> DWORD {
        if (!limited)
            return INFINITE;
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return ms > 0 ? static_cast<DWORD>(ms) : 0;
    };
    bool inTime = ::WaitForSingleObject(process.h, left()) == WAIT_OBJECT_0;
    if (!limited)
        ended = true;
    if (limited) {
        inTime =
            inTime &&
            outReader.wait_for(std::chrono::milliseconds(left())) == std::future_status::ready &&
            errReader.wait_for(std::chrono::milliseconds(left())) == std::future_status::ready;
        if (!inTime) {
            // Ending the job closes every write end of the pipes, which ends
            // the readers.
            run.timedOut = true;
            if (job.h != nullptr)
                ::TerminateJobObject(job.h, kTerminatedExitCode);
            else
                ::TerminateProcess(process.h, kTerminatedExitCode);
            ::WaitForSingleObject(process.h, INFINITE);
        }
    }
    outReader.wait();
    errReader.wait();
    run.out = std::move(out);
    run.err = std::move(err);
    DWORD code = 0;
    if (::GetExitCodeProcess(process.h, &code))
        run.exitCode = static_cast<int>(code);
    return run;
}

}  // namespace platform
