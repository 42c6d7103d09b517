#include "testsupport/test_main.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "platform/process.h"

namespace testsupport {
namespace {

struct Registry {
    std::map<std::string, ChildBody> children;
    std::string executablePath;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

bool RegisterChild(const std::string& name, ChildBody body) {
    TheRegistry().children[name] = std::move(body);
    return true;
}

const std::string& TestExecutablePath() {
    return TheRegistry().executablePath;
}

}  // namespace testsupport

int main(int argc, char** argv) {
    // Tests launch held, and a held launch on Linux starts as this program.
    if (const std::optional<int> gate = platform::RunHeldStartGate(argc, argv))
        return *gate;
    auto& registry = testsupport::TheRegistry();
    registry.executablePath = argc > 0 ? argv[0] : "";
    const std::string prefix = testsupport::ChildArgument("");
    if (argc > 1 && std::string(argv[1]).starts_with(prefix)) {
        auto found = registry.children.find(argv[1] + prefix.size());
        return found == registry.children.end() ? 125 : found->second(argc - 1, argv + 1);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
