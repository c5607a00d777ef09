// A second process for the Windows tests: applies a patch, to be ended from outside midway.
//   velk_apply_child <patch> <target> <ready-file>
// Creates the ready file just before the application starts; exits 0 once it has succeeded.
#include <fstream>

#include "apply/application.h"

namespace {

class SilentOwner : public CVELK_MessageOwner {
public:
    void ShowMessage(const char16_t*) override {}
    bool AskOkCancel(const char16_t*) override { return false; }
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) return 2;
    SilentOwner owner;
    CVELK_IPS_IN applier(owner);
    std::ofstream(argv[3]) << "applying";
    return applier.ApplyPatch(argv[1], argv[2], 0) ? 0 : 1;
}
