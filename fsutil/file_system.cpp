#include "fsutil/file_system.h"

#include "messages/catalogue.h"
#include "messages/paths.h"
#include "platform/file_ops.h"

namespace {

constexpr unsigned kNotPlain = platform::kAttrHidden | platform::kAttrSystem |
                               platform::kAttrVolume | platform::kAttrFolder |
                               platform::kAttrDevice;

// Paths of listed subfolders are formed in a buffer of this many characters;
// an entry whose path would not fit is left out rather than cut short.
constexpr int kSubfolderPathBuffer = 1024;

// SafeCopyFile gives up after this many numbered names, so that a folder that
// answers "exists" for everything cannot keep it going for ever.
constexpr int kMaxCopyNumber = 100000;

bool IsSeparator(char ch) {
    return ch == '\\' || ch == '/';
}

bool EndsWithSeparator(const CString& path) {
    return !path.IsEmpty() && IsSeparator(path[path.GetLength() - 1]);
}

int LastSeparator(const CString& path) {
    return static_cast<int>(path.str().find_last_of("\\/"));
}

// The doubled-backslash collapse and the leading doubling shared by both
// normal forms.
void CollapseBackslashes(CString& path) {
    path.Replace("\\\\", "\\");
    if (path[0] == '\\')
        path = "\\" + path;
}

}  // namespace

KvFileSystem::KvFileSystem() = default;
KvFileSystem::~KvFileSystem() = default;

// --- Path text ---

CString& KvFileSystem::NormalizeFolder(CString& path) {
    if (path.IsEmpty())
        return path;
    path.Replace('/', '\\');
    CollapseBackslashes(path);
    if (path[path.GetLength() - 1] != '\\')
        path += '\\';
    return path;
}

CString& KvFileSystem::NormalizePath(CString& path) {
    if (path.IsEmpty())
        return path;
    CollapseBackslashes(path);
    if (path[path.GetLength() - 1] == '\\')
        path = path.Left(path.GetLength() - 1);
    return path;
}

CString KvFileSystem::NamePart(const CString& path) {
    int cut = LastSeparator(path);
    return cut < 0 ? path : path.Mid(cut + 1);
}

CString KvFileSystem::FolderPart(const CString& path) {
    int cut = LastSeparator(path);
    return cut < 0 ? CString() : path.Left(cut + 1);
}

CString KvFileSystem::ExtensionPart(const CString& path) {
    CString name = NamePart(path);
    int dot = name.ReverseFind('.');
    return dot < 0 ? CString() : name.Mid(dot + 1);
}

CString KvFileSystem::JoinPath(const CString& folder, const CString& name) {
    if (folder.IsEmpty() || EndsWithSeparator(folder))
        return folder + name;
    return folder + "\\" + name;
}

bool KvFileSystem::IsAbsolute(const CString& path) {
    if (path.IsEmpty())
        return false;
    if (path.Find(':') == 1)
        return true;
    return path.GetLength() >= 3 && path[0] == '\\' && path[1] == '\\';
}

bool KvFileSystem::IsShortcutFile(const CString& path) {
    return ExtensionPart(path) == "lnk";
}

// --- Tests ---

bool KvFileSystem::Exists(const CString& path) const {
    unsigned attributes = 0;
    return path.FindOneOf("*?") < 0 && platform::GetAttributes(path, attributes);
}

bool KvFileSystem::IsFolder(const CString& path) const {
    unsigned attributes = 0;
    return platform::GetAttributes(path, attributes) && (attributes & platform::kAttrFolder) != 0;
}

// --- Operations on the disk ---

bool KvFileSystem::CreateFolderPath(const CString& path) {
    if (path.IsEmpty())
        return false;
    CString rest = path;
    if (!EndsWithSeparator(rest))
        rest += '\\';
    bool result = true;
    CString built;
    for (int cut = rest.FindOneOf("\\/"); cut >= 0; cut = rest.FindOneOf("\\/")) {
        built += rest.Left(cut);
        rest = rest.Mid(cut + 1);
        if (!built.IsEmpty() && built[built.GetLength() - 1] != ':')
            result = platform::MakeFolder(built);
        built += '\\';
    }
    return result;
}

bool KvFileSystem::RemoveFile(const CString& path) {
    return platform::DeleteOneFile(path);
}

bool KvFileSystem::RemoveFiles(const CString& pattern, int mask) {
    bool result = true;
    for (const CString& file : ListFiles(pattern, mask, false)) {
        if (!platform::DeleteOneFile(file))
            result = false;
    }
    return result;
}

bool KvFileSystem::RemoveFolder(const CString& path, bool recursive) {
    if (!recursive)
        return platform::RemoveEmptyFolder(path);
    // A folder that is only a link to another one (a junction, a symbolic
    // link) is removed as a link: emptying it would delete its target's
    // content, which lies outside the tree being removed.
    unsigned attributes = 0;
    if (platform::GetAttributes(path, attributes) && (attributes & platform::kAttrReparsePoint))
        return platform::RemoveEmptyFolder(path);
    for (const CString& folder : ListSubfolders(path, true)) RemoveFolder(folder, true);
    RemoveFiles(JoinPath(path, "*.*"), kEverything);
    return platform::RemoveEmptyFolder(path);
}

CString KvFileSystem::CopyName(const CString& destination, const CString& first,
                               const CString& second, int number) {
    // The copy's name is built from its parts rather than by replacing text
    // in the whole path, so a folder whose name holds the same text, or a
    // file name that already holds it, stays as it is.
    CString prefix =
        number == 0 ? first + " " : CString::Formatted("%s (%d) ", first.c_str(), number);
    return FolderPart(destination) + prefix + second + " " + NamePart(destination);
}

