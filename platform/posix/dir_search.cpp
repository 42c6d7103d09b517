#include "platform/dir_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/host_path.h"
#include "platform/posix/host_attributes.h"
#include "platform/wildcard.h"

namespace platform {
namespace posix {

bool AttributesAt(int dirFd, const char* path, std::string_view name, unsigned& attributes) {
    struct stat link {};
    if (::fstatat(dirFd, path, &link, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    struct stat info = link;
    unsigned bits = 0;
    if (S_ISLNK(link.st_mode)) {
        bits |= kAttrReparsePoint;
        // A dangling link keeps the link's own status: a plain file.
        if (::fstatat(dirFd, path, &info, 0) != 0)
            info = link;
    }
    if (S_ISDIR(info.st_mode))
        bits |= kAttrFolder;
    else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) || S_ISFIFO(info.st_mode) ||
             S_ISSOCK(info.st_mode))
        bits |= kAttrDevice;
    else
        bits |= kAttrArchive;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        bits |= kAttrReadOnly;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        bits |= kAttrHidden;
    attributes = bits;
    return true;
}

}  // namespace posix

struct DirSearch::Impl {
    DIR* dir = nullptr;
    std::string namePattern;
};

DirSearch::DirSearch() : m_impl(std::make_unique<Impl>()) {}

DirSearch::~DirSearch() {
    Close();
}

void DirSearch::Close() {
    if (m_impl->dir != nullptr) {
        ::closedir(m_impl->dir);
        m_impl->dir = nullptr;
    }
}

bool DirSearch::IsOpen() const {
    return m_impl->dir != nullptr;
}

bool DirSearch::First(std::string_view pattern, FindEntry& entry) {
    Close();
    std::size_t cut = pattern.find_last_of("\\/");
    std::string folder;
    if (cut == std::string_view::npos) {
        folder = ".";
        m_impl->namePattern = std::string(pattern);
    } else {
        // Keep the separator so that a pattern in the root ("\x") stays there.
        folder = ToHostPath(pattern.substr(0, cut + 1));
        m_impl->namePattern = std::string(pattern.substr(cut + 1));
    }
    if (m_impl->namePattern.empty())
        return false;
    m_impl->dir = ::opendir(folder.c_str());
    if (m_impl->dir == nullptr)
        return false;
    if (Next(entry))
        return true;
    Close();
    return false;
}

bool DirSearch::Next(FindEntry& entry) {
    if (m_impl->dir == nullptr)
        return false;
    while (const dirent* item = ::readdir(m_impl->dir)) {
        std::string_view name(item->d_name);
        if (!MatchWildcard(m_impl->namePattern, name))
            continue;
        unsigned attributes = 0;
        // An entry that vanished since readdir saw it is skipped.
        if (!posix::AttributesAt(::dirfd(m_impl->dir), item->d_name, name, attributes))
            continue;
        entry.name = std::string(name);
        entry.attributes = attributes;
        return true;
    }
    return false;
}

}  // namespace platform
