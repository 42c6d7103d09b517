// torvane-sim: the simulator stand-in started by TorvaneBatch.bat in tests
// and in the demo. See sim_job.h for what it does with a job.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "platform/status.h"
#include "tools/sim_job.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string errors;
    if (!args.empty() && args[0] == torvanesim::kLingerOption) {
        // A lingering child must not keep the launcher's output pipes open
        // (a test that captures them would wait for it): it has nothing to say.
        std::fclose(stdin);
        std::fclose(stdout);
        std::fclose(stderr);
        return torvanesim::RunLinger({args.begin() + 1, args.end()}, errors);
    }
    platform::Status settingsMissing;
    const int status =
        torvanesim::RunSimulator(args, errors, settingsMissing, argc > 0 ? argv[0] : "");
    if (!errors.empty())
        std::fputs(errors.c_str(), stderr);
    if (!settingsMissing.ok())
        platform::ShowMessageBox(settingsMissing.message(), platform::ApplicationTitle(),
                                 platform::kMbIconExclamation | platform::kMbOk);
    return status;
}
