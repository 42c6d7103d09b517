// CUser: one user of the users list -- a name, two flags, two texts and the
// twenty folders in which the simulator keeps that user's files of each kind.
//
// The record is stored in its element chapter of the users file (see
// liste_users.h). Most of its keys are not fixed words but texts of the system
// catalogue, message (1, n); four folder kinds use fixed "RT ..." (mode) and
// "RN ..." (path) keys. A users file can therefore only be read with the
// system catalogue that wrote it.
//
// A folder entry holds the path as assigned and its expansion (environment
// variables replaced) and a mode that says where the folder comes from:
//   0, 3  the path is given;
//   1     the path is the user's base folder (kind 0) plus the kind's
//         sub-folder name;
//   2     shared: the folder is the current user's folder of the same kind,
//         in the users list that holds this user;
//   -1    never assigned.
// The batch run relies on kind 17, the batch folder: it holds the user's batch
// project file, its retired copy and the logs of the user's jobs, and for the
// current user also the queue and the report.
#pragma once

#include <array>

#include "containers/cstring.h"

class KvFile;
class ListeUsers;

class CUser {
  public:
    static constexpr int kFolderCount = 20;
    static constexpr int kBaseFolder = 0;
    static constexpr int kBatchFolder = 17;

    enum FolderMode {
        kModeUnset = -1,
        kModeGiven = 0,
        kModeBaseRelative = 1,
        kModeShared = 2,
        kModeGivenExpanded = 3
    };

    // One folder entry, indexed by folder kind.
    struct TYPE_Dossier {
        CString expanded;  // the assigned path with variables expanded when it was assigned
        CString assigned;  // the path as assigned, normalised
        int mode = kModeUnset;
    };

    CUser() = default;
    virtual ~CUser() = default;
    CUser(const CUser&) = default;
    CUser& operator=(const CUser&) = default;

    // The stored name with environment variables expanded; users are found
    // and their files named by it.
    const CString& GetName() const { return m_name; }
    // The name as the file holds it.
    const CString& GetStoredName() const { return m_storedName; }
    // The text kept under message (1, 42), in plain form.
    const CString& GetScrambledText() const { return m_scrambled; }
    bool IsCurrent() const { return m_current; }
    void SetCurrent(bool current) { m_current = current; }

    // The list whose current user answers for this user's shared folders;
    // null (the default) for a user outside any list, whose shared folders
    // then have no path. The list sets it on each user it creates.
    ListeUsers* GetList() const { return m_list; }
    void SetList(ListeUsers* list) { m_list = list; }

    // Reads or writes the user through `file`, whose current chapter is the
    // user's element chapter, as the file's open mode says. `newFormat` is
    // false only when reading a users file of version "0.1", which holds the
    // scrambled text in plain form. Missing keys leave their fields alone,
    // except kinds 15 and 18 (shared when their mode key is missing), kind 19
    // (a copy of kind 14) and the scrambled text (empty). Returns 4.
    int ExchangeUser(KvFile& file, bool newFormat);

    // Mirrors every character from "0" to "z" (codes 48 to 122 as a signed
    // byte) inside that range: c becomes 170 - c. Other characters, bytes
    // above 127 included, stay. Applying it twice gives the text back.
    static CString ScrambleText(const CString& text);

    // --- Folders (kinds 0 to 19; any other kind has no folder: "" / -1) ---

    int GetFolderMode(int kind) const;
    // The expanded path -- the current user's for a shared entry -- expanded
    // once more and given one final backslash (doubled backslashes collapsed,
    // a leading one doubled). "" when there is none, or when a shared entry
    // finds no current user.
    CString GetFolder(int kind) const;
    // The same on the assigned path, without expansion. Normalises the stored
    // assigned path in place.
    CString GetFolderRaw(int kind);
    // Assigns a folder: mode 0 or 3 the value is the path, 1 the value is
    // relative to the base folder, 2 shared (kinds 15 and 18 still store the
    // base-relative path, others store nothing). The path is stored in folder
    // form with its expansion, the folder is created on disk (failures
    // ignored), then the mode is stored.
    void SetFolder(int kind, int mode, const CString& value);
    // Re-stores a folder under `value` (folder form, and its expansion),
    // keeping the mode; when the path changed, what the old folder holds is
    // moved into the new one. Used when the users list is loaded.
    void ChangeFolder(int kind, const CString& value);

    // --- Batch paths ---

    // An empty batch folder becomes "BATCH" inside the base folder (mode 1),
    // created on disk.
    void EnsureBatchFolder();
    // The batch folder + name + "-BATCH.tvs", expanded; the batch folder is
    // given its default first when it is empty.
    CString GetBatchProjectPath();
    // The same ending in "-BATCH.tmp": the retired batch project file.
    CString GetBatchTempPath();
    // The batch folder + the job's log file name: the job name without its
    // folders, cut at its first "." and ending in ".log".
    CString GetJobLogPath(const CString& jobName) const;

    // Read-only view of an entry, for callers that list a user's folders.
    const TYPE_Dossier* GetFolderEntry(int kind) const;

  private:
    static bool ValidKind(int kind) { return kind >= 0 && kind < kFolderCount; }
    // The entry that a look-up of `kind` answers from: the current user's for
    // a shared entry (null when there is no current user), else this one's.
    const TYPE_Dossier* LookupEntry(int kind) const;
    TYPE_Dossier* LookupEntry(int kind);
    CString BatchPath(const char* suffix);

    std::array<TYPE_Dossier, kFolderCount> m_folders{};
    CString m_name;
    CString m_storedName;
    CString m_web;
    CString m_scrambled;
    ListeUsers* m_list = nullptr;
    bool m_flag2 = false;
    bool m_current = false;
};
