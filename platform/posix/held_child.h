// The child of a held launch on Linux, made without starting any program:
// a clone of this process that shares its memory (CLONE_VM, as vfork's child
// does, but without stopping this process meanwhile) and waits, on a stack of
// its own, for the release on a socket. At the release it executes the
// program (or the shell, for a file that is not executable by itself) and
// reports a failed execution on a pipe; when the socket ends without a
// release (this process ended first) it ends without running anything.
//
// A held launch used to start this program's own file as a gate that did the
// same: the clone spares a whole program start (about a millisecond) before
// every job. Valgrind ends any program that makes such a clone, so there the
// gate is still used (HeldCloneAllowed).
//
// Until it has executed the program or ended, the child reads the HeldChild
// and runs on its stack: the caller keeps the object alive until the report
// pipe has ended (exec or exit closes the child's end) or the child has been
// reaped, and never destroys it while the child may still be waiting.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform::posix {

class HeldChild {
  public:
    // Starts the child in a session of its own, with `go` (its end of the
    // release socket) and `report` (the write end of the report pipe), both
    // close-on-exec; it executes `program` with `args` (args[0] its name).
    // The caller closes its own copies of `go` and `report` afterwards.
    // Gives the child's pid, or -1 with errno set (nothing started).
    static pid_t Start(const std::string& program, const std::vector<std::string>& args, int go,
                       int report, std::unique_ptr<HeldChild>& child);

    ~HeldChild();
    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;

  private:
    HeldChild() = default;
    static int Main(void* self);

    // What the child reads; prepared before the clone, as it may allocate
    // nothing and call no library function that touches this process's state.
    int m_go = -1;
    int m_report = -1;
    sigset_t m_mask{};  // the signal mask to execute the program with
    long m_descriptorLimit = 1024;
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
    char* const* m_shellArgvData = nullptr;  // "/bin/sh", the program, its arguments
    char* const* m_argvData = nullptr;       // the program, its arguments
    char* const* m_environmentData = nullptr;
    void* m_stack = nullptr;
};

// False where a clone that shares this process's memory must not be made:
// under valgrind, and while a test makes the launch fall back to the gate.
bool HeldCloneAllowed();

}  // namespace platform::posix
