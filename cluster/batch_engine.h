// Which engine runs the queue, from the machine settings: BATCHENGINE is
// "local" (the launcher starts each job itself, one after another; also what
// a missing or empty value means) or "slurm" (the jobs are handed to a Slurm
// cluster), compared without regard to case or surrounding blanks.
// BATCHSLURMOPTIONS holds extra sbatch options, split as the program splits
// a command line; it is read for the Slurm engine only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cluster {

enum class BatchEngine { kLocal, kSlurm };

struct BatchEngineChoice {
    bool ok = false;
    BatchEngine engine = BatchEngine::kLocal;
    std::vector<std::string> slurmOptions;
    std::string error;  // one line, when not ok
};

// `hostHasSlurmClient` comes from platform::HostHasSlurmClient: a host
// without one refuses the Slurm engine.
BatchEngineChoice ChooseBatchEngine(std::string_view engineSetting,
                                    std::string_view slurmOptionsSetting, bool hostHasSlurmClient);

}  // namespace cluster
