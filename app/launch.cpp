#include "app/launch.h"

#include "messages/catalogue.h"
#include "platform/message_box.h"

void ReportError(int a, int b, const CString& detail, const ErrorSink& sink) {
    CString message = g_userMessages.GetMessage(3, 12, static_cast<std::uint32_t>(a),
                                                static_cast<std::uint32_t>(b)) +
                      " " + detail;
    if (sink) {
        sink(message);
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

platform::LaunchResult Launch(const CString& commandLine, const platform::LaunchOptions& options,
                              const ProcessLauncher& launcher, const ErrorSink& sink) {
    platform::LaunchResult result = launcher(commandLine.str(), options);
    if (!result.created)
        ReportError(1, 1, commandLine, sink);
    return result;
}

int LaunchProcess(const CString& commandLine, int wait, int minimize, void* window, int show,
                  const ProcessLauncher& launcher, const ErrorSink& sink) {
    platform::LaunchOptions options;
    options.wait = wait != 0;
    options.show = show != 0;
    options.minimizeWhileWaiting = wait != 0 && minimize != 0;
    options.window = window;
    return Launch(commandLine, options, launcher, sink).created ? 1 : 0;
}

CString JobScript(const CString& installFolder) {
    return "\"" + installFolder + "TorvaneBatch.bat\"";
}

CString JobCommandLine(const CString& script, const CString& user, const CString& job) {
    return script + " -b -u \"" + user + "\" -j \"" + job + "\"";
}
