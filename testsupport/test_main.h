// Shared test support: the test main and self-re-running child processes.
//
// A test binary can re-run itself as a child process to exercise paths that
// end the process (fatal messages, exit codes). A child body is registered
// with TV_TEST_CHILD(name) { ... return status; } and selected by the first
// argument "--tv-child=name"; the test main then runs it instead of the tests
// and exits with its result. TestExecutablePath() gives the binary to re-run.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

using ChildBody = std::function<int(int argc, char** argv)>;

bool RegisterChild(const std::string& name, ChildBody body);
// The path of the running test executable, as given in argv[0].
const std::string& TestExecutablePath();
// The argument that selects a registered child body.
inline std::string ChildArgument(const std::string& name) {
    return "--tv-child=" + name;
}

}  // namespace testsupport

#define TV_TEST_CHILD(name)                                      \
    static int TvTestChild_##name(int argc, char** argv);        \
    static const bool tv_test_child_registered_##name =          \
        ::testsupport::RegisterChild(#name, TvTestChild_##name); \
    static int TvTestChild_##name([[maybe_unused]] int argc, [[maybe_unused]] char** argv)
