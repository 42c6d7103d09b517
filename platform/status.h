// The result of an operation that can fail for a reason someone must read:
// ok, or a code and a message, with the thing that failed (a file, a key) as
// its context. It lives in platform/ because the host calls are the lowest
// layer that fails this way, and every subsystem above passes their failures
// on; a failure that only its caller acts on stays a plain bool.
//
// The message is the host's own text (ErrnoError on Linux, and WindowsError
// in win32/system_message.h on Windows build it) or the program's text for a
// failure of its own. Nothing here prints or ends the process: the caller
// that owns the output decides what a failure shows and what it ends.
#pragma once

#include <cstring>
#include <string>
#include <utility>

namespace platform {

class Status {
  public:
    enum class Code {
        kOk,
        kBusy,             // another program holds the resource: waiting may cure it
        kIoError,          // the host refused; waiting does not cure it
        kSettingsMissing,  // the product's settings key cannot be read: nothing can run
    };

    // Ok.
    Status() = default;

    static Status Ok() { return Status(); }
    static Status Busy(std::string message) { return Status(Code::kBusy, std::move(message)); }
    static Status IoError(std::string message) {
        return Status(Code::kIoError, std::move(message));
    }
    static Status SettingsMissing(std::string message) {
        return Status(Code::kSettingsMissing, std::move(message));
    }

    bool ok() const { return m_code == Code::kOk; }
    bool IsBusy() const { return m_code == Code::kBusy; }
    Code code() const { return m_code; }
    // Empty when ok.
    const std::string& message() const { return m_message; }
    // What failed (a file's path), when the failing layer knows it.
    const std::string& context() const { return m_context; }

    // The same failure, naming what failed.
    Status WithContext(std::string context) const {
        Status named = *this;
        named.m_context = std::move(context);
        return named;
    }

    // "context: message", or the message alone; "OK" when ok.
    std::string ToString() const {
        if (ok())
            return "OK";
        return m_context.empty() ? m_message : m_context + ": " + m_message;
    }

  private:
    Status(Code code, std::string message) : m_code(code), m_message(std::move(message)) {}

    Code m_code = Code::kOk;
    std::string m_message;
    std::string m_context;
};

// An I/O error carrying the C library's text for `error` (an errno value).
inline Status ErrnoError(int error) {
    return Status::IoError(std::strerror(error));
}

}  // namespace platform
