// POSIX part of the disk file system: folder entries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
