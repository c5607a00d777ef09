#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file/crc32.h"
#include "support/test_support.h"

namespace {

struct Vector {
    const char* text;
    uint32_t crc;
};

// Published check values of CRC-32/ISO-HDLC.
const Vector kVectors[] = {
    {"", 0x00000000u},
    {"a", 0xE8B7BE43u},
    {"abc", 0x352441C2u},
    {"123456789", 0xCBF43926u},
    {"message digest", 0x20159D7Fu},
    {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    {"abcdefghijklmnopqrstuvwxyz", 0x4C2750BDu},
};

using velk_crc32::ExtendFunction;
const ExtendFunction kPaths[] = {velk_crc32::ExtendBytewise, velk_crc32::ExtendSlicing8,
                                 velk_crc32::BestExtend()};

TEST(Crc32Table, EntriesFollowThePolynomial)
{
    EXPECT_EQ(velk_crc32::kTable[0], 0u);
    EXPECT_EQ(velk_crc32::kTable[1], 0x77073096u);
    EXPECT_EQ(velk_crc32::kTable[128], 0xEDB88320u);
    EXPECT_EQ(velk_crc32::kTable[255], 0x2D02EF8Du);
}

TEST(Crc32Accumulator, KnownVectorsOnEveryPath)
{
    for (ExtendFunction extend : kPaths) {
        for (const Vector& v : kVectors) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(v.text);
            EXPECT_EQ(~extend(0xFFFFFFFFu, bytes, std::strlen(v.text)), v.crc) << v.text;
        }
    }
    for (const Vector& v : kVectors) {
        _m_CRC32 crc;
        EXPECT_EQ(crc.Update(v.text, static_cast<uint32_t>(std::strlen(v.text))), v.crc) << v.text;
    }
}

TEST(Crc32Accumulator, FreshAccumulatorWithNoBytesIsZero)
{
    _m_CRC32 crc;
    EXPECT_EQ(crc.Update(nullptr, 0), 0u);
}

TEST(Crc32Accumulator, PiecesGiveTheSameAsTheWhole)
{
    const std::vector<uint8_t> data = PatternBytes(100000, 7);
    _m_CRC32 whole;
    const uint32_t expected = whole.Update(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(expected, ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, data.data(), data.size()));

    for (size_t piece : {1u, 3u, 7u, 8u, 63u, 4096u, 65537u}) {
        _m_CRC32 crc;
        uint32_t value = 0;
        for (size_t at = 0; at < data.size(); at += piece) {
            const size_t n = std::min(piece, data.size() - at);
            value = crc.Update(data.data() + at, static_cast<uint32_t>(n));
        }
        EXPECT_EQ(value, expected) << "piece " << piece;
    }
}

TEST(Crc32Accumulator, AbcOneByteAtATimeAndAfterReset)
{
    _m_CRC32 crc;
    crc.Update("a", 1);
    crc.Update("b", 1);
    EXPECT_EQ(crc.Update("c", 1), 0x352441C2u);
    EXPECT_EQ(crc.Update(nullptr, 0), 0x352441C2u);  // no bytes: the value stands
    crc.Reset();
    EXPECT_EQ(crc.Update("abc", 3), 0x352441C2u);
}

TEST(Crc32Paths, AgreeOnEveryLengthAndAlignment)
{
    const std::vector<uint8_t> data = PatternBytes(1024 + 64, 11);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length = 0; length <= 1024; length += (length < 64 ? 1 : 37)) {
            const uint32_t reference = velk_crc32::ExtendBytewise(0x12345678u, data.data() + offset, length);
            for (ExtendFunction extend : kPaths)
                ASSERT_EQ(extend(0x12345678u, data.data() + offset, length), reference)
                    << "offset " << offset << " length " << length;
        }
    }
}

}  // namespace
