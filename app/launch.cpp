#include "app/launch.h"

#include "messages/catalogue.h"
#include "platform/message_box.h"

BatchModeFunction BatchModeHook = nullptr;
ErrorMessageFunction ErrorMessageHook = nullptr;

bool IsBatchMode() {
    return BatchModeHook != nullptr && BatchModeHook();
}

void ReportError(int a, int b, const CString& detail) {
    CString message = g_userMessages.GetMessage(3, 12, static_cast<std::uint32_t>(a),
                                                static_cast<std::uint32_t>(b)) +
                      " " + detail;
    if (IsBatchMode() && ErrorMessageHook != nullptr) {
        ErrorMessageHook(message);
        return;
    }
    platform::ShowMessageBox(message.str(), g_userMessages.GetMessage(2, 1, 1, 0).str(),
                             platform::kMbOk | platform::kMbIconExclamation);
}

ProcessLauncher HostProcessLauncher() {
    return [](std::string_view commandLine, const platform::LaunchOptions& options) {
        return platform::LaunchCommandLine(commandLine, options);
    };
}

int LaunchProcess(const CString& commandLine, int wait, int minimize, void* window, int show,
                  const ProcessLauncher& launcher) {
    platform::LaunchOptions options;
    options.wait = wait != 0;
    options.show = show != 0;
    options.minimizeWhileWaiting = wait != 0 && minimize != 0;
    options.window = window;
    platform::LaunchResult result = launcher(commandLine.str(), options);
    if (!result.created) {
        ReportError(1, 1, commandLine);
        return 0;
    }
    return 1;
}

CString JobScript(const CString& installFolder) {
    return "\"" + installFolder + "TorvaneBatch.bat\"";
}

CString JobCommandLine(const CString& script, const CString& user, const CString& job) {
    return script + " -b -u \"" + user + "\" -j \"" + job + "\"";
}
