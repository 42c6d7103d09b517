#include "users/liste_users.h"

#include "messages/expand_environment.h"

namespace {

const char kUserClass[] = "utilisateur";

// The folder kinds re-stored after a load, in this order. Kind 0 is expanded
// when it is read; kinds 6 and 16 are left as read.
constexpr int kResolvedKinds[] = {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 14, 19, 13, 15, 18, 17};

}  // namespace

ListeUsers::ListeUsers() : KvFileListe("Liste utilisateurs", "0.2") {}

int ListeUsers::ExchangeContents() {
    // Each load or save looks the keys up again: the catalogue may have
    // changed since the last.
    m_keys = RecordKeys();
    Chapter("Societe");
    ExchangeValue("Nom societe", m_companyName);
    ExchangeValue("Adresse societe", m_companyAddress);
    ExchangeValue("Code Postal societe", m_companyPostalCode);
    ExchangeValue("Ville societe", m_companyTown);
    ExchangeValue("Tel societe", m_companyPhone);
    ExchangeValue("Fax societe", m_companyFax);
    ExchangeValue("EMail societe", m_companyEmail);
    return kExchanged;
}

int ListeUsers::ExchangeElement(KvFileChapitre* chapter) {
    if (IsWriting()) {
        for (CUser& user : m_users) {
            ElementChapter(kUserClass);
            user.ExchangeUser(*this, true);
        }
        return kExchanged;
    }
    if (chapter != nullptr && chapter->IsElement(kUserClass)) {
        CUser* user = m_users.NewElement();
        if (user != nullptr) {
            // Before the exchange: reading resolves base-relative folders,
            // whose base may be shared.
            user->SetList(this);
            user->ExchangeUser(*this, GetVersionRead() != "0.1");
        }
    }
    return kExchanged;
}

int ListeUsers::Load(const CString& path) {
    m_users.Reset();
    int result = KvFileListe::Load(path);
    if (result == kLoaded)
        ResolveFolders();
    return result;
}

void ListeUsers::ResolveFolders() {
    // Every shared folder resolves through the current user, and re-storing
    // folders never changes who that is: it is found once here, not once per
    // folder by a walk of the whole list.
    m_pinnedCurrent = GetCurrentUser();
    struct Unpin {
        CUser*& pinned;
        ~Unpin() { pinned = nullptr; }
    } unpin{m_pinnedCurrent};
    for (CUser& user : m_users) {
        for (int kind : kResolvedKinds) {
            CString path = user.GetFolder(kind);
            // A given folder (mode 0) has no expanded path until it is
            // re-stored here: it takes its assigned path, expanded, rather
            // than the empty text, so that the folder the file names is kept.
            const CUser::TYPE_Dossier* entry = user.GetFolderEntry(kind);
            if (path.IsEmpty() && entry->mode != CUser::kModeShared && !entry->assigned.IsEmpty())
                path = ExpandEnvironment(user.GetFolderRaw(kind));
            // A folder without any path stays without one: re-storing the
            // empty text would change nothing and move nothing.
            if (path.IsEmpty() && entry->assigned.IsEmpty() && entry->expanded.IsEmpty())
                continue;
            user.ChangeFolder(kind, path);
        }
    }
}

CUser* ListeUsers::FindUser(const CString& name) {
    for (CUser& user : m_users) {
        if (user.GetName() == name)
            return &user;
    }
    return nullptr;
}

CUser* ListeUsers::GetCurrentUser() {
    if (m_pinnedCurrent != nullptr)
        return m_pinnedCurrent;
    CUser* found = nullptr;
    for (CUser& user : m_users) {
        if (user.IsCurrent())
            found = &user;
    }
    if (found != nullptr)
        return found;
    for (CUser& user : m_users) {
        if (user.GetName() == "public") {
            user.SetCurrent(true);
            found = &user;
        }
    }
    return found;
}
