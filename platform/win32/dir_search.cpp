#include "platform/dir_search.h"

#include <windows.h>

#include <string>

namespace platform {
namespace {

// Keeps the "insert a disk" and similar boxes away while one search step runs.
class QuietErrors {
  public:
    QuietErrors() : m_previous(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
    ~QuietErrors() { SetErrorMode(m_previous); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

  private:
    UINT m_previous;
};

void Fill(const WIN32_FIND_DATAA& data, FindEntry& entry) {
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes;
}

}  // namespace

struct DirSearch::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

DirSearch::DirSearch() : m_impl(std::make_unique<Impl>()) {}

DirSearch::~DirSearch() {
    Close();
}

void DirSearch::Close() {
    if (m_impl->handle != INVALID_HANDLE_VALUE) {
        FindClose(m_impl->handle);
        m_impl->handle = INVALID_HANDLE_VALUE;
    }
}

bool DirSearch::IsOpen() const {
    return m_impl->handle != INVALID_HANDLE_VALUE;
}

bool DirSearch::First(std::string_view pattern, FindEntry& entry) {
    Close();
    std::string text(pattern);
    if (text.empty() || text.back() == '\\' || text.back() == '/')
        return false;
    WIN32_FIND_DATAA data{};
    {
        QuietErrors quiet;
        m_impl->handle = FindFirstFileA(text.c_str(), &data);
    }
    if (m_impl->handle == INVALID_HANDLE_VALUE)
        return false;
    Fill(data, entry);
    return true;
}

bool DirSearch::Next(FindEntry& entry) {
    if (m_impl->handle == INVALID_HANDLE_VALUE)
        return false;
    WIN32_FIND_DATAA data{};
    BOOL found;
    {
        QuietErrors quiet;
        found = FindNextFileA(m_impl->handle, &data);
    }
    if (!found)
        return false;
    Fill(data, entry);
    return true;
}

}  // namespace platform
