// KvFileSystem: the file and folder operations of the launcher.
//
// Existence tests, path normalisation and splitting, creation of a folder with
// all its parents, listings of folders (flat or recursive, filtered by
// attributes), a file copy that never overwrites, and copy, move and removal
// of whole folder trees. The batch run uses it to test, copy and remove work
// files; the users' folder operations use it to normalise folder paths,
// create folders and move a folder's contents when it is reassigned.
//
// Paths are Windows-form ANSI text with "\" as separator; "/" is accepted
// where an operation says so. Disk operations answer true on success and
// false on failure (nothing else depends on why) and never throw; listings come back empty when
// their pattern cannot be searched. An object runs one directory search at a time: every listing
// runs its search to the end and closes it before it recurses.
#pragma once

#include <vector>

#include "containers/cstring.h"
#include "platform/dir_search.h"

// A list of paths returned by a listing; it belongs to the caller.
using CStringList = std::vector<CString>;

class KvFileSystem {
  public:
    // Attribute masks of the listings. 0 and kPlainFiles select entries that
    // are neither hidden, system, volume label, folder nor device (read-only
    // and archive files are plain); kFolders selects folders, hidden ones
    // included; kEverything every entry; any other value the entries sharing
    // at least one attribute bit with it.
    static constexpr int kPlainFiles = 128;
    static constexpr int kFolders = 16;
    static constexpr int kEverything = -1;

    KvFileSystem();
    virtual ~KvFileSystem();
    KvFileSystem(const KvFileSystem&) = delete;
    KvFileSystem& operator=(const KvFileSystem&) = delete;

    // --- Path text (no disk access) ---

    // Folder form: "/" becomes "\", each "\\" collapses to "\" (one pass from
    // the left), a leading "\" is doubled (network form), a final "\" is
    // added. An empty path stays empty. Changes `path` and returns it.
    static CString& NormalizeFolder(CString& path);
    // File form: each "\\" collapses (one pass; "/" stays), a leading "\" is
    // doubled, one final "\" is removed. An empty path stays empty.
    static CString& NormalizePath(CString& path);
    // The text after the last "\" or "/" (the whole path without either).
    static CString NamePart(const CString& path);
    // The text up to and including the last "\" or "/" ("" without either).
    static CString FolderPart(const CString& path);
    // The text after the last "." of the name; "" without one or after a final ".".
    static CString ExtensionPart(const CString& path);
    // folder + "\" + name, without the "\" when folder is empty or already
    // ends with a separator.
    static CString JoinPath(const CString& folder, const CString& name);
    // A drive path (its first ":" is its second character) or a network path
    // (at least three characters starting with "\\").
    static bool IsAbsolute(const CString& path);
    // The extension is exactly "lnk" (case counts).
    static bool IsShortcutFile(const CString& path);

    // --- Tests ---

    // A file or a folder is there. A pattern with "*" or "?" names no entry.
    bool Exists(const CString& path) const;
    bool IsFolder(const CString& path) const;

    // --- Operations on the disk ---

    // Creates the folder and every missing parent, splitting at "\" and "/"
    // and never trying a drive ("C:") itself. The result is that of the last
    // folder created: false when it existed already, so call it for new folders.
    bool CreateFolderPath(const CString& path);
    bool RemoveFile(const CString& path);
    // Deletes every entry of ListFolder(pattern, mask); true when all went.
    bool RemoveFiles(const CString& pattern, int mask);
    // Not recursive: removes the folder when it is empty. Recursive: its
    // subfolders, then its files, then the folder; only the last step counts.
    bool RemoveFolder(const CString& path, bool recursive);
    // Copies a file without ever overwriting one. "/" counts as "\". A
    // missing destination folder is created when its path is absolute, else
    // the copy fails. An existing destination gets the first free CopyName
    // beside it, numbered 0, 1, 2..., with the user catalogue's texts
    // (6, 7, 1, 0) and (6, 7, 1, 1) as `first` and `second`.
    bool SafeCopyFile(const CString& source, const CString& destination);
    // The destination's copy name number `number`: its name becomes
    //   first + " " + second + " " + name               for 0,
    //   first + " (" + number + ") " + second + " " + name  after that.
    // Only the name changes, never a folder of the path that holds the same
    // text (nor the name's own text, should it hold first and second).
    static CString CopyName(const CString& destination, const CString& first, const CString& second,
                            int number);
    // Copies the folders and plain files of a tree into destination.
    bool CopyFolder(const CString& source, const CString& destination);
    // Copies a tree with everything in it, then removes the source.
    bool MoveFolder(const CString& source, const CString& destination);
    // The target stored in a shortcut file; "" for an empty path or any failure.
    CString ReadShortcut(const CString& path) const;

    // --- Listings ---

    // The entries of one folder matching the pattern and the mask, each as
    // FolderPart(pattern) + name, in the host's order; never "." or "..".
    CStringList ListFolder(const CString& pattern, int mask);
    // The folders directly inside `folder`, as full paths or bare names.
    CStringList ListSubfolders(const CString& folder, bool full);
    // ListFolder(pattern, mask), then, when recursive, the same listing in
    // each subfolder in turn: a folder's own entries come first, and each
    // subfolder is listed before its content.
    CStringList ListFiles(const CString& pattern, int mask, bool recursive);
    void ListFiles(const CString& pattern, int mask, bool recursive, CStringList& list);

  private:
    // Whether an entry with these attributes passes a listing mask.
    static bool PassesMask(unsigned attributes, int mask);
    // One step of the directory search: starts it when `pattern` is given,
    // continues it otherwise. False at the end; true with the entry's name
    // in `name` when it passes the mask and with "" when it does not.
    bool FindStep(const CString* pattern, int mask, CString& name);
    // The tree copy behind CopyFolder and MoveFolder.
    bool CopyTree(const CString& source, const CString& destination, bool everyFile);

    platform::DirSearch m_find;
    platform::FindEntry m_findData;
};
