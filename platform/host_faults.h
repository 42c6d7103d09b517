// A narrow point where tests make chosen host calls fail, as SQLite lets its
// system calls be replaced: the two steps of a durable write (flush to disk,
// move into place), the exclusive open of a shared file, and Linux's process
// descriptors (pidfd), so that the branches a healthy machine never takes are
// tested on every host.
//
// The shipped program never installs a rule; each of those calls then costs
// one atomic load. A rule is process-wide: install it before the work that
// should meet it starts, and remove it (an empty rule) afterwards
// (testsupport/host_faults.h has a scope for that).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class HostCall {
    kFlushToDisk,    // FlushToDisk (file_stream.h)
    kMoveIntoPlace,  // MoveIntoPlace (file_ops.h)
    kExclusiveOpen,  // TryOpenExclusive and OpenExclusive (shared_file.h)
    // Linux: pidfd_open fails as on a kernel without it, so waits poll /proc
    // and process groups are signalled with kill. No effect on Win32.
    kProcessDescriptor,
    // Linux: a held launch cannot clone this process to wait for its release
    // (as under valgrind), so it starts this program's file as its gate.
    kHeldChild,
};

// How an injected failure looks to the caller.
struct InjectedFault {
    std::string reason;  // the reason the call reports, as the host's text would
    bool busy = false;   // kExclusiveOpen: another program holds the file (waiting may cure it)
};

// Decides for one call, given the Windows-form path it is about (empty when
// it has none); nullopt lets the real call run.
using FaultRule = std::function<std::optional<InjectedFault>(HostCall call, std::string_view path)>;

// Installs `rule` for the whole process and returns the rule it replaces; an
// empty rule removes it. Safe while other threads make host calls.
FaultRule SetFaultRule(FaultRule rule);

// For the host implementations: the failure to report instead of making
// `call`, or nullopt to make it.
std::optional<InjectedFault> InjectedFaultFor(HostCall call, std::string_view path);

}  // namespace platform