bool KvFileSystem::SafeCopyFile(const CString& source, const CString& destination) {
    CString from = source;
    CString to = destination;
    from.Replace('/', '\\');
    to.Replace('/', '\\');
    const CString folder = FolderPart(to);
    if (!IsFolder(folder)) {
        if (!IsAbsolute(folder))
            return false;
        CreateFolderPath(folder);
    }
    CString target = to;
    if (Exists(target)) {
        const CString first = g_userMessages.GetMessage(6, 7, 1, 0);
        const CString second = g_userMessages.GetMessage(6, 7, 1, 1);
        int number = 0;
        for (target = CopyName(to, first, second, number); Exists(target);
             target = CopyName(to, first, second, ++number)) {
            if (number >= kMaxCopyNumber)
                return false;
        }
    }
    // Never overwriting, even a file that appeared since the test above.
    return platform::CopyOneFile(from, target, false);
}

bool KvFileSystem::CopyFolder(const CString& source, const CString& destination) {
    return CopyTree(source, destination, false);
}

bool KvFileSystem::MoveFolder(const CString& source, const CString& destination) {
    CString from = source;
    CString to = destination;
    NormalizeFolder(from);
    NormalizeFolder(to);
    if (from.EqualsNoCase(to))
        return true;
    // Moving a folder into its own subtree would end by removing the copy
    // along with the source.
    if (!from.IsEmpty() && StartsWithNoCase(to, from))
        return false;
    // A move carries every file along, hidden and system ones included: the
    // source is removed afterwards, so whatever stayed behind would be lost.
    if (!CopyTree(from, to, true))
        return false;
    // Leave the source so that it is not the current folder when removed.
    platform::ChangeCurrentFolder(to);
    return RemoveFolder(from, true);
}

bool KvFileSystem::CopyTree(const CString& source, const CString& destination, bool everyFile) {
    CString from = source;
    NormalizeFolder(from);
    if (!IsFolder(from))
        return false;
    CString to = destination;
    NormalizeFolder(to);
    if (from.EqualsNoCase(to))
        return true;
    if (!IsFolder(to) && !CreateFolderPath(to))
        return false;

    const CString pattern = from + "*.*";
    for (const CString& folder : ListFiles(pattern, kFolders, true)) {
        CString target = to + folder.Mid(from.GetLength());
        NormalizeFolder(target);
        if (!IsFolder(target) && !CreateFolderPath(target))
            return false;
    }
    for (const CString& file : ListFiles(pattern, everyFile ? kEverything : kPlainFiles, true)) {
        if (everyFile && IsFolder(file))
            continue;
        CString target = to + file.Mid(from.GetLength());
        NormalizePath(target);
        if (!SafeCopyFile(file, target))
            return false;
    }
    return true;
}

CString KvFileSystem::ReadShortcut(const CString& path) const {
    return ResolveShortcut(path);
}

// --- Listings ---

bool KvFileSystem::PassesMask(unsigned attributes, int mask) {
    switch (mask) {
        case 0:
        case kPlainFiles:
            return (attributes & kNotPlain) == 0;
        case kFolders:
            return (attributes & platform::kAttrFolder) != 0;
        case kEverything:
            return true;
        default:
            return (attributes & static_cast<unsigned>(mask)) != 0;
    }
}

bool KvFileSystem::FindStep(const CString* pattern, int mask, CString& name) {
    bool found = pattern != nullptr ? m_find.First(*pattern, m_findData) : m_find.Next(m_findData);
    if (!found)
        return false;
    name = PassesMask(m_findData.attributes, mask) ? CString(m_findData.name) : CString();
    return true;
}

CStringList KvFileSystem::ListFolder(const CString& pattern, int mask) {
    CStringList list;
    const CString folder = FolderPart(pattern);
    CString name;
    for (bool more = FindStep(&pattern, mask, name); more; more = FindStep(nullptr, mask, name)) {
        if (!name.IsEmpty() && name != "." && name != "..")
            list.push_back(folder + name);
    }
    m_find.Close();
    return list;
}

CStringList KvFileSystem::ListSubfolders(const CString& folder, bool full) {
    CStringList list;
    const CString pattern = JoinPath(folder, "*.*");
    const CString prefix = FolderPart(pattern);
    CString name;
    for (bool more = FindStep(&pattern, kFolders, name); more;
         more = FindStep(nullptr, kFolders, name)) {
        if (name.IsEmpty() || name == "." || name == "..")
            continue;
        CString path = prefix + name;
        if (path.GetLength() >= kSubfolderPathBuffer || !IsFolder(path))
            continue;
        list.push_back(full ? path : name);
    }
    m_find.Close();
    return list;
}

CStringList KvFileSystem::ListFiles(const CString& pattern, int mask, bool recursive) {
    CStringList list;
    ListFiles(pattern, mask, recursive, list);
    return list;
}

void KvFileSystem::ListFiles(const CString& pattern, int mask, bool recursive, CStringList& list) {
    CStringList own = ListFolder(pattern, mask);
    list.insert(list.end(), own.begin(), own.end());
    if (!recursive)
        return;
    const CString name = NamePart(pattern);
    for (const CString& folder : ListSubfolders(FolderPart(pattern), true))
        ListFiles(JoinPath(folder, name), mask, true, list);
}
