// torvane-batch: the unattended batch launcher of the Torvane simulator.
#include "app/entry_point.h"
#include "platform/process.h"

int main(int argc, char* argv[]) {
    // A job launched held on Linux starts as this program (process.h).
    if (const std::optional<int> gate = platform::RunHeldStartGate(argc, argv))
        return *gate;
    return TorvaneBatchMain(argc, argv);
}
