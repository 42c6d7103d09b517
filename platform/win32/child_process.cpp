#include "platform/child_process.h"

#include <windows.h>

#include <cstring>
#include <thread>

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

void Drain(HANDLE pipe, std::string& sink) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        sink.append(buffer, got);
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
                          const EnvironmentEntries& extraEnvironment) {
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
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, environment.data(),
                          nullptr, &startup, &info)) {
        run.reason = SystemMessage(::GetLastError());
        return run;
    }
    run.started = true;
    ::CloseHandle(info.hThread);
    outWrite.Close();
    errWrite.Close();
    input.Close();
    // One thread per pipe, so that a child filling one pipe cannot stall.
    std::thread errReader(Drain, errRead.h, std::ref(run.err));
    Drain(outRead.h, run.out);
    errReader.join();
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    if (::GetExitCodeProcess(info.hProcess, &code))
        run.exitCode = static_cast<int>(code);
    ::CloseHandle(info.hProcess);
    return run;
}

}  // namespace platform
