// CRC-32 values as polynomials modulo P, so that the CRC of a file can be had from the CRCs of
// its parts without reading them again: the CRC of A followed by B from CRC(A), CRC(B) and B's
// length, and back. Values are in the register's reflected order (bit 31 is x^0), as zlib's
// crc32_combine keeps them.
#pragma once

#include <cstdint>

namespace velk_crc32 {

// a * b mod P.
uint32_t MultiplyModP(uint32_t a, uint32_t b);
// x^(8 * bytes) mod P: what appending `bytes` zero bytes multiplies an uncomplemented register by.
uint32_t ZeroBytesFactor(uint64_t bytes);
// x^(-8 * bytes) mod P. x has an inverse because P has a constant term.
uint32_t ZeroBytesInverse(uint64_t bytes);

// An uncomplemented register advanced over `bytes` zero bytes.
inline uint32_t ExtendZeros(uint32_t state, uint64_t bytes)
{
    return state == 0 ? 0 : MultiplyModP(ZeroBytesFactor(bytes), state);
}

// CRC-32 of A followed by B.
inline uint32_t Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB)
{
    return MultiplyModP(ZeroBytesFactor(lengthB), crcA) ^ crcB;
}

// CRC-32 of A, given the CRC-32 of A followed by B.
inline uint32_t Uncombine(uint32_t crcAB, uint32_t crcB, uint64_t lengthB)
{
    return MultiplyModP(ZeroBytesInverse(lengthB), crcAB ^ crcB);
}

}  // namespace velk_crc32
