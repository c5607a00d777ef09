#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "crc/crc32.h"
#include "crc/crc32_combine.h"
#include "crc/crc32_fold.h"
#include "support/test_support.h"

#ifdef VELK_HAVE_ZLIB
#include <zlib.h>
#endif

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
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890", 0x7CA94A72u},
};

using velk_crc32::ExtendFunction;
using velk_crc32::NamedPath;

const std::vector<NamedPath>& Paths()
{
    static const std::vector<NamedPath> paths = velk_crc32::AvailablePaths();
    return paths;
}

// The CRC of `length` bytes continued from the CRC value `previous`, as the reference computes it.
uint32_t Reference(uint32_t previous, const uint8_t* data, size_t length)
{
#ifdef VELK_HAVE_ZLIB
    return static_cast<uint32_t>(crc32(previous, data, static_cast<uInt>(length)));
#else
    return ~velk_crc32::ExtendBytewise(~previous, data, length);
#endif
}

TEST(Crc32Table, EntriesFollowThePolynomial)
{
    EXPECT_EQ(velk_crc32::kTable[0], 0u);
    EXPECT_EQ(velk_crc32::kTable[1], 0x77073096u);
    EXPECT_EQ(velk_crc32::kTable[128], 0xEDB88320u);
    EXPECT_EQ(velk_crc32::kTable[255], 0x2D02EF8Du);
}

TEST(Crc32Paths, ListsThePortablePathsAndPicksTheLastAvailable)
{
    const std::vector<NamedPath>& paths = Paths();
    ASSERT_GE(paths.size(), 2u);
    EXPECT_STREQ(paths[0].name, "bytewise");
    EXPECT_STREQ(paths[1].name, "slicing-by-8");
    EXPECT_EQ(velk_crc32::BestExtend(), paths.back().extend);
    std::string skipped;
    for (const NamedPath& compiled : velk_crc32::CompiledPaths()) {
        bool available = false;
        for (const NamedPath& p : paths) available |= p.extend == compiled.extend;
        if (!available) skipped += std::string(" ") + compiled.name;
    }
    if (!skipped.empty()) std::printf("CRC paths this CPU cannot run:%s\n", skipped.c_str());
}

TEST(Crc32Accumulator, KnownVectorsOnEveryPath)
{
    for (const NamedPath& path : Paths()) {
        for (const Vector& v : kVectors) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(v.text);
            EXPECT_EQ(~path.extend(0xFFFFFFFFu, bytes, std::strlen(v.text)), v.crc) << path.name << ": " << v.text;
        }
    }
    for (const Vector& v : kVectors) {
        _m_CRC32 crc;
        EXPECT_EQ(crc.Update(v.text, static_cast<uint32_t>(std::strlen(v.text))), v.crc) << v.text;
    }
}

// Long inputs with a known value: a megabyte of zeros, and of 0xFF.
TEST(Crc32Accumulator, LongUniformInputsOnEveryPath)
{
    std::vector<uint8_t> zeros(1 << 20, 0), ones(1 << 20, 0xFF);
    const uint32_t zerosCrc = Reference(0, zeros.data(), zeros.size());
    const uint32_t onesCrc = Reference(0, ones.data(), ones.size());
    for (const NamedPath& path : Paths()) {
        EXPECT_EQ(~path.extend(0xFFFFFFFFu, zeros.data(), zeros.size()), zerosCrc) << path.name;
        EXPECT_EQ(~path.extend(0xFFFFFFFFu, ones.data(), ones.size()), onesCrc) << path.name;
    }
}

