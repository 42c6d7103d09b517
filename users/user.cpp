#include "users/user.h"

#include <cstdint>

#include "chapfile/kv_file.h"
#include "fsutil/file_system.h"
#include "messages/expand_environment.h"
#include "messages/paths.h"
#include "platform/file_ops.h"
#include "users/liste_users.h"
#include "users/record_keys.h"

namespace {

// The folder kinds whose keys and sub-folder names come from the catalogue:
// mode key, path key and sub-folder name are the messages (1, n).
struct CatalogueKind {
    int kind;
    std::uint32_t modeKey;
    std::uint32_t pathKey;
    std::uint32_t subFolder;
};

// In the order the record stores them: kinds 1 to 12, then 14, then 13.
constexpr CatalogueKind kCatalogueKinds[] = {
    {1, 25, 26, 24},  {2, 4, 5, 3},     {3, 7, 8, 6},     {4, 10, 11, 9},   {5, 13, 14, 12},
    {6, 16, 17, 15},  {7, 19, 20, 18},  {8, 22, 23, 21},  {9, 28, 29, 27},  {10, 44, 45, 43},
    {11, 31, 32, 30}, {12, 34, 35, 33}, {14, 37, 38, 36}, {13, 47, 48, 46},
};

// The name a base-relative (mode 1) folder of `kind` has inside the base
// folder. Kinds 0 and 16 have none.
CString SubFolderName(int kind, RecordKeys& key) {
    switch (kind) {
        case 15:
            return "XML\\";
        case 17:
            return "Batch\\";
        case 18:
            return "Texture\\";
        case 19:
            return key[36];  // as kind 14
        default:
            break;
    }
    for (const CatalogueKind& entry : kCatalogueKinds) {
        if (entry.kind == kind)
            return key[entry.subFolder];
    }
    return CString();
}

// Folder form, applied until it no longer changes the text: one pass leaves
// a doubled backslash where there were three or four.
void FolderForm(CString& path) {
    for (int pass = 0; pass < 4; ++pass) {
        CString before = path;
        if (KvFileSystem::NormalizeFolder(path) == before)
            break;
    }
}

// True when `inner` is `outer` itself or lies inside it (both in folder form;
// compared without regard to case as Windows does).
bool IsSameOrInside(const CString& inner, const CString& outer) {
    return StartsWithNoCase(inner.str(), outer.str());
}

bool SameHostFolder(const CString& a, const CString& b) {
    return platform::SameEntry(a.str(), b.str());
}

// Moves what the folder `from` holds into the folder `to` and removes `from`.
// The move copies first, removes the source only when every copy succeeded,
// and never overwrites a file already at the destination. It is refused where
// the removal would take the destination with it or lose files: an empty
// destination, a destination inside the source, or two names of one folder.
void MoveFolderContents(CString from, CString to) {
    FolderForm(from);
    FolderForm(to);
    // The text tests first: a folder re-stored in another spelling of the
    // same path (every user's, at each load) asks nothing of the disk.
    if (from.IsEmpty() || to.IsEmpty() || IsSameOrInside(to, from))
        return;
    KvFileSystem fileSystem;
    if (!fileSystem.IsFolder(from) || SameHostFolder(from, to))
        return;
    fileSystem.MoveFolder(from, to);
}

}  // namespace

CString CUser::ScrambleText(const CString& text) {
    CString result = text;
    for (int i = 0; i < result.GetLength(); ++i) {
        auto code = static_cast<signed char>(result.GetAt(i));
        if (code >= 48 && code <= 122)
            result.SetAt(i, static_cast<char>(170 - code));
    }
    return result;
}

int CUser::ExchangeUser(KvFile& file, bool newFormat) {
    // The list's keys when the user has one, which it keeps for all its users.
    RecordKeys ownKeys;
    RecordKeys& key = m_list != nullptr ? m_list->Keys() : ownKeys;
    file.ExchangeValue(key[1], m_storedName);
    m_name = ExpandEnvironment(m_storedName);
    file.ExchangeValue(key[2], m_flag2);
    file.ExchangeValue(key[41], m_current);

    if (file.IsWriting()) {
        CString scrambled = ScrambleText(m_scrambled);
        file.ExchangeValue(key[42], scrambled);
    } else if (file.IsReading()) {
        if (newFormat) {
            CString stored;
            file.ExchangeValue(key[42], stored);
            m_scrambled = ScrambleText(stored);
        } else {
            file.ExchangeValue(key[42], m_scrambled);
        }
    }
    file.ExchangeValue("Web", m_web);

    TYPE_Dossier& base = m_folders[kBaseFolder];
    file.ExchangeValue(key[39], base.mode);
    file.ExchangeValue(key[40], base.assigned);
    base.expanded = ExpandEnvironment(base.assigned);

    for (const CatalogueKind& entry : kCatalogueKinds) {
        TYPE_Dossier& folder = m_folders[entry.kind];
        file.ExchangeValue(key[entry.modeKey], folder.mode);
        file.ExchangeValue(key[entry.pathKey], folder.assigned);
    }

    // Files written before these kinds existed lack their keys: the XML and
    // texture folders are then the current user's, and the kind 19 folder is
    // the same as kind 14.
    if (file.ExchangeValue("RT XML", m_folders[15].mode) == KvFile::kNotExchanged)
        m_folders[15].mode = kModeShared;
    else
        file.ExchangeValue("RN XML", m_folders[15].assigned);

    file.ExchangeValue("RT REP BATCH", m_folders[kBatchFolder].mode);
    file.ExchangeValue("RN REP BATCH", m_folders[kBatchFolder].assigned);

    if (file.ExchangeValue("RT TEXTURE", m_folders[18].mode) == KvFile::kNotExchanged)
        m_folders[18].mode = kModeShared;
    else
        file.ExchangeValue("RN TEXTURE", m_folders[18].assigned);

    if (file.ExchangeValue("RT TMP_COL", m_folders[19].mode) == KvFile::kNotExchanged) {
        m_folders[19].mode = m_folders[14].mode;
        m_folders[19].assigned = m_folders[14].assigned;
    } else {
        file.ExchangeValue("RN TMP_COL", m_folders[19].assigned);
    }

    if (file.IsReading()) {
        // Base-relative folders follow the base folder whatever path the file
        // gave them. Shared folders are resolved when asked for; given (mode
        // 0) folders are expanded when the users list re-stores them.
        for (int kind = 1; kind < kFolderCount; ++kind) {
            TYPE_Dossier& folder = m_folders[kind];
            if (folder.mode == kModeBaseRelative) {
                CString sub = SubFolderName(kind, key);
                folder.assigned = GetFolderRaw(kBaseFolder) + sub;
                folder.expanded = ExpandEnvironment(GetFolder(kBaseFolder) + sub);
            } else if (folder.mode == kModeGivenExpanded) {
                folder.expanded = ExpandEnvironment(folder.assigned);
            }
        }
    }
    return KvFile::kExchanged;
}

