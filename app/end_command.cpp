#include "app/end_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/batch_exec_file.h"
#include "app/batch_run.h"
#include "app/install_paths.h"
#include "messages/regkey.h"
#include "platform/environment.h"
#include "platform/host_path.h"
#include "platform/process.h"

namespace {

// The variables exist only while the command starts: the launcher's own
// environment is how they reach it, and nothing else of the launcher reads
// them.
class ScopedVariables {
  public:
    ScopedVariables(const std::string& report, BatchTotals totals) {
        platform::SetEnv("TORVANE_REPORT", report);
        platform::SetEnv("TORVANE_JOBS_SUCCEEDED", std::to_string(totals.succeeded));
        platform::SetEnv("TORVANE_JOBS_FAILED", std::to_string(totals.failed));
    }
    ~ScopedVariables() {
        for (const char* name : {"TORVANE_REPORT", "TORVANE_JOBS_SUCCEEDED", "TORVANE_JOBS_FAILED"})
            platform::UnsetEnv(name);
    }
    ScopedVariables(const ScopedVariables&) = delete;
    ScopedVariables& operator=(const ScopedVariables&) = delete;
};

void Complain(const CString& commandLine, const std::string& what) {
    std::fprintf(stderr, "torvane-batch: the end command \"%s\" %s\n", commandLine.c_str(),
                 what.c_str());
}

}  // namespace

EndCommandOutcome RunEndCommand(const CString& commandLine, const CString& reportPath,
                                BatchTotals totals, std::uint32_t limitSeconds) {
    if (commandLine.IsEmpty())
        return EndCommandOutcome::kNotRun;
    platform::LaunchResult launched;
    {
        ScopedVariables variables(platform::ToHostPath(reportPath.str()), totals);
        platform::LaunchOptions options;
        options.wait = false;
        options.show = false;
        options.ownGroup = true;
        launched = platform::LaunchCommandLine(commandLine.str(), options);
    }
    if (!launched.created) {
        Complain(commandLine, "could not be started: " + launched.reason);
        return EndCommandOutcome::kCannotStart;
    }
    const platform::ProcessIdentity process{launched.id, launched.startTime};
    // A limit longer than one wait can take is waited for in steps.
    std::uint64_t remainingMs = std::uint64_t{limitSeconds} * 1000;
    bool timedOut = false;
    for (;;) {
        const std::uint32_t step = limitSeconds == 0
                                       ? platform::kNoTimeLimit
                                       : static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                             remainingMs, platform::kNoTimeLimit - 1));
        if (platform::WaitForProcess(process, step) != platform::WaitOutcome::kTimedOut)
            break;
        remainingMs -= step;
        if (remainingMs == 0) {
            timedOut = true;
            platform::EndProcessGroup(process, kEndGraceMs);
            break;
        }
    }
    const std::optional<int> exitCode = platform::WaitForLaunched(launched.id);
    if (timedOut) {
        Complain(commandLine,
                 "was ended at the time limit of " + std::to_string(limitSeconds) + " seconds");
        return EndCommandOutcome::kTimedOut;
    }
    if (exitCode.value_or(-1) != 0) {
        Complain(commandLine, "ended with status " + std::to_string(exitCode.value_or(-1)));
        return EndCommandOutcome::kFailed;
    }
    return EndCommandOutcome::kSucceeded;
}

EndCommandOutcome RunBatchEndCommand(KvBatchExecFile& queue) {
    if (!queue.AllFinished())
        return EndCommandOutcome::kNotRun;
    // The batch has run, so the settings key was readable: an unreadable
    // value here only means no command.
    CString commandLine;
    (void)ReadSettingsValue("BATCHENDCOMMAND", GetRegistryKeyPath().c_str(),
                            platform::SettingsRoot::LocalMachine, &commandLine);
    if (commandLine.IsEmpty())
        return EndCommandOutcome::kNotRun;
    BatchTotals totals;
    for (const KvBatchExecGamme& job : queue.Jobs()) {
        if (job.m_status == KvBatchExecGamme::kSucceeded)
            ++totals.succeeded;
        else
            ++totals.failed;
    }
    return RunEndCommand(commandLine, queue.GetFolder() + "batchreport.txt", totals,
                         ReadBatchRunSettings().timeLimitSeconds);
}
