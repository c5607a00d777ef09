// POSIX part of listing a folder.
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "file/folder_list.h"

bool ListFolder(const NativeString& folder, std::vector<VelkFolderItem>* items)
{
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return false;
    items->clear();
    const NativeString prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        VelkFolderItem item;
        item.name = entry->d_name;
        struct stat info;
        // Links are not followed: a set names files, and a link in it could lead anywhere.
        if (::lstat((prefix + item.name).c_str(), &info) != 0) {
            item.kind = VelkPathKind::kOther;
        } else if (S_ISLNK(info.st_mode)) {
            item.kind = VelkPathKind::kLink;
        } else if (S_ISREG(info.st_mode)) {
            item.kind = VelkPathKind::kFile;
            item.size = info.st_size;
        } else {
            item.kind = S_ISDIR(info.st_mode) ? VelkPathKind::kFolder : VelkPathKind::kOther;
        }
        items->push_back(item);
    }
    ::closedir(dir);
    return true;
}
