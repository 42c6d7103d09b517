#include "app/entry_point.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "app/batch_run.h"
#include "app/batch_status.h"
#include "app/command_line.h"
#include "app/end_command.h"
#include "app/install_paths.h"
#include "app/progress_line.h"
#include "app/slurm_run.h"
#include "cluster/batch_engine.h"
#include "messages/catalogue.h"
#include "messages/paths.h"
#include "messages/regkey.h"
#include "platform/console.h"
#include "platform/current_process.h"
#include "platform/file_stream.h"
#include "platform/host_features.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/shared_file.h"
#include "users/liste_users.h"

namespace {

constexpr const char* kBuildKind = "Release";
// An executable whose name begins with this, in any case, is an interactive
// simulator: the batch waits until it has ended.
constexpr const char* kSimulatorPrefix = "Torvane8";

platform::Status ReadMachineValue(const char* name, CString* value) {
    return ReadSettingsValue(name, GetRegistryKeyPath().c_str(),
                             platform::SettingsRoot::LocalMachine, value);
}

// The BATCHENGINE setting in lower case; "local" when it is unset.
std::string EngineName(const CString& setting) {
    std::string engine = setting.str();
    for (char& c : engine)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return engine.empty() ? "local" : engine;
}

void PrintLine(const std::string& text) {
    std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

using HeldFile = platform::UniqueStream;

}  // namespace

int EndOnFailure(const platform::Status& failure) {
    if (failure.code() == platform::Status::Code::kSettingsMissing) {
        platform::ShowMessageBox(failure.message(), platform::ApplicationTitle(),
                                 platform::kMbIconExclamation | platform::kMbOk);
        return kSettingsMissingExitStatus;
    }
    // Whatever the banner and the run printed comes first.
    std::string line = CannotOpenLine(failure) + "\n";
    std::fflush(stdout);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return kOpenFailureExitStatus;
}

int TorvaneBatchMain(int argc, char* argv[], const BatchRunHost& host) {
    if (std::optional<int> status = AnswerInformationRequest(argc, argv))
        return *status;

    CString systemCatalogue;
    if (platform::Status read = ReadMachineValue("FILEMSGSYS", &systemCatalogue); !read.ok())
        return EndOnFailure(read);
    if (!FileExists(systemCatalogue) || !g_systemMessages.LoadSystemCatalogue(systemCatalogue)) {
        PrintLine(kMissingFileLine + systemCatalogue.str());
        return 1;
    }
    CString languageList;
    if (platform::Status read = ReadMachineValue("FILEMSGU_TORVANE", &languageList); !read.ok())
        return EndOnFailure(read);
    if (!FileExists(languageList) || !g_userMessages.LoadLanguageList(languageList)) {
        PrintLine(kMissingFileLine + languageList.str());
        return 1;
    }
    // An unknown language leaves every user text at its fallback.
    CString language;
    if (platform::Status read = ReadSettingsValue("LANGUAGE", GetRegistryKeyPath().c_str(),
                                                  platform::SettingsRoot::CurrentUser, &language);
        !read.ok())
        return EndOnFailure(read);
    g_userMessages.SelectLanguage(language);

    if (argc > 1 && std::string(argv[1]) == kRunJobArgument) {
        // One job of a queue on a cluster node, handed there by the Slurm
        // engine: <folder> <user> <job> <position> <token>.
        if (argc != 7)
            return 1;
        CString usersPath;
        if (platform::Status read = ReadMachineValue("FILEUSERS", &usersPath); !read.ok())
            return EndOnFailure(read);
        const auto users = std::make_unique<ListeUsers>();
        users->Load(usersPath);
        platform::Status failure;
        const int status =
            RunClusterJob(*users, CString(argv[2]), CString(argv[3]), CString(argv[4]), argv[5],
                          argv[6], host, ReadBatchRunSettings(), failure);
        return failure.ok() ? status : EndOnFailure(failure);
    }
    const CommandLineRequest request = ReadCommandLine(argc, argv);
    const bool status = request == CommandLineRequest::kShowStatus ||
                        request == CommandLineRequest::kShowStatusJson;
    if (request != CommandLineRequest::kRunBatch && !status)
        return 1;

    CString engineName;
    CString slurmOptions;
    for (auto [name, value] :
         {std::pair{"BATCHENGINE", &engineName}, std::pair{"BATCHSLURMOPTIONS", &slurmOptions}}) {
        if (platform::Status read = ReadMachineValue(name, value); !read.ok())
            return EndOnFailure(read);
    }
    // The status view shows whatever engine is set; a run refuses one this
    // build cannot use.
    cluster::BatchEngineChoice engine = cluster::ChooseBatchEngine(
        engineName.str(), slurmOptions.str(), platform::HostHasSlurmClient());
    if (!engine.ok && !status) {
        std::fprintf(stderr, "torvane-batch: %s\n", engine.error.c_str());
        return 2;
    }

    CString banner;
    banner.Format("%s v%s - %s", g_userMessages.GetMessage(20, 0, 0, 9).c_str(), ProgramVersion(),
                  kBuildKind);
    if (!status)
        PrintLine(banner.str());

    CString usersPath;
    if (platform::Status read = ReadMachineValue("FILEUSERS", &usersPath); !read.ok())
        return EndOnFailure(read);
    const auto users = std::make_unique<ListeUsers>();
    // A missing or unreadable users file leaves the list empty, and then
    // there is no current user below.
    users->Load(usersPath);
    CUser* current = users->GetCurrentUser();
    if (current == nullptr) {
        if (status)
            std::fprintf(stderr, "torvane-batch: no current user in the users list \"%s\"\n",
                         usersPath.c_str());
        return 1;
    }
    if (status)
        return ShowBatchStatus(current->GetFolder(CUser::kBatchFolder), EngineName(engineName),
                               request == CommandLineRequest::kShowStatusJson);
    KvBatchExecFile queue(current->GetFolder(CUser::kBatchFolder), users.get());

    // One launcher per batch folder, checked before the queue is touched and
    // before the wait, so that a second launcher ends at once.
    CString lockPath = queue.GetFolder() + kLauncherLockName;
    platform::ExclusiveOpen lock = platform::TryOpenExclusive(lockPath.str(), "w");
    if (lock.status.IsBusy()) {
        std::fprintf(stderr,
                     "torvane-batch: another launcher is already running the queue of \"%s\"\n",
                     queue.GetFolder().c_str());
        return 1;
    }
    if (!lock.status.ok())
        return EndOnFailure(lock.status.WithContext(lockPath.str()));
    HeldFile heldLock(lock.stream);

    if (std::optional<platform::ProcessEntry> simulator =
            platform::FindProcessByNamePrefix(kSimulatorPrefix)) {
        if (platform::WaitForProcessEnd(simulator->id) == platform::WaitOutcome::kCannotOpen)
            return 1;
    }

    // A person at a console sees each job end; other output stays as it was.
    BatchRunHost runHost = host;
    if (!runHost.jobEnded && platform::StandardOutputIsTerminal())
        runHost.jobEnded = PrintProgressLine;

    if (engine.engine == cluster::BatchEngine::kSlurm) {
        BatchRun run(queue, runHost, ReadBatchRunSettings());
        SlurmClusterClient client;
        ClusterRunSettings settings;
        settings.launcherPath = platform::CurrentExecutablePath();
        settings.siteOptions = engine.slurmOptions;
        settings.errorLine = [](const std::string& line) {
            std::fprintf(stderr, "torvane-batch: %s\n", line.c_str());
        };
        const EngineOutcome outcome = run.RunWith(
            [&](BatchRunContext& context) { return RunOnCluster(context, client, settings); });
        if (outcome == EngineOutcome::kStopped)
            return EndOnFailure(run.Failure());
        if (outcome == EngineOutcome::kLeftQueued)
            return 2;
        RunBatchEndCommand(queue);
        return 0;
    }
    if (!queue.RunBatch(runHost))
        return EndOnFailure(queue.GetRunFailure());
    RunBatchEndCommand(queue);
    return 0;
}
