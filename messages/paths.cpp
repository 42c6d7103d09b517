#include "messages/paths.h"

#include <string>

#include "messages/shell_link.h"
#include "platform/codepage.h"
#include "platform/file_stream.h"

namespace {

// The shell's GetPath fills a buffer of 260 characters: a longer target
// cannot be reported and reads as no target.
constexpr std::size_t kShellPathBuffer = 260;

// The two normalisation steps shared by the trailing-backslash operations.
void CollapseBackslashes(CString& path) {
    path.Replace("\\\\", "\\");
    if (path.GetAt(0) == '\\')
        path = "\\" + path;
}

}  // namespace

bool FileExists(const CString& path) {
    if (path.IsEmpty())
        return false;
    std::FILE* stream = platform::OpenStream(path, "r");
    if (stream == nullptr)
        return false;
    std::fclose(stream);
    return true;
}

void SplitPath(const CString& path, CString* folder, CString* name) {
    if (folder != nullptr)
        folder->Empty();
    if (name != nullptr)
        name->Empty();
    if (path.GetLength() > kMaxPathPart)
        return;
    int last = path.GetLength() - 1;
    while (last >= 0 && path[last] != '\\' && path[last] != ':') --last;
    if (last < 0) {
        if (name != nullptr)
            *name = path;
        return;
    }
    if (folder != nullptr)
        *folder = path.Left(path[last] == ':' ? last + 1 : last);
    if (name != nullptr)
        *name = path.Mid(last + 1);
}

CString GetFolderPart(const CString& path) {
    CString folder;
    SplitPath(path, &folder, nullptr);
    return folder;
}

CString GetNamePart(const CString& path) {
    CString name;
    SplitPath(path, nullptr, &name);
    return name;
}

CString GetExtension(const CString& path, bool withoutDot) {
    int dot = path.ReverseFind('.');
    if (dot < 0)
        return CString();
    return path.Mid(withoutDot ? dot + 1 : dot);
}

CString ChangeExtension(const CString& path, const CString& extension) {
    int dot = path.Find('.');
    CString stem = dot < 0 ? path : path.Left(dot);
    if (extension.GetAt(0) == '.')
        return stem + extension;
    return stem + "." + extension;
}

bool IsShortcutName(const CString& path) {
    return GetExtension(path, true).Lower() == "lnk";
}

bool HasShortcutExtension(const CString& path) {
    const std::string& text = path.str();
    std::size_t slash = text.find_last_of("\\/");
    std::string_view last =
        std::string_view(text).substr(slash == std::string::npos ? 0 : slash + 1);
    std::size_t dot = last.rfind('.');
    // A component named just "lnk" has no extension and is no shortcut.
    return dot != std::string_view::npos && last.substr(dot + 1) == "lnk";
}

CString& WithTrailingBackslash(CString& path) {
    if (path.IsEmpty())
        return path;
    CollapseBackslashes(path);
    if (path.GetAt(path.GetLength() - 1) != '\\')
        path += '\\';
    return path;
}

CString& WithoutTrailingBackslash(CString& path) {
    if (path.IsEmpty())
        return path;
    CollapseBackslashes(path);
    if (path.GetAt(path.GetLength() - 1) == '\\')
        path = path.Left(path.GetLength() - 1);
    return path;
}

CString ResolveShortcut(const CString& shortcutPath) {
    if (shortcutPath.IsEmpty())
        return CString();
    std::string target = shelllink::ReadShellLinkTarget(shortcutPath);
    if (target.size() >= kShellPathBuffer)
        return CString();
    return CString(std::move(target));
}

CString ResolveLinkedPath(const CString& path) {
    if (FileExists(path))
        return path;
    CString candidate = HasShortcutExtension(path) ? path : path + ".lnk";
    if (FileExists(candidate))
        return ResolveShortcut(candidate);

    CString folder = GetFolderPart(path);
    CString rest = GetNamePart(path);
    while (!folder.IsEmpty()) {
        int backslash = folder.ReverseFind('\\');
        CString shortcut = folder + ".lnk";
        if (FileExists(shortcut)) {
            // A shortcut that cannot be resolved leaves the path as it is,
            // rather than turning the rest into a root-relative path.
            CString target = ResolveShortcut(shortcut);
            return target.IsEmpty() ? path : target + "\\" + rest;
        }
        if (backslash < 0)
            break;
        rest = folder.Mid(backslash + 1) + "\\" + rest;
        folder = folder.Left(backslash);
    }
    return path;
}

std::FILE* OpenFileLinked(const CString& path, const char* mode) {
    if (std::FILE* stream = platform::OpenStream(path, mode))
        return stream;
    return platform::OpenStream(ResolveLinkedPath(path), mode);
}

std::FILE* OpenFileWide(const CString& path, const char* mode) {
    std::u16string widePath = platform::AnsiToWide(path);
    std::u16string wideMode = platform::AnsiToWide(mode != nullptr ? mode : "");
    CString candidate = IsShortcutName(path) ? path : CString::Formatted("%s.lnk", path.c_str());
    if (FileExists(candidate))
        widePath = platform::AnsiToWide(ResolveShortcut(candidate));
    return platform::OpenStreamWide(widePath, wideMode);
}
