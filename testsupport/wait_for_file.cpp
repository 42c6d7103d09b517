#include "testsupport/wait_for_file.h"

#include <cstdio>
#include <functional>

#include "platform/sleep.h"
#include "testsupport/temp_dir.h"

namespace testsupport {
namespace {

bool PollUntil(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms && !done(); waited += 20) platform::SleepMs(20);
    return done();
}

}  // namespace

bool WaitForFile(const std::filesystem::path& path, int ms) {
    return PollUntil([&] { return std::filesystem::exists(path); }, ms);
}

bool EndsWithin(const platform::ProcessIdentity& process, int ms) {
    return PollUntil([&] { return !platform::IsStillRunning(process); }, ms);
}

void WriteIdentityFile(const std::string& path, const platform::ProcessIdentity& process) {
    WriteBytes(path + ".tmp", std::to_string(process.id) + " " + std::to_string(process.startTime));
    std::filesystem::rename(path + ".tmp", path);
}

platform::ProcessIdentity ReadIdentityFile(const std::string& path) {
    platform::ProcessIdentity identity;
    unsigned long long id = 0, start = 0;
    if (WaitForFile(path) && std::sscanf(ReadBytes(path).c_str(), "%llu %llu", &id, &start) == 2)
        identity = {static_cast<platform::ProcessId>(id), start};
    return identity;
}

}  // namespace testsupport
