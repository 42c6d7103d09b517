// Directory search: the entries of one folder that match a search pattern,
// with their attributes in the Windows bit values.
//
// A pattern is a Windows-form path whose last component may hold the
// wildcards of MatchWildcard ("C:\jobs\*.*", "out\report?.txt"); the folder
// part (up to the last "\" or "/") goes through ToHostPath, and an empty
// folder part means the current folder.
//   Win32: FindFirstFileA / FindNextFileA / FindClose, with the critical-error
//          boxes switched off (SetErrorMode(SEM_FAILCRITICALERRORS)) around each
//          step, the previous mode restored afterwards.
//   Linux: opendir / readdir, names filtered by MatchWildcard (so matching
//          ignores ASCII case there too), attributes mapped as follows:
//          folder = directory; hidden = name beginning with "." ("." and ".."
//          excepted); device = character or block device, fifo or socket;
//          read-only = no write permission bit at all; archive = regular file;
//          reparse point = symbolic link (its other bits are those of the
//          target; a dangling link is a plain file); system is never set.
// "Not found": First answers false when the folder cannot be opened, when the
// last component is empty, or when no entry matches; nothing stays open then.
// Both hosts list "." and ".." where the folder has them; callers skip them.
// The order of entries is the host's. Never blocks beyond the file system.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Attribute bits of a file-system entry (the Windows values).
enum FileAttribute : unsigned {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolume = 0x08,
    kAttrFolder = 0x10,
    kAttrArchive = 0x20,
    kAttrDevice = 0x40,
    kAttrNormal = 0x80,
    kAttrReparsePoint = 0x400,
};

struct FindEntry {
    std::string name;  // the entry's name, without folder
    unsigned attributes = 0;
};

// One search at a time; starting a new one closes the previous one.
class DirSearch {
  public:
    DirSearch();
    ~DirSearch();
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    // Starts a search; true with the first matching entry in `entry`.
    bool First(std::string_view pattern, FindEntry& entry);
    // The next matching entry; false at the end (the search stays open).
    bool Next(FindEntry& entry);
    void Close();
    bool IsOpen() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