TEST(Crc32Accumulator, FreshAccumulatorWithNoBytesIsZero)
{
    _m_CRC32 crc;
    EXPECT_EQ(crc.Update(nullptr, 0), 0u);
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

// Every length up to 1024 at every misalignment up to 63, from a fresh register and continued
// from an arbitrary one, on every path this CPU runs.
TEST(Crc32Paths, EveryLengthAndMisalignmentMatchesTheReference)
{
    const std::vector<uint8_t> data = PatternBytes(1024 + 64, 11);
    for (size_t offset = 0; offset < 64; ++offset) {
        const uint8_t* start = data.data() + offset;
        for (size_t length = 0; length <= 1024; ++length) {
            for (uint32_t previous : {0u, 0x9E3779B9u}) {
                const uint32_t expected = Reference(previous, start, length);
                for (const NamedPath& path : Paths())
                    ASSERT_EQ(~path.extend(~previous, start, length), expected)
                        << path.name << " offset " << offset << " length " << length;
            }
        }
    }
}

// The wide paths switch between their loops at hundreds of bytes; sizes well past those,
// at random offsets, cover every switch.
TEST(Crc32Paths, LargeRandomSlicesMatchTheReference)
{
    const std::vector<uint8_t> data = PatternBytes(80000, 5);
    std::mt19937 random(1234);
    for (int round = 0; round < 400; ++round) {
        const size_t offset = random() % 64;
        const size_t length = round < 200 ? 1024 + random() % 4096 : random() % (data.size() - 64);
        const uint32_t previous = static_cast<uint32_t>(random());
        const uint32_t expected = Reference(previous, data.data() + offset, length);
        for (const NamedPath& path : Paths())
            ASSERT_EQ(~path.extend(~previous, data.data() + offset, length), expected)
                << path.name << " offset " << offset << " length " << length;
    }
}

TEST(Crc32Paths, PiecesGiveTheSameAsTheWhole)
{
    const std::vector<uint8_t> data = PatternBytes(100000, 7);
    const uint32_t expected = Reference(0, data.data(), data.size());
    {
        _m_CRC32 whole;
        EXPECT_EQ(whole.Update(data.data(), static_cast<uint32_t>(data.size())), expected);
    }
    for (const NamedPath& path : Paths()) {
        for (size_t piece : {1u, 3u, 15u, 16u, 63u, 64u, 65u, 511u, 1000u, 4096u, 65537u}) {
            uint32_t state = 0xFFFFFFFFu;
            for (size_t at = 0; at < data.size(); at += piece)
                state = path.extend(state, data.data() + at, std::min(piece, data.size() - at));
            EXPECT_EQ(~state, expected) << path.name << " piece " << piece;
        }
    }
    for (size_t piece : {1u, 7u, 4096u, 65537u}) {
        _m_CRC32 crc;
        uint32_t value = 0;
        for (size_t at = 0; at < data.size(); at += piece)
            value = crc.Update(data.data() + at, static_cast<uint32_t>(std::min(piece, data.size() - at)));
        EXPECT_EQ(value, expected) << "piece " << piece;
    }
}

// ---- Folding constants --------------------------------------------------------------------

// x^n mod P by long division in the plain (unreflected) bit order, P = x^32 + 0x04C11DB7.
uint32_t PowerOfXModP(uint32_t n)
{
    uint64_t remainder = 1;
    for (uint32_t i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder & (1ull << 32)) remainder ^= 0x104C11DB7ull;
    }
    return static_cast<uint32_t>(remainder);
}

uint32_t Reflect32(uint32_t v)
{
    uint32_t r = 0;
    for (int i = 0; i < 32; ++i) r |= ((v >> i) & 1u) << (31 - i);
    return r;
}

uint64_t FoldConstant(uint32_t n)
{
    return static_cast<uint64_t>(Reflect32(PowerOfXModP(n))) << 1;
}

TEST(Crc32Folding, DivisionAgreesWithThePolynomial)
{
    EXPECT_EQ(PowerOfXModP(31), 0x80000000u);
    EXPECT_EQ(PowerOfXModP(32), 0x04C11DB7u);
    EXPECT_EQ(Reflect32(0x04C11DB7u), velk_crc32::kPolynomial);
}

TEST(Crc32Folding, ConstantsArePowersOfXModP)
{
    for (const velk_crc32::FoldConstants* k : velk_crc32::kAllFoldConstants) {
        EXPECT_EQ(k->lowLane, FoldConstant(k->distanceBits + 32)) << "distance " << k->distanceBits;
        EXPECT_EQ(k->highLane, FoldConstant(k->distanceBits - 32)) << "distance " << k->distanceBits;
    }
}

// 64 x 64 -> 128-bit carry-less product, in software.
void CarrylessMultiply(uint64_t a, uint64_t b, uint64_t* low, uint64_t* high)
{
    *low = *high = 0;
    for (int i = 0; i < 64; ++i) {
        if ((b >> i) & 1) {
            *low ^= a << i;
            if (i != 0) *high ^= a >> (64 - i);
        }
    }
}

