#include "crc/crc32_combine.h"

#include <array>

#include "crc/crc32.h"

namespace velk_crc32 {
namespace {

constexpr uint32_t kOne = 0x80000000u;  // x^0
constexpr uint32_t kX = 0x40000000u;    // x^1
// x^-1 = (P - 1) / x: the polynomial without its x^32 and x^0 terms, one power lower, plus x^31.
constexpr uint32_t kXInverse = (kPolynomial << 1) | 1u;

// Without branches on the bits: they are as good as random, and mispredicting half of them would
// cost more than the whole loop.
constexpr uint32_t Multiply(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (int power = 0; power < 32; ++power) {
        product ^= b & (0u - ((a >> (31 - power)) & 1u));
        b = (b >> 1) ^ (kPolynomial & (0u - (b & 1u)));
    }
    return product;
}

// powers[k] = base^(2^k) mod P, for every bit of a 64-bit count of bits.
constexpr std::array<uint32_t, 67> SquaringTable(uint32_t base)
{
    std::array<uint32_t, 67> powers{};
    powers[0] = base;
    for (size_t k = 1; k < powers.size(); ++k) powers[k] = Multiply(powers[k - 1], powers[k - 1]);
    return powers;
}

constexpr std::array<uint32_t, 67> kXPowers = SquaringTable(kX);
constexpr std::array<uint32_t, 67> kXInversePowers = SquaringTable(kXInverse);
static_assert(Multiply(kX, kXInverse) == kOne, "x times its inverse is 1");

// base^(8 * bytes): bit k of `bytes` stands for the power 2^(k + 3).
uint32_t PowerOfBytes(const std::array<uint32_t, 67>& powers, uint64_t bytes)
{
    uint32_t result = kOne;
    for (size_t k = 3; bytes != 0; bytes >>= 1, ++k)
        if (bytes & 1) result = Multiply(result, powers[k]);
    return result;
}

}  // namespace

uint32_t MultiplyModP(uint32_t a, uint32_t b)
{
    return Multiply(a, b);
}

uint32_t ZeroBytesFactor(uint64_t bytes)
{
    return PowerOfBytes(kXPowers, bytes);
}

uint32_t ZeroBytesInverse(uint64_t bytes)
{
    return PowerOfBytes(kXInversePowers, bytes);
}

}  // namespace velk_crc32
