// The batch run on a Slurm cluster: the queue's jobs handed to Slurm instead
// of being started one after another by the launcher, and one job of a queue
// run on a compute node.
//
// The submitter (RunOnCluster, called by BatchRun::RunWith after the run's
// usual start) submits every waiting entry in queue order: an entry whose
// wait flag is set and whose predecessor has not finished depends on the
// predecessor's Slurm job (afterok, cancelled by Slurm when it fails); a
// predecessor already finished lets it run at once or skips it at once.
// Names the command line cannot carry, and entries of unknown users, are
// finished here as the local run finishes them, and never submitted. The
// names reach the node as arguments of a small batch script that only execs
// its arguments ("torvane-batch --run-job <folder> <user> <job> <position>
// <token>"), never through a shell command line.
//
// The journal holds one record per submitted entry: before sbatch its token
// (the Slurm job name, unique to the submission) with "cluster job =
// submitting", afterwards the Slurm id. A submitter killed between the two
// finds its job again by name on restart: nothing is submitted twice. The
// submitter is the journal's only writer while the jobs run on the nodes.
//
// Then it polls: the queue re-read, one query for every unsettled job; a job
// cancelled because its predecessor failed gets the skipped lines; any other
// Slurm job that ended without its outcome recorded (failed, cancelled,
// timed out, its node lost, or forgotten) fails with one event naming
// Slurm's state and reason, and its report block; an entry another program
// finished while its job is pending is cancelled in Slurm; entries appended
// to the queue are submitted. When every entry has finished, the run is
// retired as the local run retires it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/batch_run.h"
#include "cluster/slurm.h"
#include "containers/cstring.h"

class ListeUsers;

// What the submitter asks of the cluster, replaceable in tests.
class ClusterClient {
  public:
    virtual ~ClusterClient() = default;
    virtual cluster::SlurmStatus Submit(const cluster::SlurmSubmission& job,
                                        cluster::SlurmJobId* id) = 0;
    virtual cluster::SlurmStatus Query(const std::vector<cluster::SlurmJobId>& ids,
                                       std::vector<cluster::SlurmJobState>* states) = 0;
    virtual cluster::SlurmStatus FindByName(const std::vector<std::string>& names,
                                            std::vector<cluster::SlurmJobState>* jobs) = 0;
    virtual cluster::SlurmStatus Cancel(const std::vector<cluster::SlurmJobId>& ids) = 0;
};

// The real cluster, through Slurm's commands (cluster/slurm.h).
class SlurmClusterClient : public ClusterClient {
  public:
    explicit SlurmClusterClient(cluster::SlurmCommands commands = {})
        : m_commands(std::move(commands)) {}
    cluster::SlurmStatus Submit(const cluster::SlurmSubmission& job,
                                cluster::SlurmJobId* id) override;
    cluster::SlurmStatus Query(const std::vector<cluster::SlurmJobId>& ids,
                               std::vector<cluster::SlurmJobState>* states) override;
    cluster::SlurmStatus FindByName(const std::vector<std::string>& names,
                                    std::vector<cluster::SlurmJobState>* jobs) override;
    cluster::SlurmStatus Cancel(const std::vector<cluster::SlurmJobId>& ids) override;

  private:
    cluster::SlurmCommands m_commands;
};

struct ClusterRunSettings {
    // The launcher that the nodes run, as a host path.
    std::string launcherPath;
    // The site's sbatch options (BATCHSLURMOPTIONS), after the submitter's
    // own defaults so that they override them.
    std::vector<std::string> siteOptions;
    std::uint32_t pollMs = 1000;
    // Slurm failing this many polls in a row counts as unreachable.
    int queryFailuresAllowed = 30;
    // Where the one line on an unreachable cluster goes (standard error).
    std::function<void(const std::string&)> errorLine;
};

// The journal's "cluster job" before sbatch has answered.
inline constexpr const char* kClusterSubmitting = "submitting";
// The journal field holding the submission's token (its Slurm job name).
inline constexpr const char* kClusterTokenField = "cluster token";
// The batch script the submitter writes into the batch folder.
inline constexpr const char* kClusterScriptName = "batchjob.sh";
// The argument that makes the launcher run one job on a node.
inline constexpr const char* kRunJobArgument = "--run-job";

// Runs the queue of `context` on the cluster until every entry has finished
// (kFinished), a file cannot be opened (kStopped) or the cluster is
// unreachable (kLeftQueued: one line through errorLine, the entries not yet
// submitted left waiting).
EngineOutcome RunOnCluster(BatchRunContext& context, ClusterClient& cluster,
                           const ClusterRunSettings& settings);

// On a node: the entry at `position` of the queue in `folder`, when it is
// still waiting and still the one submitted (its user, job and the token in
// the journal match), is run and recorded as the local run does, its whole
// report block in one open. The exit status: 0 only when the entry finished
// with success (so that Slurm's afterok means what the wait flag means).
// When the settings cannot be read, `failure` says so (for main to show) and
// nothing was done.
int RunClusterJob(ListeUsers& users, const CString& folder, const CString& user, const CString& job,
                  const std::string& position, const std::string& token, const BatchRunHost& host,
                  const BatchRunSettings& settings, platform::Status& failure);
