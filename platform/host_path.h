// Host paths: the one place where a Windows-form path becomes a host path.
//
// Portable code keeps Windows-form paths (backslashes, drive letters) exactly
// as the system's rules build them and hands them to the platform services,
// which call ToHostPath at the OS call and nowhere else.
//   Win32: the path is returned unchanged.
//   Linux: every "\" becomes "/"; a leading drive "X:" is replaced by the
//          folder that $TORVANE_PREFIX/dosdevices/x: names (lower-case letter,
//          a link or folder, as in a Wine prefix) when that exists. Without
//          such a folder the path is left as "X:/..." and simply is not found.
//          POSIX paths ("/tmp/x") pass through unchanged.
// Never blocks; reads the environment on every call so tests can change it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToHostPath(std::string_view windowsPath);

}  // namespace platform
