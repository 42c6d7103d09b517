#include "platform/posix/held_child.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/host_faults.h"

extern char** environ;

namespace platform::posix {
namespace {

constexpr std::size_t kStackSize = 64 * 1024;
constexpr std::size_t kGuardSize = 4096;  // below the stack, so that an overflow faults
constexpr int kLauncherEndedFirst = 125;
constexpr int kNotExecuted = 127;

// A system call that gives -errno on failure and leaves errno alone: the
// child shares this process's thread-local storage, so the library's errno
// is the launching thread's.
#if defined(__x86_64__)
[[gnu::always_inline]] inline long RawSyscall(long number, long a = 0, long b = 0, long c = 0,
                                              long d = 0) {
    long result;
    register long r10 __asm__("r10") = d;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10)
                     : "rcx", "r11", "memory");
    return result;
}
#elif defined(__aarch64__)
[[gnu::always_inline]] inline long RawSyscall(long number, long a = 0, long b = 0, long c = 0,
                                              long d = 0) {
    register long x8 __asm__("x8") = number;
    register long x0 __asm__("x0") = a;
    register long x1 __asm__("x1") = b;
    register long x2 __asm__("x2") = c;
    register long x3 __asm__("x3") = d;
    __asm__ volatile("svc 0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3) : "memory", "cc");
    return x0;
}
#else
// Elsewhere the library's, which writes the launching thread's errno: no
// clone is made there (HeldCloneAllowed), and the gate holds the launch.
#define TV_NO_RAW_SYSCALL
inline long RawSyscall(long number, long a = 0, long b = 0, long c = 0, long d = 0) {
    const long result = ::syscall(number, a, b, c, d);
    return result == -1 ? -errno : result;
}
#endif

// Closes descriptors `first` to `last`, one by one below `limit` where the
// kernel has no close_range (before 5.9).
[[gnu::always_inline]] inline void CloseRange(long first, long last, long limit) {
    if (first > last)
        return;
    long closed = -ENOSYS;
#ifdef SYS_close_range
    closed = RawSyscall(SYS_close_range, first, last, 0);
#endif
    if (closed != 0) {
        for (long fd = first; fd <= last && fd < limit; ++fd) RawSyscall(SYS_close, fd);
    }
}

[[noreturn, gnu::always_inline]] inline void RawExit(int status) {
    for (;;) RawSyscall(SYS_exit_group, status);
}

}  // namespace

// The child's whole life before it executes the program. It runs on its own
// stack in this process's memory, possibly while this process goes on, so it
// makes system calls only and reads nothing but what Start prepared.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("address", "undefined")))
#endif
int HeldChild::Main(void* self) {
    const HeldChild& child = *static_cast<const HeldChild*>(self);
    RawSyscall(SYS_setsid);
    // Only the standard three, the socket and the pipe stay, as a program
    // started with them alone: the copies of our descriptors would keep our
    // end of the socket open (its release could then never fail) and hold
    // our files while the child waits.
    const long low = child.m_go < child.m_report ? child.m_go : child.m_report;
    const long high = child.m_go < child.m_report ? child.m_report : child.m_go;
    CloseRange(3, low - 1, child.m_descriptorLimit);
    CloseRange(low + 1, high - 1, child.m_descriptorLimit);
    CloseRange(high + 1, ~0U, child.m_descriptorLimit);
    // A handler is this process's code and must never run here: caught
    // signals go back to their default action, ignored ones stay ignored (as
    // an exec would leave them). Any layout of the kernel's sigaction starts
    // with the handler, and all zeros is the default action without flags.
    unsigned long action[8];
    const unsigned long byDefault[8] = {};
    for (long signal = 1; signal <= 64; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP)
            continue;
        if (RawSyscall(SYS_rt_sigaction, signal, 0, reinterpret_cast<long>(action), 8) != 0)
            continue;
        const auto handler = action[0];
        if (handler != reinterpret_cast<unsigned long>(SIG_DFL) &&
            handler != reinterpret_cast<unsigned long>(SIG_IGN))
            RawSyscall(SYS_rt_sigaction, signal, reinterpret_cast<long>(byDefault), 0, 8);
    }

    char go = 0;
    long got = 0;
    do {
        got = RawSyscall(SYS_read, child.m_go, reinterpret_cast<long>(&go), 1);
    } while (got == -EINTR);
    if (got != 1)
        RawExit(kLauncherEndedFirst);
    RawSyscall(SYS_close, child.m_go);  // the report pipe's end is close-on-exec

    RawSyscall(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&child.m_mask), 0, 8);
    long error = RawSyscall(SYS_execve, reinterpret_cast<long>(child.m_argvData[0]),
                            reinterpret_cast<long>(child.m_argvData),
                            reinterpret_cast<long>(child.m_environmentData));
    if (error == -ENOEXEC || error == -EACCES) {
        // As a launch that is not held: the shell runs what is not executable.
        error = RawSyscall(SYS_execve, reinterpret_cast<long>(child.m_shellArgvData[0]),
                           reinterpret_cast<long>(child.m_shellArgvData),
                           reinterpret_cast<long>(child.m_environmentData));
    }
    const int reported = static_cast<int>(-error);
    RawSyscall(SYS_write, child.m_report, reinterpret_cast<long>(&reported), sizeof reported);
    RawExit(kNotExecuted);
}

