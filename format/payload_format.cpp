#include "format/payload_format.h"

#include <climits>
#include <cstring>

namespace velk_format {
namespace {

bool IsScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One %d conversion: white space, optional sign, at least one digit.
bool ScanInt(const char*& p, int* value)
{
    const char* q = p;
    while (IsScanSpace(*q)) ++q;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    if (*q < '0' || *q > '9') return false;
    long long magnitude = 0;
    for (; *q >= '0' && *q <= '9'; ++q) {
        if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (*q - '0');
    }
    if (negative) magnitude = -magnitude;
    if (magnitude > INT_MAX) magnitude = INT_MAX;
    if (magnitude < INT_MIN) magnitude = INT_MIN;
    *value = static_cast<int>(magnitude);
    p = q;
    return true;
}

}  // namespace

int ScanVersion(const char* text, int* major, int* minor)
{
    const size_t prefixLength = sizeof(kMagicPrefix) - 1;
    if (std::strncmp(text, kMagicPrefix, prefixLength) != 0) return 0;
    const char* p = text + prefixLength;
    if (!ScanInt(p, major)) return 0;
    if (*p != '.') return 1;
    ++p;
    if (!ScanInt(p, minor)) return 1;
    return 2;
}

VersionVerdict ClassifyMagic(const uint8_t* magic, size_t length)
{
    char text[kMagicBytes + 1] = {};
    std::memcpy(text, magic, length < kMagicBytes ? length : kMagicBytes);
    int major = 0, minor = 0;
    if (ScanVersion(text, &major, &minor) != 2) return VersionVerdict::kInvalid;
    if (major == 1 || major == 2) return VersionVerdict::kOlder;
    if (major == 3 && minor == 0) return VersionVerdict::kCurrent;
    return VersionVerdict::kUnknown;
}

}  // namespace velk_format
