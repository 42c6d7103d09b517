#include "tools/sim_job.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/install_paths.h"
#include "batchlog/fichier_log_batch.h"
#include "fsutil/file_system.h"
#include "messages/catalogue.h"
#include "messages/paths.h"
#include "messages/regkey.h"
#include "platform/command_line.h"
#include "platform/file_stream.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "users/liste_users.h"

namespace torvanesim {
namespace {

constexpr unsigned kMaxExtraEvents = 1000000;
constexpr std::uint32_t kMaxSleepMs = 3600 * 1000;

bool NameHas(const CString& job, const char* word) {
    return job.Lower().Find(word) >= 0;
}

// A whole decimal number, capped at `limit`; 0 when the text is missing,
// empty or not a number.
std::uint64_t Number(const char* text, std::uint64_t limit) {
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

std::uint64_t EnvNumber(const char* name, std::uint64_t limit) {
    return Number(std::getenv(name), limit);
}

platform::Status ReadSetting(const char* name, CString* value) {
    return ReadSettingsValue(name, GetRegistryKeyPath().c_str(),
                             platform::SettingsRoot::LocalMachine, value);
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
    settings.childMs = static_cast<std::uint32_t>(EnvNumber("TORVANE_SIM_CHILD_MS", kMaxSleepMs));
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
    for (const std::string& event : plan.events) log.m_eventList.Add(event);
    log.m_alertList.Reset();
    for (const std::string& alert : plan.alerts) *log.m_alertList.NewElement() = alert;
    log.m_errorList.Reset();
    if (!plan.errors.empty()) {
        KvListeErreurCanal* channel = log.m_errorList.NewElement()->NewElement();
        for (const std::string& error : plan.errors) *channel->NewElement() = error;
    }
}

int RunSimulator(const std::vector<std::string>& args, std::string& errorOut,
                 platform::Status& settingsMissing, const std::string& selfPath) {
    SimArguments parsed;
    std::string reason;
    if (!ParseArguments(args, parsed, reason)) {
        errorOut += "torvane-sim: " + reason + "; usage: torvane-sim -b -u <user> -j <job>\n";
        return kExitUsage;
    }

    // The users list's keys are texts of the system catalogue.
    CString catalogue;
    if (platform::Status read = ReadSetting("FILEMSGSYS", &catalogue); !read.ok()) {
        settingsMissing = read;
        return kExitSettingsMissing;
    }
    if (!FileExists(catalogue) || !g_systemMessages.LoadSystemCatalogue(catalogue)) {
        errorOut += "torvane-sim: cannot read the system catalogue \"" + catalogue.str() +
                    "\" (setting FILEMSGSYS)\n";
        return kExitSettings;
    }
    CString usersPath;
    if (platform::Status read = ReadSetting("FILEUSERS", &usersPath); !read.ok()) {
        settingsMissing = read;
        return kExitSettingsMissing;
    }
    auto users = std::make_unique<ListeUsers>();
    const int loaded = users->Load(usersPath);
    CUser* user = users->FindUser(parsed.user);
    int status = kExitDone;
    if (loaded != KvFile::kLoaded) {
        errorOut += "torvane-sim: cannot read the users list \"" + usersPath.str() +
                    "\" (setting FILEUSERS)\n";
        status = kExitSettings;
    } else if (user == nullptr) {
        errorOut += "torvane-sim: no user \"" + parsed.user.str() + "\" in the users list \"" +
                    usersPath.str() + "\"\n";
        status = kExitSettings;
    } else {
        const SimSettings settings = ReadSettings();
        const JobPlan plan = PlanJob(parsed.job, settings);
        if (settings.childMs > 0 && !selfPath.empty()) {
            // The marker goes beside the log, whose folder may not exist yet.
            KvFileSystem().CreateFolderPath(user->GetFolder(CUser::kBatchFolder));
            const std::string marker = user->GetJobLogPath(parsed.job).str() + ".child";
            platform::LaunchResult child = platform::LaunchCommandLine(
                platform::JoinCommandLine(
                    selfPath, {kLingerOption, std::to_string(settings.childMs), marker}),
                {.wait = false, .show = false});
            if (!child.created)
                errorOut += "torvane-sim: cannot start its lingering child: " + child.reason + "\n";
        }
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
            if (log.Save(logPath) != KvFile::kSaved) {
                errorOut += "torvane-sim: cannot write the job's log \"" + logPath.str() + "\"\n";
                status = kExitSettings;
            }
        }
    }
    return status;
}

int RunLinger(const std::vector<std::string>& args, std::string& errorOut) {
    if (args.size() != 2 || args[0].empty() || args[1].empty() ||
        (Number(args[0].c_str(), kMaxSleepMs) == 0 && args[0] != "0")) {
        errorOut += "torvane-sim: usage: torvane-sim --linger <ms> <marker>\n";
        return kExitUsage;
    }
    platform::SleepMs(static_cast<std::uint32_t>(Number(args[0].c_str(), kMaxSleepMs)));
    std::FILE* marker = platform::OpenStream(args[1], "wb");
    if (marker == nullptr) {
        errorOut += "torvane-sim: cannot write the marker \"" + args[1] + "\"\n";
        return kExitSettings;
    }
    const std::string text = "lingered " + args[0] + " ms\n";
    bool written = std::fwrite(text.data(), 1, text.size(), marker) == text.size();
    written = std::fclose(marker) == 0 && written;
    return written ? kExitDone : kExitSettings;
}

}  // namespace torvanesim
