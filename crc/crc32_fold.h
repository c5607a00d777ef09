// Internals of the carry-less-multiply CRC paths: the folding constants and the per-CPU entry
// points that crc32_dispatch.cpp chooses between.
//
// Folding: a 128-bit block A followed, D bits later, by block B can be replaced by
// (A * x^D mod P) + B without changing the CRC. The register holds the message bit-reflected
// (bit 0 of the first byte is the highest power), so its low 64-bit lane carries the powers
// 64..127 and its high lane the powers 0..63. Multiplying each lane by a 33-bit constant gives
// a 96-bit product already aligned to be added to B:
//   low lane  * K(D + 32),   high lane * K(D - 32),   where K(n) = reflect32(x^n mod P) << 1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk_crc32 {

struct FoldConstants {
    uint32_t distanceBits;  // D: how far ahead the block is moved
    uint64_t lowLane;       // K(D + 32)
    uint64_t highLane;      // K(D - 32)
};

// Every distance the fast paths fold by. The values are checked against a plain polynomial
// division in the tests.
constexpr FoldConstants kFold128 = {128, 0x1751997d0ull, 0x0ccaa009eull};
constexpr FoldConstants kFold256 = {256, 0x0f1da05aaull, 0x15a546366ull};
constexpr FoldConstants kFold512 = {512, 0x154442bd4ull, 0x1c6e41596ull};
constexpr FoldConstants kFold1024 = {1024, 0x1e88ef372ull, 0x14a7fe880ull};
constexpr FoldConstants kFold2048 = {2048, 0x11542778aull, 0x1322d1430ull};

constexpr const FoldConstants* kAllFoldConstants[] = {&kFold128, &kFold256, &kFold512, &kFold1024,
                                                      &kFold2048};

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define VELK_CRC32_X86 1
// 4 x 128-bit lanes with PCLMULQDQ.
uint32_t ExtendPclmul(uint32_t state, const uint8_t* data, size_t length);
// 4 x 256-bit lanes with VPCLMULQDQ on AVX2 registers.
uint32_t ExtendVpclmulAvx2(uint32_t state, const uint8_t* data, size_t length);
// 4 x 512-bit lanes with VPCLMULQDQ on AVX-512 registers.
uint32_t ExtendVpclmulAvx512(uint32_t state, const uint8_t* data, size_t length);

struct X86Features {
    bool pclmul = false;
    bool vpclmulAvx2 = false;
    bool vpclmulAvx512 = false;
};
// What the CPU offers and the operating system saves across context switches.
X86Features DetectX86Features();
#endif

#if defined(__aarch64__) && defined(__GNUC__)
#define VELK_CRC32_ARM 1
// The ARMv8 CRC32 instructions, which compute this very polynomial.
uint32_t ExtendArmCrc32(uint32_t state, const uint8_t* data, size_t length);
bool ArmHasCrc32();
#endif

}  // namespace velk_crc32
