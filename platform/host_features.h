// What the host offers beyond the services of the other headers: answers that
// let portable code refuse, with its own message, what this host cannot do,
// instead of branching on the OS. Never blocks, never fails.
#pragma once

namespace platform {

// Whether Slurm's client commands (sbatch, squeue, scancel) can exist here.
//   Win32: false; Slurm has no Windows client.
//   Linux: true (whether they are installed is seen when they are run).
bool HostHasSlurmClient();

}  // namespace platform
