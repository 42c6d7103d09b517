// The simulator stand-in: what torvane-sim does for one job.
//
// The real simulator lies outside the launcher. Tests and the demo start this
// small program instead, through the installation's script "TorvaneBatch.bat",
// exactly as the launcher starts the simulator: "-b -u <user> -j <job>". It
// finds the user through the launcher's own settings (the system catalogue
// gives the users list its keys), computes the job's log path in the user's
// batch folder and writes the job's batch log there, so that the launcher
// reads what a real simulation would have left behind.
//
// What a job does is decided by its name, so that a test asks for an outcome
// by naming its job. The words are looked for anywhere in the name, without
// regard to case:
//   "slow"    sleeps 5 s before anything else (may be combined with others);
//   "crash"   ends with status 3 and writes no log;
//   "fail"    SimuOK 0 and one error under machine 0, channel 0;
//   "events"  three events and two alerts instead of the single event;
//   anything else succeeds with one event.
// Environment variables widen this for tests:
//   TORVANE_SIM_EXTRA_EVENTS  N more events (a large log);
//   TORVANE_SIM_SLEEP_MS      a pause before the log is written;
//   TORVANE_SIM_CHILD_MS      once the user is found, and before the pause,
//                             start a process that outlives the stand-in, as
//                             a simulator's helper programs may: a copy of
//                             torvane-sim in its hidden mode
//                               torvane-sim --linger <ms> <marker>
//                             which closes its standard streams, sleeps <ms>
//                             and then writes the marker file "<log path>.child"
//                             (also for a job that crashes). The stand-in does
//                             not wait for it, so the marker tells a test
//                             whether the job's whole tree was ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "containers/cstring.h"
#include "platform/status.h"

class FichierLogBatch;

namespace torvanesim {

// Exit statuses of torvane-sim.
enum ExitStatus : int {
    kExitDone = 0,      // the log was written
    kExitUsage = 1,     // bad arguments
    kExitSettings = 2,  // settings, catalogue, users list or user missing; log not saved
    // The product key is missing: main shows the failure in a message box
    // and ends with status 0, as the launcher does.
    kExitSettingsMissing = 0,
    kExitCrash = 3,  // the job asked to crash: no log
};

// The pause of a "slow" job.
inline constexpr std::uint32_t kSlowJobMs = 5000;

struct SimArguments {
    CString user;
    CString job;
};

// Parses "-b -u <user> -j <job>" (options in any order, each once). False,
// with a one-line reason in `error`, for anything else: a missing -b, a
// missing or empty user or job, an option without its value, an unknown
// argument.
bool ParseArguments(const std::vector<std::string>& args, SimArguments& parsed, std::string& error);

// The stand-in's own settings, read from the environment.
struct SimSettings {
    unsigned extraEvents = 0;
    std::uint32_t sleepMs = 0;
    std::uint32_t childMs = 0;  // 0: no lingering child
};
// Unset, empty or non-numeric values count as 0; numbers are capped (one
// million events, one hour) so that a typing error cannot fill the disk.
SimSettings ReadSettings();

// What one job will do.
struct JobPlan {
    std::uint32_t sleepMs = 0;  // before the log is written (or the crash)
    bool crash = false;
    bool simuOK = true;
    std::vector<std::string> events;
    std::vector<std::string> alerts;
    std::vector<std::string> errors;  // all under machine 0, channel 0
};
JobPlan PlanJob(const CString& job, const SimSettings& settings);

// Fills `log` with the job's informations, flag, counts and lists as `plan`
// says (replacing whatever it held).
void FillLog(const JobPlan& plan, const CString& user, const CString& job, FichierLogBatch& log);

// The whole program: parses the arguments, reads the launcher's settings and
// users list, sleeps, and writes the log or crashes. Reasons for a failure go
// to `errorOut` as one line each. Returns the exit status. A missing product
// key returns kExitSettingsMissing at once with the failure (SettingsMissing)
// in `settingsMissing`, for main to show. `selfPath` is the program to start
// for a lingering child (torvane-sim itself, as main was started); without
// it, none is started.
int RunSimulator(const std::vector<std::string>& args, std::string& errorOut,
                 platform::Status& settingsMissing, const std::string& selfPath = "");

// The first argument of the hidden mode.
inline constexpr const char* kLingerOption = "--linger";

// The hidden mode, its arguments after kLingerOption: "<ms> <marker>".
// Sleeps, then writes the marker file; kExitUsage for anything else, and
// kExitSettings when the marker cannot be written.
int RunLinger(const std::vector<std::string>& args, std::string& errorOut);

}  // namespace torvanesim
