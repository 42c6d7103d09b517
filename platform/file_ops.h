// File operations on single paths: attributes, folder creation and removal,
// file copy and deletion, the current folder.
//
// Every path is Windows-form and goes through ToHostPath; every operation
// answers true on success and false on any failure, and none blocks beyond
// the file system itself. "Not found" is a failure like any other.
//   Win32: GetFileAttributesA, CreateDirectoryA (security attributes with an
//          inheritable handle and the default descriptor), RemoveDirectoryA,
//          CopyFileA, DeleteFileA, SetCurrentDirectoryA, SetFileAttributesA.
//   Linux: the attributes are those of DirSearch (dir_search.h); mkdir with
//          mode 0777 (the umask applies); rmdir, or unlink for a symbolic
//          link standing in for a folder (Windows removes such a link, not
//          its target); the copy is open/read/write, keeping the permission
//          bits and the modification time as CopyFileA does, and refuses a
//          source that is not a regular file (a fifo or device) without
//          waiting on it; unlink; chdir.
// Differences a caller may meet: Windows refuses to delete a read-only file,
// Linux deletes it when the folder allows.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// The attributes of a file or folder (FileAttribute bits); false when the
// path does not name an entry that can be read.
bool GetAttributes(std::string_view path, unsigned& attributes);

// Creates one folder whose parent exists; false when it exists already.
bool MakeFolder(std::string_view path);

// Removes one empty folder; false when it is not empty or not a folder.
bool RemoveEmptyFolder(std::string_view path);

// Copies a file. With `overwrite` false an existing destination is never
// touched (Linux: O_EXCL); with it true the destination is replaced, except
// when it is the source itself (that copy fails and the file stays whole).
// A failed copy leaves no partial destination behind.
bool CopyOneFile(std::string_view source, std::string_view destination, bool overwrite);

// Deletes one file (not a folder).
bool DeleteOneFile(std::string_view path);

// (Not named ReplaceFile: <windows.h> takes that name as a macro.)
// Puts `source` in place of `destination` in one step: a reader of
// `destination` sees either the old file whole or the new one whole, never a
// mix, and a crash at any moment leaves one of the two. Both must lie on the
// same volume (a file written beside the destination and then moved).
// Win32: MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
// Linux: rename(2).
bool MoveIntoPlace(std::string_view source, std::string_view destination);

// The last modification time of a file, in milliseconds since 1970-01-01
// 00:00 UTC (the clock of NowMs); nullopt when the path names no readable
// entry. Win32: GetFileAttributesExA (ftLastWriteTime); Linux: stat st_mtim.
std::optional<std::int64_t> ModificationTimeMs(std::string_view path);

// Whether two paths name one entry on disk: the same file or folder, reached
// through different spellings, links or mounts. False when either cannot be
// read. Win32: the volume serial number and file index of
// GetFileInformationByHandle (folders opened with backup semantics); Linux:
// the device and inode numbers of stat.
bool SameEntry(std::string_view a, std::string_view b);

// Makes the folder the process's current folder.
bool ChangeCurrentFolder(std::string_view path);

// Marks a file or folder hidden. Win32 sets the hidden attribute; on Linux
// hidden is the name itself, so this only answers whether the name begins
// with ".".
bool MakeHidden(std::string_view path);

}  // namespace platform
