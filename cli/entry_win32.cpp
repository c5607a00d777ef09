#include <windows.h>

#include <string>
#include <vector>

#include "cli/commands.h"

// wmain (built with -municode): the arguments arrive as UTF-16, so any file name opens.
int wmain(int argc, wchar_t** argv)
{
    std::vector<NativeString> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return velk_cli::RunVelkpatch(args);
}
