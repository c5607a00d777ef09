// Picks the CRC path for this CPU from what the CPU offers.
#include "crc/crc32.h"
#include "crc/crc32_fold.h"

namespace velk_crc32 {

namespace {

struct CandidatePath {
    NamedPath path;
    bool supported;
};

// Slowest first, so that the last supported one is the best.
std::vector<CandidatePath> Candidates()
{
    std::vector<CandidatePath> list = {
        {{"bytewise", ExtendBytewise}, true},
        {{"slicing-by-8", ExtendSlicing8}, true},
    };
#ifdef VELK_CRC32_X86
    const X86Features x86 = DetectX86Features();
    list.push_back({{"pclmulqdq", ExtendPclmul}, x86.pclmul});
    list.push_back({{"vpclmulqdq-avx2", ExtendVpclmulAvx2}, x86.vpclmulAvx2});
    list.push_back({{"vpclmulqdq-avx512", ExtendVpclmulAvx512}, x86.vpclmulAvx512});
#endif
#ifdef VELK_CRC32_ARM
    list.push_back({{"arm-crc32", ExtendArmCrc32}, ArmHasCrc32()});
#endif
    return list;
}

}  // namespace

std::vector<NamedPath> CompiledPaths()
{
    std::vector<NamedPath> paths;
    for (const CandidatePath& c : Candidates()) paths.push_back(c.path);
    return paths;
}

std::vector<NamedPath> AvailablePaths()
{
    std::vector<NamedPath> paths;
    for (const CandidatePath& c : Candidates())
        if (c.supported) paths.push_back(c.path);
    return paths;
}

ExtendFunction BestExtend()
{
    return AvailablePaths().back().extend;
}

}  // namespace velk_crc32
