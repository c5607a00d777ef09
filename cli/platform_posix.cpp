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
        const ssize_t n = ::write(fd, utf8.data() + done, utf8.size() - done);
        if (n < 0 && errno == EINTR) continue;
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

NativeChar PathSeparator()
{
    return '/';
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

bool CreateNewFile(const NativeString& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool RenameOver(const NativeString& from, const NativeString& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const NativeString& path)
{
    return ::unlink(path.c_str()) == 0;
}

void MarkExecutable(const NativeString& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return;
    // Execute wherever reading is allowed, as a compiler gives its output.
    const mode_t read = info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    ::chmod(path.c_str(), info.st_mode | (read >> 2));
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

std::string Display(const NativeString& path)
{
    return path;
}

std::string ToUtf8(const NativeString& text)
{
    return text;
}

}  // namespace velk_cli
