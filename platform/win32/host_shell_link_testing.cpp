#include "platform/host_shell_link_testing.h"

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "platform/codepage.h"

namespace platform {
namespace {

// A shell link and its file interface in an apartment of their own: tests
// call these rarely, and pairing CoInitialize with CoUninitialize keeps the
// process as it was found.
class ShellLink {
  public:
    ShellLink() : m_com(SUCCEEDED(CoInitialize(nullptr))) {
        if (m_com && SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IShellLinkA, reinterpret_cast<void**>(&link))))
            link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    }
    ~ShellLink() {
        if (file != nullptr)
            file->Release();
        if (link != nullptr)
            link->Release();
        if (m_com)
            CoUninitialize();
    }
    ShellLink(const ShellLink&) = delete;
    ShellLink& operator=(const ShellLink&) = delete;

    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;  // null unless both interfaces were had

  private:
    bool m_com;
};

std::wstring Wide(std::string_view text) {
    std::u16string wide = AnsiToWide(text);
    return std::wstring(wide.begin(), wide.end());
}

}  // namespace

bool HostShellLinkAvailable() {
    return ShellLink().file != nullptr;
}

bool HostWriteShellLink(std::string_view linkPath, std::string_view targetPath) {
    ShellLink shell;
    return shell.file != nullptr &&
           SUCCEEDED(shell.link->SetPath(std::string(targetPath).c_str())) &&
           SUCCEEDED(shell.file->Save(Wide(linkPath).c_str(), TRUE));
}

std::optional<std::string> HostShellLinkPath(std::string_view linkPath) {
    ShellLink shell;
    char buffer[MAX_PATH] = {};
    WIN32_FIND_DATAA found{};
    if (shell.file == nullptr || FAILED(shell.file->Load(Wide(linkPath).c_str(), STGM_READ)) ||
        FAILED(shell.link->GetPath(buffer, MAX_PATH, &found, SLGP_UNCPRIORITY)))
        return std::nullopt;
    return std::string(buffer);
}

}  // namespace platform
