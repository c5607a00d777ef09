#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv)
{
    std::vector<NativeString> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return velk_cli::RunVelkpatch(args);
}
