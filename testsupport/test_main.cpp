#include "testsupport/test_main.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace testsupport {
namespace {

std::map<std::string, ChildBody>& Children() {
    static std::map<std::string, ChildBody> children;
    return children;
}

std::string& ExecutablePath() {
    static std::string path;
    return path;
}

}  // namespace

bool RegisterChild(const std::string& name, ChildBody body) {
    Children()[name] = std::move(body);
    return true;
}

const std::string& TestExecutablePath() {
    return ExecutablePath();
}

}  // namespace testsupport

int main(int argc, char** argv) {
    testsupport::ExecutablePath() = argc > 0 ? argv[0] : "";
    const char* prefix = "--tv-child=";
    if (argc > 1 && std::strncmp(argv[1], prefix, std::strlen(prefix)) == 0) {
        auto found = testsupport::Children().find(argv[1] + std::strlen(prefix));
        if (found == testsupport::Children().end())
            return 125;
        return found->second(argc - 1, argv + 1);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
