#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/platform.h"

namespace {

// A file opened while descriptor 0, 1 or 2 is closed takes that number, and every message meant
// for the terminal then lands in it (a target would end with "补丁成功"). Closed ones are filled
// with the null device before anything else is opened.
bool OccupyStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, and every lower one is open by now.
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null != fd) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!OccupyStandardDescriptors()) {
        static const char kText[] = "velkpatch: cannot open /dev/null for a closed standard stream\n";
        const ssize_t ignored = ::write(STDERR_FILENO, kText, sizeof kText - 1);  // stderr may be closed
        (void)ignored;
        return velk_cli::kExitFailure;
    }
    // A reader that went away makes a write fail (and the message is dropped) instead of ending
    // the program between two steps of its work.
    signal(SIGPIPE, SIG_IGN);

    std::vector<NativeString> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int code = velk_cli::RunVelkpatch(args);
    velk_cli::CleanupDone();
    return code;
}
