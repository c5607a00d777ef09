#include <windows.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/platform.h"

// wmain (built with -municode): the arguments arrive as UTF-16, so any file name opens.
int wmain(int argc, wchar_t** argv)
{
    std::vector<NativeString> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int code = velk_cli::RunVelkpatch(args);
    // Everything RunVelkpatch made is cleaned up by now (its objects are gone): a console
    // handler holding a closing console may let the process end.
    velk_cli::CleanupDone();
    return code;
}
