// POSIX backend of CVELK_File. Windows share modes have no direct POSIX counterpart; they are
// kept with open-file-description locks on marker bytes far past any real data (where the system
// has no such locks, flock keeps the coarse part of them: see ShareGate), so a conflicting open
// fails here as it would on Windows, within this process and across them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#else
#include <sys/mount.h>
#include <sys/param.h>
#endif

#include <cerrno>
#include <cstring>

#include "file/posix_call.h"
#include "file/short_path.h"
#include "file/velk_file.h"

namespace {

// Marker bytes: a holder takes a shared lock on the byte of each access it has and of each
// access it denies to others. Locks past the end of a file neither grow it nor block I/O.
constexpr off_t kMarkerBase = 0x7FFFFFFF00000000LL;
enum Marker { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3 };

bool ShareAllowsRead(int share) { return share == kShareReadWrite || share == kShareRead; }
bool ShareAllowsWrite(int share) { return share == kShareReadWrite || share == kShareWrite; }

#ifdef F_OFD_SETLK
bool MarkerHeldByOthers(int fd, Marker marker)
{
    struct flock probe = {};
    probe.l_type = F_WRLCK;  // conflicts with any lock another holder has on the byte
    probe.l_whence = SEEK_SET;
    probe.l_start = kMarkerBase + marker;
    probe.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

bool HoldMarker(int fd, Marker marker)
{
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kMarkerBase + marker;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// The markers are looked at and then taken, and two opens in the same instant could both pass
// the look. Every opener therefore looks and takes under an exclusive flock of the file, held for
// those few calls only (flock locks are apart from the markers' locks), which makes the two one
// step. A file system without flock, or one that refuses it on this descriptor (NFS takes it for
// a write lock), opens without the gate, as it opens without the markers.
class ShareGate {
public:
    explicit ShareGate(int fd) : m_fd(fd)
    {
        for (int waits = 0;; ++waits) {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                m_held = true;
                return;
            }
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return;
            // Another opener's few calls, or a program that holds the whole file for itself.
            if (waits == kMaxWaits) {
                m_shut = true;
                return;
            }
            usleep(1000);
        }
    }
    ~ShareGate()
    {
        if (m_held) flock(m_fd, LOCK_UN);
    }
    ShareGate(const ShareGate&) = delete;
    ShareGate& operator=(const ShareGate&) = delete;

    // Still held by someone else after two seconds: the file is taken.
    bool Shut() const { return m_shut; }

private:
    static constexpr int kMaxWaits = 2000;
    int m_fd;
    bool m_held = false;
    bool m_shut = false;
};

// Checks the new open against the holders already there, then registers it, in one step.
bool AcquireShareLocks(int fd, uint32_t access, int share)
{
    const ShareGate gate(fd);
    if (gate.Shut()) return false;
    const bool reads = access & kAccessRead, writes = access & kAccessWrite;
    const bool deniesRead = !ShareAllowsRead(share), deniesWrite = !ShareAllowsWrite(share);
    if ((reads && MarkerHeldByOthers(fd, kDeniesRead)) ||
        (writes && MarkerHeldByOthers(fd, kDeniesWrite)) ||
        (deniesRead && MarkerHeldByOthers(fd, kHasRead)) ||
        (deniesWrite && MarkerHeldByOthers(fd, kHasWrite)))
        return false;
    // A file system without lock support (some network mounts) still opens, unprotected.
    if (reads) HoldMarker(fd, kHasRead);
    if (writes) HoldMarker(fd, kHasWrite);
    if (deniesRead) HoldMarker(fd, kDeniesRead);
    if (deniesWrite) HoldMarker(fd, kDeniesWrite);
    return true;
}
#else
// Without open-file-description locks (macOS) only the coarse part of a share code is kept, with
// one flock of the whole file: a writer that lets no one else write holds the file alone, a
// reader that lets no one write holds it shared. Two applications, or an application and a
// check, then never have one file open at once.
bool AcquireShareLocks(int fd, uint32_t access, int share)
{
    if (ShareAllowsWrite(share)) return true;
    const int kind = (access & kAccessWrite) ? LOCK_EX : LOCK_SH;
    const int result = velk_posix::Uninterrupted([&] { return flock(fd, kind | LOCK_NB); });
    return result == 0 || errno != EWOULDBLOCK;  // a file system without flock opens unprotected
}
#endif

// Whether the file system keeps a file's inode number from one mount to the next. FAT and
// exFAT number their files anew at every mount; FUSE and SMB mounts may.
bool LastingInodes(int fd)
{
#ifdef __linux__
    struct statfs info;
    if (fstatfs(fd, &info) != 0) return false;
    switch (static_cast<uint32_t>(info.f_type)) {
    case 0x4d44u:      // FAT
    case 0x2011BAB0u:  // exFAT
    case 0x65735546u:  // FUSE
    case 0xFF534D42u:  // CIFS
    case 0xFE534D42u:  // SMB2
    case 0x517Bu:      // SMB
        return false;
    default: return true;
    }
#else
    struct statfs info;
    if (fstatfs(fd, &info) != 0) return false;
    for (const char* name : {"msdos", "exfat", "smbfs", "osxfuse", "macfuse"}) {
        if (std::strcmp(info.f_fstypename, name) == 0) return false;
    }
    return true;
#endif
}

int OpenFlags(int mode)
{
    switch (mode) {
    case kModeReadExisting: return O_RDONLY;
    case kModeWriteExisting: return O_WRONLY;
    case kModeReadWriteExisting: return O_RDWR;
    case kModeCreateTruncate: return O_WRONLY | O_CREAT;  // truncated only once sharing allows
    case kModeReadWriteOpenAlways: return O_RDWR | O_CREAT;
    default: return O_RDWR | O_CREAT | O_EXCL;  // CreateNew: O_EXCL also refuses a symbolic link
    }
}

int OpenOnce(const char* path, int mode, uint32_t permissions)
{
    // Without O_NONBLOCK, opening a named pipe waits for the other end, possibly forever. Regular
    // files ignore the flag; it is cleared again once the file is open.
    const int fd = velk_posix::Uninterrupted([&] {
        return ::open(path, OpenFlags(mode) | O_CLOEXEC | O_NONBLOCK, static_cast<mode_t>(permissions));
    });
    if (fd >= 0) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

// What a read or a write moved: nothing where it failed.
template <typename Transfer>
uint32_t Transferred(Transfer transfer)
{
    const ssize_t n = velk_posix::Uninterrupted(transfer);
    return n < 0 ? 0 : static_cast<uint32_t>(n);
}

}  // namespace

bool CVELK_File::PlatformOpen(const char* path, int mode, int share)
{
    const uint32_t permissions = mode == kCreateNew ? m_newFilePermissions : kNewFilePermissions;
    int fd = OpenOnce(path, mode, permissions);
    if (fd < 0 && errno == ENOENT) {
        char retry[kMaxPathUnits];
        const bool creating = mode == kModeCreateTruncate || mode == kModeReadWriteOpenAlways || mode == kCreateNew;
        if (GetRetryPath(path, creating ? kDispositionCreating : kDispositionOpenExisting, retry))
            fd = OpenOnce(retry, mode, permissions);
    }
    if (fd < 0) return false;

    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {  // a folder opens read-only on POSIX
        ::close(fd);
        return false;
    }
    // Locks need a readable descriptor; a write-only open carries them on a second one.
    int lockFd = fd;
    if (!(m_access & kAccessRead)) {
        lockFd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (lockFd < 0) lockFd = fd;  // unreadable file: no markers, the open still counts
    }
    if (!AcquireShareLocks(lockFd, m_access, share)) {
        if (lockFd != fd) ::close(lockFd);
        ::close(fd);
        return false;
    }
    if (mode == kModeCreateTruncate && ftruncate(fd, 0) != 0) {
        if (lockFd != fd) ::close(lockFd);
        ::close(fd);
        return false;
    }
    m_handle = fd;
    m_lockFd = lockFd != fd ? lockFd : -1;
    lseek(fd, 0, mode == kModeReadWriteOpenAlways ? SEEK_END : SEEK_SET);
    return true;
}

bool CVELK_File::PlatformOpenRegular(const char* path, int share)
{
    // O_NOFOLLOW refuses a link as the last component; a folder, a device or a pipe is refused
    // once open (O_NONBLOCK keeps a pipe from waiting for a writer).
    const int fd = velk_posix::Uninterrupted([&] {
        return ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    });
    if (fd < 0) return false;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !AcquireShareLocks(fd, m_access, share)) {
        ::close(fd);
        return false;
    }
    const int status = fcntl(fd, F_GETFL);
    if (status != -1) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    m_handle = fd;
    return true;
}

void CVELK_File::PlatformClose()
{
    if (m_lockFd >= 0) ::close(m_lockFd);
    m_lockFd = -1;
    ::close(m_handle);  // closing the descriptor drops its share-mode locks
}

bool CVELK_File::PlatformFlush()
{
#ifdef __APPLE__
    // fsync there leaves the data in the drive's cache; F_FULLFSYNC reaches the medium.
    if (fcntl(m_handle, F_FULLFSYNC) == 0) return true;
#endif
    const int result = velk_posix::Uninterrupted([&] { return fsync(m_handle); });
    // A file that cannot be synced (a pipe, a device, some special file systems) has nothing the
    // call could make more durable; only a real failure to write counts.
    return result == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
}

uint32_t CVELK_File::PlatformRead(void* buffer, uint32_t count)
{
    return Transferred([&] { return ::read(m_handle, buffer, count); });
}

uint32_t CVELK_File::Read(void* buffer, uint32_t count)
{
    if (!IsOpen() || !(m_access & kAccessRead)) return 0;
    return PlatformRead(buffer, count);
}

uint32_t CVELK_File::ReadAt(int64_t position, void* buffer, uint32_t count)
{
    if (!IsOpen() || !(m_access & kAccessRead) || position < 0) return 0;
    return Transferred([&] { return ::pread(m_handle, buffer, count, static_cast<off_t>(position)); });
}

uint32_t CVELK_File::Write(const void* buffer, uint32_t count)
{
    if (!IsOpen() || !(m_access & kAccessWrite)) return 0;
    return Transferred([&] { return ::write(m_handle, buffer, count); });
}

uint32_t CVELK_File::WriteAt(int64_t position, const void* buffer, uint32_t count)
{
    if (!IsOpen() || !(m_access & kAccessWrite) || position < 0) return 0;
    return Transferred([&] { return ::pwrite(m_handle, buffer, count, static_cast<off_t>(position)); });
}

int64_t CVELK_File::GetSize()
{
    if (!IsOpen()) return -1;
    struct stat info;
    if (fstat(m_handle, &info) != 0) return -1;
    return info.st_size;
}

int64_t CVELK_File::Tell()
{
    if (!IsOpen()) return -1;
    off_t position = lseek(m_handle, 0, SEEK_CUR);
    return position < 0 ? -1 : position;
}

bool CVELK_File::Seek(int64_t position)
{
    if (!IsOpen() || position < 0) return false;
    return lseek(m_handle, static_cast<off_t>(position), SEEK_SET) >= 0;
}

// Extending reserves the new space, as an extension does on Windows, so that a full disk shows
// here, before any record is written, and not halfway through them. Only the added range is
// reserved: a sparse image stays sparse.
bool CVELK_File::PlatformSetEndOfFile()
{
    const off_t end = lseek(m_handle, 0, SEEK_CUR);
    const int64_t size = GetSize();
    if (end < 0 || size < 0) return false;
    if (end > size) {
#if defined(__linux__) || defined(__FreeBSD__)
        int error = posix_fallocate(m_handle, size, end - size);
        if (error == 0) return true;
        if (error != EINVAL && error != EOPNOTSUPP) {  // ENOSPC, EFBIG, EIO ...
            // An extension that ran out of space part of the way may have grown the file by
            // what it got: the file goes back to its size.
            if (GetSize() != size) ftruncate(m_handle, size);
            return false;
        }
#endif
    }
    return ftruncate(m_handle, end) == 0;
}

bool CVELK_File::Reserve(int64_t position, int64_t length)
{
    if (!IsOpen() || !(m_access & kAccessWrite) || position < 0 || length < 0) return false;
    if (length == 0) return true;
#ifdef __linux__
    const int result = velk_posix::Uninterrupted([&] {
        return fallocate(m_handle, FALLOC_FL_KEEP_SIZE, position, length);
    });
    // A file system that allocates only as it writes cannot be asked; the writes will tell.
    return result == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
#else
    return true;
#endif
}

bool CVELK_File::Describe(VelkFileFacts* facts)
{
    struct stat info;
    if (!IsOpen() || fstat(m_handle, &info) != 0) return false;
    *facts = VelkFileFacts();
    facts->index = LastingInodes(m_handle) ? static_cast<uint64_t>(info.st_ino) : 0;
    const auto uid = static_cast<uint32_t>(info.st_uid);
    facts->owner.length = sizeof uid;
    std::memcpy(facts->owner.id, &uid, sizeof uid);
    facts->othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    facts->permissions = static_cast<uint32_t>(info.st_mode & 07777);
    facts->names = static_cast<uint32_t>(info.st_nlink);
    return true;
}
