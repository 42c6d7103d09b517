#include "platform/message_box.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace platform {

int ShowMessageBox(std::string_view text, std::string_view title, unsigned style) {
    std::string textZ(text);
    std::string titleZ(title);
    int answer = MessageBoxA(nullptr, textZ.c_str(), titleZ.c_str(), style);
    // The documented answers are IDOK (1) to IDCONTINUE (11); anything else
    // means no box was shown.
    if (answer >= 1 && answer <= 11)
        return answer;
    std::string line = titleZ + ": " + textZ + "\n";
    std::fflush(stderr);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return kIdOk;
}

std::string ApplicationTitle() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0)
        return "torvane-batch";
    std::string name(path, length);
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

}  // namespace platform
