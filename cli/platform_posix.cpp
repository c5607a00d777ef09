#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "cli/platform.h"
#include "file/file_system.h"
#include "file/posix_call.h"

namespace velk_cli {

namespace {

int Descriptor(Stream stream)
{
    switch (stream) {
    case Stream::kIn: return STDIN_FILENO;
    case Stream::kOut: return STDOUT_FILENO;
    default: return STDERR_FILENO;
    }
}

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int)
{
    g_interrupted = 1;
}

}  // namespace

bool IsTerminal(Stream stream)
{
    return isatty(Descriptor(stream)) == 1;
}

bool WriteText(Stream stream, const std::string& utf8)
{
    const int fd = Descriptor(stream);
    size_t done = 0;
    while (done < utf8.size()) {
        const char* rest = utf8.data() + done;
        const ssize_t n = velk_posix::Uninterrupted([&] { return ::write(fd, rest, utf8.size() - done); });
        if (n <= 0) return false;  // a closed pipe (SIGPIPE is ignored): nothing more to say
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadTerminalLine(std::string* line)
{
    line->clear();
    for (;;) {
        char c;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            if (g_interrupted) return false;
            continue;
        }
        if (n <= 0) return !line->empty();
        if (c == '\n') return true;
        if (c != '\r') line->push_back(c);
    }
}

NativeString ExecutableFolder()
{
    std::string path;
#ifdef __APPLE__
    char buffer[4096];
    uint32_t size = sizeof buffer;
    if (_NSGetExecutablePath(buffer, &size) == 0) {
        char resolved[PATH_MAX];
        path = realpath(buffer, resolved) ? resolved : buffer;
    }
#else
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) path.assign(buffer, static_cast<size_t>(n));
#endif
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

Sameness SameFile(const NativeString& a, const NativeString& b)
{
    struct stat first, second;
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Sameness::kDifferent : Sameness::kUnknown;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino ? Sameness::kSame : Sameness::kDifferent;
}

bool FileExists(const NativeString& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

FileKind KindOfFile(const NativeString& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileKind::kMissing : FileKind::kUnknown;
    return S_ISREG(info.st_mode) ? FileKind::kRegular : FileKind::kOther;
}

bool IsFolder(const NativeString& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ReadSmallFile(const NativeString& path, size_t limit, std::string* bytes)
{
    // A blocking open: a named pipe waits here for its writer, as for any reader (Ctrl+C ends
    // the wait). Without one, the first read would see the end of an empty pipe.
    const int fd = velk_posix::Uninterrupted([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0) return false;
    bytes->clear();
    char buffer[16384];
    bool ok = true;
    while (bytes->size() <= limit) {
        const ssize_t n = velk_posix::Uninterrupted([&] { return ::read(fd, buffer, sizeof buffer); });
        if (n <= 0) {
            ok = n == 0;  // EISDIR and read errors fail, the end of the file is the end
            break;
        }
        bytes->append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (bytes->size() > limit + 1) bytes->resize(limit + 1);
    return ok;
}

NativeString FollowLinks(const NativeString& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? NativeString(resolved) : path;
}

size_t NameLimit(const NativeString& folder)
{
    const long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<size_t>(limit) : 255;
}

void AdoptPermissions(CVELK_File& file, const NativeString& replaced, bool executable)
{
    const int fd = file.NativeHandle();
    struct stat created, old;
    if (fstat(fd, &created) != 0) return;
    mode_t mode = created.st_mode & 0777;
    if (::stat(replaced.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // The owner first, as changing it may clear permission bits. Only root may give a file
        // away; others keep the group where they belong to it. A refusal keeps the creator's.
        const uid_t owner = geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
        const int refused = fchown(fd, owner, old.st_gid);
        (void)refused;
        mode = old.st_mode & 0777;
    }
    // Execute wherever reading is allowed, as a compiler gives its output.
    if (executable) mode |= (mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
    if (mode != (created.st_mode & 0777)) fchmod(fd, mode);
}

bool RenameOver(const NativeString& from, const NativeString& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The new name reaches the disk with its folder. A folder that cannot be synced leaves the
    // rename done all the same.
    DiskFileSystem().SyncFolderOf(to.c_str());
    return true;
}

uint32_t ProcessId()
{
    return static_cast<uint32_t>(getpid());
}

void CatchInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool Interrupted()
{
    return g_interrupted != 0;
}

// A signal handler that returns lets the program go on; nothing waits for the cleanup.
void CleanupDone() {}

std::string Display(const NativeString& path)
{
    return path;
}

std::string ToUtf8(const NativeString& text)
{
    return text;
}

}  // namespace velk_cli
