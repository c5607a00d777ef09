#include <gtest/gtest.h>

#include <cstring>

#include "format/payload_format.h"

namespace {

using velk_format::VersionVerdict;

struct ScanCase {
    const char* text;
    int count, major, minor;
};

TEST(VersionScan, FollowsTheScanRules)
{
    const ScanCase cases[] = {
        {"VELK-PATCH3.0", 2, 3, 0},
        {"VELK-PATCH3.0x", 2, 3, 0},        // trailing characters are ignored
        {"VELK-PATCH 3. 0", 2, 3, 0},       // white space before each number
        {"VELK-PATCH\t+3.-0", 2, 3, 0},     // a sign before each number
        {"VELK-PATCH03.000", 2, 3, 0},
        {"VELK-PATCH3.1", 2, 3, 1},
        {"VELK-PATCH-2.5", 2, -2, 5},
        {"VELK-PATCH3", 1, 3, 0},           // no minor
        {"VELK-PATCH3.", 1, 3, 0},
        {"VELK-PATCH3,0", 1, 3, 0},
        {"VELK-PATCH3 .0", 1, 3, 0},        // the dot must follow the digits directly
        {"VELK-PATCH.0", 0, 0, 0},
        {"VELK-PATCH", 0, 0, 0},
        {"velk-patch3.0", 0, 0, 0},         // the prefix matches exactly
        {" VELK-PATCH3.0", 0, 0, 0},        // from the first character
        {"", 0, 0, 0},
        {"VELK-PATCH+.0", 0, 0, 0},         // a sign alone is no number
        {"VELK-PATCH99999999999.0", 2, 2147483647, 0},  // saturates, never wraps to 3
        {"VELK-PATCH4294967299.0", 2, 2147483647, 0},
    };
    for (const ScanCase& c : cases) {
        int major = 0, minor = 0;
        EXPECT_EQ(velk_format::ScanVersion(c.text, &major, &minor), c.count) << c.text;
        if (c.count >= 1) EXPECT_EQ(major, c.major) << c.text;
        if (c.count == 2) EXPECT_EQ(minor, c.minor) << c.text;
    }
}

struct VerdictCase {
    const char* text;
    VersionVerdict verdict;
};

TEST(VersionScan, ClassifiesMagicTexts)
{
    const VerdictCase cases[] = {
        {"VELK-PATCH3.0", VersionVerdict::kCurrent},
        {"VELK-PATCH3.0x", VersionVerdict::kCurrent},
        {"VELK-PATCH3.1", VersionVerdict::kUnknown},
        {"VELK-PATCH2.0", VersionVerdict::kOlder},
        {"VELK-PATCH1.5", VersionVerdict::kOlder},
        {"VELK-PATCH7.0", VersionVerdict::kUnknown},
        {"VELK-PATCH0.0", VersionVerdict::kUnknown},
        {"VELK-PATCH3", VersionVerdict::kInvalid},
        {"DRAV-PATCH3.0", VersionVerdict::kInvalid},
    };
    for (const VerdictCase& c : cases) {
        uint8_t magic[16] = {};
        std::memcpy(magic, c.text, std::strlen(c.text));
        EXPECT_EQ(velk_format::ClassifyMagic(magic, 16), c.verdict) << c.text;
    }
}

TEST(VersionScan, SixteenBytesWithoutNulStopAtTheSixteenth)
{
    // 16 characters, no NUL: the minor number is cut at the 16th byte.
    const char text[] = "VELK-PATCH3.0000999";
    EXPECT_EQ(velk_format::ClassifyMagic(reinterpret_cast<const uint8_t*>(text), 16),
              VersionVerdict::kCurrent);
    const char unknown[] = "VELK-PATCH3.00019";  // the 16th byte is the 1
    EXPECT_EQ(velk_format::ClassifyMagic(reinterpret_cast<const uint8_t*>(unknown), 16),
              VersionVerdict::kUnknown);
}

}  // namespace
