// ListeUsers: the users list, the chaptered file shared with the interactive
// simulator that names the company, the people who use the simulator and,
// for each of them, the folders the simulator works in (see user.h).
//
// The file is a KvFileListe titled "Liste utilisateurs", version "0.2": one
// fixed chapter "Societe" with the company's data, then one chapter
// "element utilisateur" per user. The launcher only reads it: once at start-up
// from the path of the "FILEUSERS" setting, to find the current user (whose
// batch folder holds the queue) and the user of each queued job. The writing
// side exists because the same exchange code defines the format both ways.
//
// The entry point owns the program's one list and hands it to the queue file,
// which finds users through it. Each user the list creates knows the list, so
// that the user's shared folders (mode 2) resolve through its current user.
#pragma once

#include "chapfile/kv_file_list.h"
#include "containers/kv_liste_chainee.h"
#include "users/record_keys.h"
#include "users/user.h"

class ListeUsers : public KvFileListe {
  public:
    ListeUsers();

    // The fixed chapter "Societe" with the seven company values. Reading:
    // what the file lacks keeps its value. Returns 4.
    int ExchangeContents() override;
    // Reading: a chapter "element utilisateur" becomes a new user, read in
    // the old format when the file's version is exactly "0.1"; any other
    // chapter is ignored. Writing (null): every user, in the new format.
    // Returns 4.
    int ExchangeElement(KvFileChapitre* chapter) override;
    // Empties the list, loads the file and, when that succeeded (0), gives
    // every user's folders their final, expanded form (ResolveFolders).
    int Load(const CString& path) override;

    // The first user whose expanded name is exactly `name` (case counts), or
    // null.
    CUser* FindUser(const CString& name);
    // The last user flagged as current; when none is, every user named
    // "public" is flagged and the last of them returned; null when there is
    // no such user either.
    CUser* GetCurrentUser();

    // The record keys of this load or save, shared by its users.
    RecordKeys& Keys() { return m_keys; }

    KvListeDEvolue<CUser>& Users() { return m_users; }
    const KvListeDEvolue<CUser>& Users() const { return m_users; }

    CString m_companyName;
    CString m_companyAddress;
    CString m_companyPostalCode;
    CString m_companyTown;
    CString m_companyPhone;
    CString m_companyFax;
    CString m_companyEmail;

  private:
    // Re-stores every user's folders as their expanded, normalised paths,
    // moving a folder's contents when its path changed.
    void ResolveFolders();

    KvListeDEvolue<CUser> m_users;
    RecordKeys m_keys;
    CUser* m_pinnedCurrent = nullptr;  // GetCurrentUser's answer while ResolveFolders runs
};
