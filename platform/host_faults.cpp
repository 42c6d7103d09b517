#include "platform/host_faults.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace platform {
namespace {

std::atomic<bool> g_installed{false};
std::mutex g_mutex;
FaultRule g_rule;

}  // namespace

FaultRule SetFaultRule(FaultRule rule) {
    std::lock_guard<std::mutex> lock(g_mutex);
    FaultRule previous = std::exchange(g_rule, std::move(rule));
    g_installed = static_cast<bool>(g_rule);
    return previous;
}

std::optional<InjectedFault> InjectedFaultFor(HostCall call, std::string_view path) {
    if (!g_installed.load(std::memory_order_acquire))
        return std::nullopt;
    FaultRule rule;
    {
        // A copy, so that the rule runs without the lock and may itself make
        // host calls.
        std::lock_guard<std::mutex> lock(g_mutex);
        rule = g_rule;
    }
    return rule ? rule(call, path) : std::nullopt;
}

}  // namespace platform
