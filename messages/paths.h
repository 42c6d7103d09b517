// Path operations on Windows-form text and the shortcut-aware opens.
//
// The system keeps every path as ANSI text in Windows form (backslashes,
// drive letters) on every host; these operations only look at the text, and
// the opens hand it to the platform streams, which turn it into a host path.
// Each operation recognises its own separators, as noted with it: the rest of
// the system (users' folders, catalogues, chaptered files) relies on exactly
// these rules, so they are kept even where they differ from one another.
//
// A file, or a folder on its path, may be stood in for by a Windows shortcut
// (a file ending in .lnk). OpenFileLinked falls back to such shortcuts when the
// plain open fails; OpenFileWide prefers a shortcut lying beside the file.
// Nothing here reports errors: opens return null, resolutions return the empty
// string or their argument.
#pragma once

#include <cstdio>

#include "containers/cstring.h"

// True when `path` opens for reading in text mode. The empty path, a folder
// and a file that cannot be read count as not existing.
bool FileExists(const CString& path);

// Each part of SplitPath has room for 399 characters (a 400-byte buffer).
inline constexpr int kMaxPathPart = 399;

// Splits at the last backslash or colon (a forward slash is an ordinary
// character here). A colon stays with the folder ("C:f.txt" gives "C:" and
// "f.txt"); a backslash belongs to neither part. Without a separator the path
// is all name; a path ending in a backslash has an empty name.
// Either output may be null. A path longer than kMaxPathPart characters is
// refused: both parts come back empty. Cutting it to the buffer instead would
// give a different, wrong path that a later open could create files under.
void SplitPath(const CString& path, CString* folder, CString* name);
CString GetFolderPart(const CString& path);
CString GetNamePart(const CString& path);

// The text after the last "." anywhere in the path (a dot in a folder name
// counts), with the dot unless withoutDot; empty when there is no dot.
CString GetExtension(const CString& path, bool withoutDot);

// The path up to its first "." (a dot in a folder name cuts there) followed
// by the extension, which gets a "." in front unless it starts with one.
CString ChangeExtension(const CString& path, const CString& extension);

// True when GetExtension(path, true) is "lnk" in any case.
bool IsShortcutName(const CString& path);

// The case-sensitive shortcut test of ResolveLinkedPath and the file-system
// utilities: the last component (after the last backslash or forward slash)
// has a "." and the text after its last "." is exactly "lnk".
bool HasShortcutExtension(const CString& path);

// Both first collapse each pair of adjacent backslashes into one (one pass
// from the left) and give a path that starts with a backslash a second one
// (so \\server\share keeps its two). WithTrailingBackslash then appends a
// backslash when there is none; WithoutTrailingBackslash removes one final
// backslash (C:\ becomes C:). An empty path stays empty. Both change `path`
// in place and return it.
CString& WithTrailingBackslash(CString& path);
CString& WithoutTrailingBackslash(CString& path);

// The target of the shortcut file `shortcutPath`, with network shares first;
// empty when the path is empty, the file is missing or unreadable, or the
// target does not fit the shell's 260-character path buffer. One level only:
// a target that is itself a shortcut is returned as it is.
CString ResolveShortcut(const CString& shortcutPath);

// `path` itself when it exists; otherwise the target of a shortcut standing
// for the file (path, or path + ".lnk"); otherwise the path with the deepest
// folder that has a shortcut beside it (folder + ".lnk") replaced by that
// shortcut's target. Only one shortcut is followed. `path` unchanged when no
// shortcut is found, and also when the deepest folder shortcut cannot be
// resolved (rather than turning the rest into a root-relative path).
CString ResolveLinkedPath(const CString& path);

// fopen-style open of `path` with `mode`; when that fails, one more open of
// ResolveLinkedPath(path). Writing modes too: a file written in a folder that
// exists only as a shortcut is created in the shortcut's target folder.
std::FILE* OpenFileLinked(const CString& path, const char* mode);

// Opens through the host's wide-character open, preferring a shortcut beside
// the file: when path (if it is a shortcut name) or path + ".lnk" exists, its
// target is opened instead, and the open fails when that target cannot be
// resolved, even if the plain file exists. Modes as for fopen.
std::FILE* OpenFileWide(const CString& path, const char* mode);
