// Host calls made to fail from a test (platform/host_faults.h) for as long as
// a scope lives.
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

// Fails the next `times` calls of `call` (every one when negative) with `fault`.
inline platform::FaultRule FailCalls(platform::HostCall call, int times,
                                     platform::InjectedFault fault = {"injected failure", false}) {
    auto left = std::make_shared<int>(times);
    return
        [=](platform::HostCall made, std::string_view) -> std::optional<platform::InjectedFault> {
            if (made != call || *left == 0)
                return std::nullopt;
            *left -= *left > 0 ? 1 : 0;
            return fault;
        };
}

// With `polling`, process waits poll /proc as on a Linux kernel without
// pidfd_open, for as long as the result lives.
inline std::unique_ptr<ScopedFaultRule> PollProcessesIf(bool polling) {
    return polling ? std::make_unique<ScopedFaultRule>(
                         FailCalls(platform::HostCall::kProcessDescriptor, -1))
                   : nullptr;
}

}  // namespace testsupport
