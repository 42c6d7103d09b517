#include "tools/sim_job.h"

#include <cstdlib>
#include <memory>

#include "app/install_paths.h"
#include "batchlog/fichier_log_batch.h"
#include "fsutil/file_system.h"
#include "messages/catalogue.h"
#include "messages/paths.h"
#include "messages/regkey.h"
#include "platform/sleep.h"
#include "users/liste_users.h"

namespace torvanesim {
namespace {

constexpr unsigned kMaxExtraEvents = 1000000;
constexpr std::uint32_t kMaxSleepMs = 3600 * 1000;

bool NameHas(const CString& job, const char* word) {
    return job.Lower().Find(word) >= 0;
}

// A whole decimal number from the environment, capped at `limit`; 0 when
// the variable is unset, empty or not a number.
std::uint64_t EnvNumber(const char* name, std::uint64_t limit) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return 0;
    std::uint64_t value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
        if (value <= limit)
            value = value * 10 + static_cast<unsigned>(*p - '0');
    }
    return value < limit ? value : limit;
}

CString ReadSetting(const char* name) {
    return g_regKey.ReadValue(name, GetRegistryKeyPath().c_str(),
                              platform::SettingsRoot::LocalMachine);
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, SimArguments& parsed,
                    std::string& error) {
    bool batch = false;
    bool haveUser = false;
    bool haveJob = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-b" && !batch) {
            batch = true;
        } else if ((arg == "-u" && !haveUser) || (arg == "-j" && !haveJob)) {
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return false;
            }
            const std::string& value = args[++i];
            if (value.empty()) {
                error = "option " + arg + " has an empty value";
                return false;
            }
            if (arg == "-u") {
                parsed.user = value;
                haveUser = true;
            } else {
                parsed.job = value;
                haveJob = true;
            }
        } else {
            error = "unexpected argument \"" + arg + "\"";
            return false;
        }
    }
    if (!batch) {
        error = "only batch mode is supported: -b is required";
        return false;
    }
    if (!haveUser || !haveJob) {
        error = haveUser ? "missing -j <job>" : "missing -u <user>";
        return false;
    }
    return true;
}

SimSettings ReadSettings() {
    SimSettings settings;
    settings.extraEvents =
        static_cast<unsigned>(EnvNumber("TORVANE_SIM_EXTRA_EVENTS", kMaxExtraEvents));
    settings.sleepMs = static_cast<std::uint32_t>(EnvNumber("TORVANE_SIM_SLEEP_MS", kMaxSleepMs));
    return settings;
}

JobPlan PlanJob(const CString& job, const SimSettings& settings) {
    JobPlan plan;
    plan.sleepMs = settings.sleepMs;
    if (NameHas(job, "slow"))
        plan.sleepMs += kSlowJobMs;
    if (NameHas(job, "crash")) {
        plan.crash = true;
        return plan;
    }
    const std::string name = job.str();
    if (NameHas(job, "events")) {
        plan.events = {"Tool path of " + name + " loaded", "Machine set up for " + name,
                       "Simulation of " + name + " finished"};
        plan.alerts = {"Feed rate above the tool's limit on line 12",
                       "Rapid move close to the fixture on line 40"};
    } else {
        plan.events = {"Simulation of " + name + " finished"};
    }
    for (unsigned i = 0; i < settings.extraEvents; ++i)
        plan.events.push_back("Extra event " + std::to_string(i));
    if (NameHas(job, "fail")) {
        plan.simuOK = false;
        plan.errors = {"Collision of the tool holder with the part in " + name};
    }
    return plan;
}

void FillLog(const JobPlan& plan, const CString& user, const CString& job, FichierLogBatch& log) {
    log.m_jobName = job;
    log.m_userName = user;
    log.m_simuOK = plan.simuOK;
    log.m_nbErrors = static_cast<int>(plan.errors.size());
    log.m_nbAlerts = static_cast<int>(plan.alerts.size());
    log.m_eventList.Reset();
    for (const std::string& event : plan.events) *log.m_eventList.NewElement() = event;
    log.m_alertList.Reset();
    for (const std::string& alert : plan.alerts) *log.m_alertList.NewElement() = alert;
    log.m_errorList.Reset();
    if (!plan.errors.empty()) {
        KvListeErreurCanal* channel = log.m_errorList.NewElement()->NewElement();
        for (const std::string& error : plan.errors) *channel->NewElement() = error;
    }
}

int RunSimulator(const std::vector<std::string>& args, std::string& errorOut) {
    SimArguments parsed;
    std::string reason;
    if (!ParseArguments(args, parsed, reason)) {
        errorOut += "torvane-sim: " + reason + "; usage: torvane-sim -b -u <user> -j <job>\n";
        return kExitUsage;
    }

    // The users list's keys are texts of the system catalogue.
    const CString catalogue = ReadSetting("FILEMSGSYS");
    if (!FileExists(catalogue) || !g_systemMessages.LoadSystemCatalogue(catalogue)) {
        errorOut += "torvane-sim: cannot read the system catalogue \"" + catalogue.str() +
                    "\" (setting FILEMSGSYS)\n";
        return kExitSettings;
    }
    const CString usersPath = ReadSetting("FILEUSERS");
    // Shared folders resolve through g_users while the list loads.
    auto users = std::make_unique<ListeUsers>();
    g_users = users.get();
    const int loaded = users->Load(usersPath);
    CUser* user = users->FindUser(parsed.user);
    int status = kExitDone;
    if (loaded != 0) {
        errorOut += "torvane-sim: cannot read the users list \"" + usersPath.str() +
                    "\" (setting FILEUSERS)\n";
        status = kExitSettings;
    } else if (user == nullptr) {
        errorOut += "torvane-sim: no user \"" + parsed.user.str() + "\" in the users list \"" +
                    usersPath.str() + "\"\n";
        status = kExitSettings;
    } else {
        const JobPlan plan = PlanJob(parsed.job, ReadSettings());
        if (plan.sleepMs > 0)
            platform::SleepMs(plan.sleepMs);
        if (plan.crash) {
            status = kExitCrash;
        } else {
            const CString logPath = user->GetJobLogPath(parsed.job);
            // The simulator makes its user's batch folder when it is missing.
            KvFileSystem().CreateFolderPath(user->GetFolder(CUser::kBatchFolder));
            FichierLogBatch log;
            FillLog(plan, parsed.user, parsed.job, log);
            if (log.Save(logPath) != 0) {
                errorOut += "torvane-sim: cannot write the job's log \"" + logPath.str() + "\"\n";
                status = kExitSettings;
            }
        }
    }
    g_users = nullptr;
    return status;
}

}  // namespace torvanesim
