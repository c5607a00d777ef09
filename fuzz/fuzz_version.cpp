// The version scan of the magic text, checked against the C library's own sscanf with the
// same pattern wherever sscanf's result is defined (no number beyond the int range).
#include <cstdio>
#include <cstring>
#include <string>

#include "format/payload_format.h"
#include "fuzz/fuzz_support.h"

namespace {

// sscanf's %d is undefined for numbers it cannot represent; compare only texts without long
// digit runs.
bool HasLongNumber(const char* text)
{
    int run = 0;
    for (const char* p = text; *p; ++p) {
        run = (*p >= '0' && *p <= '9') ? run + 1 : 0;
        if (run > 9) return true;
    }
    return false;
}

velk_format::VersionVerdict Expected(int scanned, int major, int minor)
{
    if (scanned != 2) return velk_format::VersionVerdict::kInvalid;
    if (major == 1 || major == 2) return velk_format::VersionVerdict::kOlder;
    if (major == 3 && minor == 0) return velk_format::VersionVerdict::kCurrent;
    return velk_format::VersionVerdict::kUnknown;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);  // sscanf stops at a NUL
    const char* c = text.c_str();
    int major = -7, minor = -7;
    const int scanned = velk_format::ScanVersion(c, &major, &minor);
    VELK_FUZZ_CHECK(scanned >= 0 && scanned <= 2);

    if (!HasLongNumber(c)) {
        int refMajor = -7, refMinor = -7;
        int refScanned = std::sscanf(c, "VELK-PATCH%d.%d", &refMajor, &refMinor);
        if (refScanned < 0) refScanned = 0;  // EOF before the first conversion
        VELK_FUZZ_CHECK(scanned == refScanned);
        if (scanned >= 1) VELK_FUZZ_CHECK(major == refMajor);
        if (scanned == 2) VELK_FUZZ_CHECK(minor == refMinor);
    }

    // The 16 magic bytes as the readers see them: a NUL after the 16th.
    uint8_t magic[16] = {};
    std::memcpy(magic, data, size < 16 ? size : 16);
    char magicText[17] = {};
    std::memcpy(magicText, magic, 16);
    int m = 0, n = 0;
    const int magicScanned = velk_format::ScanVersion(magicText, &m, &n);
    VELK_FUZZ_CHECK(velk_format::ClassifyMagic(magic, 16) == Expected(magicScanned, m, n));
    return 0;
}
