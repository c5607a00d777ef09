// POSIX part of the disk file system: folder entries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file/file_system.h"
#include "file/posix_call.h"

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
    const int fd =
        velk_posix::Uninterrupted([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return false;
    const int result = velk_posix::Uninterrupted([&] { return ::fsync(fd); });
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

VelkPathKind CVELK_DiskFileSystem::KindOf(const char* path)
{
    struct stat info;
    if (::lstat(path, &info) != 0) return errno == ENOENT ? VelkPathKind::kMissing : VelkPathKind::kOther;
    if (S_ISLNK(info.st_mode)) return VelkPathKind::kLink;
    if (S_ISREG(info.st_mode)) return VelkPathKind::kFile;
    return S_ISDIR(info.st_mode) ? VelkPathKind::kFolder : VelkPathKind::kOther;
}

bool CVELK_DiskFileSystem::CreateFolder(const char* path)
{
    return ::mkdir(path, 0777) == 0;
}

bool CVELK_DiskFileSystem::RemoveFolder(const char* path)
{
    return ::rmdir(path) == 0;
}

bool CVELK_DiskFileSystem::MoveAside(const char* from, const char* to)
{
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // Where the file system cannot refuse to replace in the rename itself: a second name that
    // cannot be made over a taken one, then the first name goes.
    if (::link(from, to) == 0) return ::unlink(from) == 0;
    if (errno == EEXIST) return false;
    struct stat info;
    return ::lstat(to, &info) != 0 && errno == ENOENT && ::rename(from, to) == 0;
}
