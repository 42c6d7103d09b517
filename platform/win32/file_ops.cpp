#include "platform/file_ops.h"

#include <windows.h>

#include <string>

#include "platform/win32/file_time.h"

namespace platform {

bool GetAttributes(std::string_view path, unsigned& attributes) {
    std::string text(path);
    if (text.empty())
        return false;
    DWORD bits = GetFileAttributesA(text.c_str());
    if (bits == INVALID_FILE_ATTRIBUTES)
        return false;
    attributes = bits;
    return true;
}

std::optional<std::int64_t> ModificationTimeMs(std::string_view path) {
    std::string text(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (text.empty() || !GetFileAttributesExA(text.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return UnixMsFromFileTime(data.ftLastWriteTime);
}

bool MakeFolder(std::string_view path) {
    std::string text(path);
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = TRUE;
    return !text.empty() && CreateDirectoryA(text.c_str(), &security) != 0;
}

bool RemoveEmptyFolder(std::string_view path) {
    std::string text(path);
    return !text.empty() && RemoveDirectoryA(text.c_str()) != 0;
}

bool CopyOneFile(std::string_view source, std::string_view destination, bool overwrite) {
    std::string from(source);
    std::string to(destination);
    if (from.empty() || to.empty())
        return false;
    return CopyFileA(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE) != 0;
}

bool DeleteOneFile(std::string_view path) {
    std::string text(path);
    return !text.empty() && DeleteFileA(text.c_str()) != 0;
}

bool MoveIntoPlace(std::string_view source, std::string_view destination) {
    std::string from(source);
    std::string to(destination);
    return !from.empty() && !to.empty() &&
           MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool ChangeCurrentFolder(std::string_view path) {
    std::string text(path);
    return !text.empty() && SetCurrentDirectoryA(text.c_str()) != 0;
}

bool MakeHidden(std::string_view path) {
    std::string text(path);
    DWORD bits = text.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(text.c_str());
    if (bits == INVALID_FILE_ATTRIBUTES)
        return false;
    return SetFileAttributesA(text.c_str(), bits | FILE_ATTRIBUTE_HIDDEN) != 0;
}

}  // namespace platform
