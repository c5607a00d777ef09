// POSIX part of the disk file system: folder entries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file/file_system.h"

bool CVELK_DiskFileSystem::Exists(const char* path)
{
    struct stat info;
    return ::lstat(path, &info) == 0;
}

bool CVELK_DiskFileSystem::Remove(const char* path)
{
    return ::unlink(path) == 0;
}

// A new or removed name is durable only once the folder holding it is synced.
bool CVELK_DiskFileSystem::SyncFolderOf(const char* path)
{
    const std::string file(path);
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    int fd;
    do {
        fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    // Some file systems cannot sync a folder; they keep no other promise either.
    const bool synced = result == 0 || errno == EINVAL || errno == ENOTSUP || errno == EBADF;
    ::close(fd);
    return synced;
}

bool CVELK_DiskFileSystem::ResolveLinks(const char* path, VelkPath* resolved)
{
    // A link to a folder leads to the same folder whatever the path: only a name that is itself
    // a link names a file elsewhere.
    struct stat info;
    if (::lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) return false;
    char* real = ::realpath(path, nullptr);
    if (real == nullptr) return false;
    resolved->assign(real, real + std::strlen(real) + 1);
    std::free(real);
    return true;
}

bool CVELK_DiskFileSystem::OwnerSpeaksForAll(const VelkFileOwner& owner)
{
    uint32_t uid = 0;
    if (owner.length != sizeof uid) return false;
    std::memcpy(&uid, owner.id, sizeof uid);
    return uid == 0 || uid == static_cast<uint32_t>(::geteuid());
}
