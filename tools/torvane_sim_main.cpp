// torvane-sim: the simulator stand-in started by TorvaneBatch.bat in tests
// and in the demo. See sim_job.h for what it does with a job.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/sim_job.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string errors;
    const int status = torvanesim::RunSimulator(args, errors);
    if (!errors.empty())
        std::fputs(errors.c_str(), stderr);
    return status;
}