pid_t HeldChild::Start(const std::string& program, const std::vector<std::string>& args, int go,
                       int report, std::unique_ptr<HeldChild>& started) {
    std::unique_ptr<HeldChild> child(new HeldChild);
    child->m_go = go;
    child->m_report = report;

    // A copy of the environment too: this process may change its own before
    // the release.
    std::size_t environmentCount = 0;
    while (environ != nullptr && environ[environmentCount] != nullptr) ++environmentCount;
    child->m_strings.reserve(args.size() + environmentCount + 2);
    child->m_strings.push_back("/bin/sh");
    child->m_strings.push_back(program);
    child->m_strings.insert(child->m_strings.end(), args.begin() + (args.empty() ? 0 : 1),
                            args.end());
    const std::size_t argumentsEnd = child->m_strings.size();
    for (std::size_t i = 0; i < environmentCount; ++i) child->m_strings.emplace_back(environ[i]);
    std::vector<char*>& all = child->m_pointers;
    for (std::string& text : child->m_strings) all.push_back(text.data());
    // One array, three null-ended lists: the shell's (from "/bin/sh"), the
    // program's (from the program), the environment.
    all.insert(all.begin() + static_cast<std::ptrdiff_t>(argumentsEnd), nullptr);
    all.push_back(nullptr);
    child->m_shellArgvData = all.data();
    child->m_argvData = all.data() + 1;
    child->m_environmentData = all.data() + argumentsEnd + 1;

    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        child->m_descriptorLimit =
            static_cast<long>(std::min<rlim_t>(limit.rlim_cur, rlim_t{1} << 16));

    void* mapped = ::mmap(nullptr, kGuardSize + kStackSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapped == MAP_FAILED)
        return -1;
    child->m_stack = mapped;
    ::mprotect(mapped, kGuardSize, PROT_NONE);
    char* top = static_cast<char*>(mapped) + kGuardSize + kStackSize;

    // The child starts with every signal blocked and takes the mask back
    // just before the exec.
    sigset_t allSignals;
    ::sigfillset(&allSignals);
    ::pthread_sigmask(SIG_SETMASK, &allSignals, &child->m_mask);
    const pid_t pid = ::clone(&HeldChild::Main, top, CLONE_VM | SIGCHLD, child.get());
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &child->m_mask, nullptr);
    if (pid < 0) {
        errno = error;
        return -1;
    }
    started = std::move(child);
    return pid;
}

HeldChild::~HeldChild() {
    if (m_stack != nullptr)
        ::munmap(m_stack, kGuardSize + kStackSize);
}

bool HeldCloneAllowed() {
#ifdef TV_NO_RAW_SYSCALL
    return false;
#endif
    if (InjectedFaultFor(HostCall::kHeldChild, {}))
        return false;
    // Valgrind preloads its own library into the program it runs.
    const char* preload = std::getenv("LD_PRELOAD");
    return preload == nullptr || std::strstr(preload, "vgpreload") == nullptr;
}

}  // namespace platform::posix