const CUser::TYPE_Dossier* CUser::GetFolderEntry(int kind) const {
    return ValidKind(kind) ? &m_folders[kind] : nullptr;
}

const CUser::TYPE_Dossier* CUser::LookupEntry(int kind) const {
    if (!ValidKind(kind))
        return nullptr;
    if (m_folders[kind].mode != kModeShared)
        return &m_folders[kind];
    CUser* current = m_list != nullptr ? m_list->GetCurrentUser() : nullptr;
    return current != nullptr ? &current->m_folders[kind] : nullptr;
}

CUser::TYPE_Dossier* CUser::LookupEntry(int kind) {
    return const_cast<TYPE_Dossier*>(static_cast<const CUser*>(this)->LookupEntry(kind));
}

int CUser::GetFolderMode(int kind) const {
    return ValidKind(kind) ? m_folders[kind].mode : kModeUnset;
}

CString CUser::GetFolder(int kind) const {
    const TYPE_Dossier* entry = LookupEntry(kind);
    if (entry == nullptr)
        return CString();
    CString path = ExpandEnvironment(entry->expanded);
    return WithTrailingBackslash(path);
}

CString CUser::GetFolderRaw(int kind) {
    TYPE_Dossier* entry = LookupEntry(kind);
    if (entry == nullptr)
        return CString();
    return WithTrailingBackslash(entry->assigned);
}

void CUser::SetFolder(int kind, int mode, const CString& value) {
    if (!ValidKind(kind))
        return;
    // Modes other than 1 and 2 (0, 3, and any unknown one) take the value as
    // the path.
    bool storesPath = true;
    CString path = value;
    if (mode == kModeBaseRelative) {
        path = GetFolderRaw(kBaseFolder) + value;
    } else if (mode == kModeShared) {
        if (kind == 15 || kind == 18)
            path = GetFolderRaw(kBaseFolder) + value;
        else
            storesPath = false;
    }
    if (storesPath) {
        KvFileSystem::NormalizeFolder(path);
        m_folders[kind].assigned = path;
        m_folders[kind].expanded = ExpandEnvironment(path);
        CString folder = GetFolder(kind);
        KvFileSystem fileSystem;
        if (!folder.IsEmpty() && !fileSystem.IsFolder(folder))
            fileSystem.CreateFolderPath(folder);
    }
    m_folders[kind].mode = mode;
}

void CUser::ChangeFolder(int kind, const CString& value) {
    if (!ValidKind(kind))
        return;
    CString before = GetFolderRaw(kind);
    CString after = value;
    KvFileSystem::NormalizeFolder(after);
    m_folders[kind].assigned = after;
    m_folders[kind].expanded = ExpandEnvironment(after);
    if (before != after)
        MoveFolderContents(before, after);
}

void CUser::EnsureBatchFolder() {
    if (GetFolder(kBatchFolder).IsEmpty())
        SetFolder(kBatchFolder, kModeBaseRelative, "BATCH");
}

CString CUser::BatchPath(const char* suffix) {
    CString folder = GetFolder(kBatchFolder);
    if (folder.IsEmpty()) {
        EnsureBatchFolder();
        folder = GetFolder(kBatchFolder);
    }
    return ExpandEnvironment(folder + GetName() + suffix);
}

CString CUser::GetBatchProjectPath() {
    return BatchPath("-BATCH.tvs");
}

CString CUser::GetBatchTempPath() {
    return BatchPath("-BATCH.tmp");
}

CString CUser::GetJobLogPath(const CString& jobName) const {
    return GetFolder(kBatchFolder) + ChangeExtension(KvFileSystem::NamePart(jobName), "log");
}
