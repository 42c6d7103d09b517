// Host calls made to fail from a test (platform/host_faults.h), for as long
// as a scope lives.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/host_faults.h"

namespace testsupport {

// Installs a rule for the scope's life and puts the previous one back.
class ScopedFaultRule {
  public:
    explicit ScopedFaultRule(platform::FaultRule rule)
        : m_previous(platform::SetFaultRule(std::move(rule))) {}
    ~ScopedFaultRule() { platform::SetFaultRule(std::move(m_previous)); }
    ScopedFaultRule(const ScopedFaultRule&) = delete;
    ScopedFaultRule& operator=(const ScopedFaultRule&) = delete;

  private:
    platform::FaultRule m_previous;
};

// A rule that fails the next `times` calls of `call` (every call when
// `times` is negative) with `fault`, and lets every other call through.
inline platform::FaultRule FailCalls(platform::HostCall call, int times,
                                     platform::InjectedFault fault = {"injected failure", false}) {
    auto left = std::make_shared<int>(times);
    return
        [=](platform::HostCall made, std::string_view) -> std::optional<platform::InjectedFault> {
            if (made != call || *left == 0)
                return std::nullopt;
            if (*left > 0)
                --*left;
            return fault;
        };
}

// With `polling`, process waits work as on a Linux kernel without pidfd_open
// (they poll /proc) for as long as the result lives; nothing otherwise.
inline std::unique_ptr<ScopedFaultRule> PollProcessesIf(bool polling) {
    if (!polling)
        return nullptr;
    return std::make_unique<ScopedFaultRule>(FailCalls(platform::HostCall::kProcessDescriptor, -1));
}

}  // namespace testsupport