uint64_t LoadLE64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The constants do what folding needs: a block moved D bits ahead by multiplying its lanes
// leaves the CRC (from a zero register) of "block, D - 128 zero bits, next block" unchanged.
TEST(Crc32Folding, MovingABlockAheadKeepsTheCrc)
{
    std::mt19937 random(99);
    for (const velk_crc32::FoldConstants* k : velk_crc32::kAllFoldConstants) {
        const size_t gapBytes = k->distanceBits / 8 - 16;
        for (int round = 0; round < 8; ++round) {
            std::vector<uint8_t> message(gapBytes + 32);
            for (uint8_t& b : message) b = static_cast<uint8_t>(random());
            for (size_t i = 16; i < 16 + gapBytes; ++i) message[i] = 0;

            uint64_t lowA, highA, lowB, highB;
            CarrylessMultiply(LoadLE64(&message[0]), k->lowLane, &lowA, &highA);
            CarrylessMultiply(LoadLE64(&message[8]), k->highLane, &lowB, &highB);
            uint8_t folded[16];
            const uint64_t low = lowA ^ lowB ^ LoadLE64(&message[16 + gapBytes]);
            const uint64_t high = highA ^ highB ^ LoadLE64(&message[24 + gapBytes]);
            for (int i = 0; i < 8; ++i) {
                folded[i] = static_cast<uint8_t>(low >> (8 * i));
                folded[8 + i] = static_cast<uint8_t>(high >> (8 * i));
            }
            EXPECT_EQ(velk_crc32::ExtendBytewise(0, folded, 16),
                      velk_crc32::ExtendBytewise(0, message.data(), message.size()))
                << "distance " << k->distanceBits;
        }
    }
}

// ---- Combining ----------------------------------------------------------------------------

// The zero-byte factor is the same power of x that long division gives.
TEST(Crc32Combine, ZeroByteFactorsArePowersOfX)
{
    for (uint32_t bytes : {0u, 1u, 2u, 3u, 4u, 7u, 64u, 1000u})
        EXPECT_EQ(velk_crc32::ZeroBytesFactor(bytes), Reflect32(PowerOfXModP(8 * bytes))) << bytes;
    for (uint64_t bytes : {uint64_t(5), uint64_t(123457), uint64_t(1) << 40, ~uint64_t(0) >> 1}) {
        EXPECT_EQ(velk_crc32::MultiplyModP(velk_crc32::ZeroBytesFactor(bytes), velk_crc32::ZeroBytesInverse(bytes)),
                  0x80000000u)
            << bytes;
    }
}

TEST(Crc32Combine, ExtendingByZerosMatchesFeedingThem)
{
    const std::vector<uint8_t> zeros(70000, 0);
    for (size_t n : {size_t(1), size_t(15), size_t(4096), size_t(70000)})
        EXPECT_EQ(velk_crc32::ExtendZeros(0x12345678u, n), velk_crc32::ExtendBytewise(0x12345678u, zeros.data(), n))
            << n;
}

// Split anywhere, including at either end: the parts give the whole, and the whole and its tail
// give the head.
TEST(Crc32Combine, PartsGiveTheWholeAndBack)
{
    const std::vector<uint8_t> data = PatternBytes(5000, 41);
    const uint32_t whole = Reference(0, data.data(), data.size());
    for (size_t split : {size_t(0), size_t(1), size_t(17), size_t(4096), size_t(4999), size_t(5000)}) {
        const uint32_t head = Reference(0, data.data(), split);
        const uint32_t tail = Reference(0, data.data() + split, data.size() - split);
        EXPECT_EQ(velk_crc32::Combine(head, tail, data.size() - split), whole) << split;
        EXPECT_EQ(velk_crc32::Uncombine(whole, tail, data.size() - split), head) << split;
    }
#ifdef VELK_HAVE_ZLIB
    // Lengths no test could feed byte by byte, against zlib's own combination.
    for (int64_t length : {int64_t(1) << 33, (int64_t(1) << 62) + 12345}) {
        EXPECT_EQ(velk_crc32::Combine(0xCBF43926u, 0x414FA339u, static_cast<uint64_t>(length)),
                  static_cast<uint32_t>(crc32_combine64(0xCBF43926u, 0x414FA339u, length)))
            << length;
        EXPECT_EQ(velk_crc32::Uncombine(velk_crc32::Combine(0xCBF43926u, 0x414FA339u, static_cast<uint64_t>(length)),
                                        0x414FA339u, static_cast<uint64_t>(length)),
                  0xCBF43926u);
    }
#endif
}

}  // namespace
