// Win32 exclusive open: the runtime's sharing-aware open with deny-read-and-
// write. The runtime maps a sharing violation and an access denial to the
// same errno (EACCES), so the Windows error code tells them apart.
#include "platform/shared_file.h"

#include <windows.h>

#include <errno.h>
#include <share.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "platform/file_stream.h"
#include "platform/host_faults.h"
#include "platform/host_path.h"

#include "platform/win32/system_message.h"

namespace platform {
ExclusiveOpen TryOpenExclusive(std::string_view windowsPath, const char* mode) {
    if (std::optional<InjectedFault> fault =
            InjectedFaultFor(HostCall::kExclusiveOpen, windowsPath)) {
        ExclusiveOpen refused;
        refused.status = fault->busy ? Status::Busy("") : Status::IoError(fault->reason);
        return refused;
    }
    ExclusiveOpen result;
    if (!ParseStreamMode(mode).valid) {
        result.status = ErrnoError(EINVAL);
        return result;
    }
    // "N": the handle is not inherited by processes the program starts.
    std::string hostMode = std::string(mode) + "N";
    std::string hostPath = ToHostPath(windowsPath);
    errno = 0;
    _doserrno = 0;
    ::SetLastError(0);
    std::FILE* stream = ::_fsopen(hostPath.c_str(), hostMode.c_str(), _SH_DENYRW);
    if (stream != nullptr) {
        result.stream = stream;
        return result;
    }
    int error = errno;
    unsigned long code = _doserrno != 0 ? _doserrno : ::GetLastError();
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
        result.status = Status::Busy(SystemMessage(code));
        return result;
    }
    result.status = code != 0 ? WindowsError(code) : ErrnoError(error);
    return result;
}

}  // namespace platform
