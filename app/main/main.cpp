// torvane-batch: the unattended batch launcher of the Torvane simulator.
#include "app/entry_point.h"

int main(int argc, char* argv[]) {
    return TorvaneBatchMain(argc, argv);
}
