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

// One apartment per call: tests call these rarely, and pairing CoInitialize
// with CoUninitialize keeps the process as it was found.
class ComScope {
  public:
    ComScope() : m_ok(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (m_ok)
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool ok() const { return m_ok; }

  private:
    bool m_ok;
};

// Releases a COM interface at the end of its scope.
template <typename T>
struct Releaser {
    T* p = nullptr;
    ~Releaser() {
        if (p)
            p->Release();
    }
};

std::wstring Wide(std::string_view text) {
    std::u16string wide = AnsiToWide(text);
    return std::wstring(wide.begin(), wide.end());
}

}  // namespace

bool HostShellLinkAvailable() {
    ComScope com;
    if (!com.ok())
        return false;
    Releaser<IShellLinkA> link;
    return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IShellLinkA, reinterpret_cast<void**>(&link.p)));
}

bool HostWriteShellLink(std::string_view linkPath, std::string_view targetPath) {
    ComScope com;
    if (!com.ok())
        return false;
    Releaser<IShellLinkA> link;
    Releaser<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link.p))))
        return false;
    if (FAILED(link.p->SetPath(std::string(targetPath).c_str())))
        return false;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))))
        return false;
    return SUCCEEDED(file.p->Save(Wide(linkPath).c_str(), TRUE));
}

std::optional<std::string> HostShellLinkPath(std::string_view linkPath) {
    ComScope com;
    if (!com.ok())
        return std::nullopt;
    Releaser<IShellLinkA> link;
    Releaser<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link.p))))
        return std::nullopt;
    if (FAILED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))))
        return std::nullopt;
    if (FAILED(file.p->Load(Wide(linkPath).c_str(), STGM_READ)))
        return std::nullopt;
    char buffer[MAX_PATH] = {};
    WIN32_FIND_DATAA found{};
    if (FAILED(link.p->GetPath(buffer, MAX_PATH, &found, SLGP_UNCPRIORITY)))
        return std::nullopt;
    return std::string(buffer);
}

}  // namespace platform
