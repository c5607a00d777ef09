// CRC-32 by carry-less multiplication on x86: 128-bit blocks are folded forward (see
// crc32_fold.h) until one block is left, which the table finishes together with the tail.
// Each path is compiled for its instruction set with a target attribute and is only called
// after DetectX86Features() has found that set on the CPU.
#include "crc/crc32_fold.h"

#ifdef VELK_CRC32_X86

#include <cpuid.h>
#include <immintrin.h>

#include "crc/crc32.h"

#define VELK_TARGET_PCLMUL __attribute__((target("sse4.1,pclmul")))
#define VELK_TARGET_AVX2 __attribute__((target("avx2,pclmul,vpclmulqdq")))
#define VELK_TARGET_AVX512 __attribute__((target("avx512f,avx512vl,pclmul,vpclmulqdq")))

namespace velk_crc32 {
namespace {

// ---- 128-bit lanes ------------------------------------------------------------------------

VELK_TARGET_PCLMUL inline __m128i Constants128(const FoldConstants& k)
{
    return _mm_set_epi64x(static_cast<long long>(k.highLane), static_cast<long long>(k.lowLane));
}

VELK_TARGET_PCLMUL inline __m128i Load128(const uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x moved `k.distanceBits` ahead, ready to be added to the block there.
VELK_TARGET_PCLMUL inline __m128i Fold128(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Folds the remaining whole blocks into x, then lets the table do the last 16 to 31 bytes:
// the folded block has the same CRC from a zero register as everything it replaced.
VELK_TARGET_PCLMUL uint32_t FinishFrom128(__m128i x, const uint8_t* data, size_t length)
{
    const __m128i k128 = Constants128(kFold128);
    while (length >= 16) {
        x = _mm_xor_si128(Fold128(x, k128), Load128(data));
        data += 16;
        length -= 16;
    }
    alignas(16) uint8_t folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), x);
    return ExtendSlicing8(ExtendSlicing8(0, folded, 16), data, length);
}

// Bytes to feed through the table first so that `data` reaches an `alignment` boundary.
inline size_t HeadBytes(const uint8_t* data, size_t alignment)
{
    return (alignment - reinterpret_cast<uintptr_t>(data) % alignment) % alignment;
}

// ---- 256-bit lanes ------------------------------------------------------------------------

VELK_TARGET_AVX2 inline __m256i Constants256(const FoldConstants& k)
{
    const auto lo = static_cast<long long>(k.lowLane), hi = static_cast<long long>(k.highLane);
    return _mm256_set_epi64x(hi, lo, hi, lo);
}

VELK_TARGET_AVX2 inline __m256i Load256(const uint8_t* p)
{
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
}

VELK_TARGET_AVX2 inline __m256i Fold256(__m256i x, __m256i k)
{
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00), _mm256_clmulepi64_epi128(x, k, 0x11));
}

// ---- 512-bit lanes ------------------------------------------------------------------------

VELK_TARGET_AVX512 inline __m512i Constants512(const FoldConstants& k)
{
    const auto lo = static_cast<long long>(k.lowLane), hi = static_cast<long long>(k.highLane);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

VELK_TARGET_AVX512 inline __m512i Load512(const uint8_t* p)
{
    return _mm512_load_si512(reinterpret_cast<const void*>(p));
}

// One 128-bit lane. (The masked form: the plain one trips GCC's uninitialised-value warning.)
template <int kLane>
VELK_TARGET_AVX512 inline __m128i Lane(__m512i z)
{
    return _mm512_maskz_extracti32x4_epi32(0xF, z, kLane);
}

// Fold and add in one go: 0x96 is the three-way exclusive or.
VELK_TARGET_AVX512 inline __m512i Fold512Into(__m512i x, __m512i k, __m512i next)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

// Below these lengths the wider paths would spend more on setting up and reducing their
// registers than they save; the next narrower path takes over.
constexpr size_t kMinPclmul = 64;
constexpr size_t kMinAvx2 = 512;
constexpr size_t kMinAvx512 = 1024;

}  // namespace

VELK_TARGET_PCLMUL uint32_t ExtendPclmul(uint32_t state, const uint8_t* data, size_t length)
{
    if (length < kMinPclmul) return ExtendSlicing8(state, data, length);
    // The running register is added to the first four bytes; from there on the folding
    // computes as if from a zero register.
    __m128i x0 = _mm_xor_si128(Load128(data), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x1 = Load128(data + 16), x2 = Load128(data + 32), x3 = Load128(data + 48);
    data += 64;
    length -= 64;

    const __m128i k512 = Constants128(kFold512);
    while (length >= 64) {
        x0 = _mm_xor_si128(Fold128(x0, k512), Load128(data));
        x1 = _mm_xor_si128(Fold128(x1, k512), Load128(data + 16));
        x2 = _mm_xor_si128(Fold128(x2, k512), Load128(data + 32));
        x3 = _mm_xor_si128(Fold128(x3, k512), Load128(data + 48));
        data += 64;
        length -= 64;
    }
    const __m128i k128 = Constants128(kFold128);
    x1 = _mm_xor_si128(Fold128(x0, k128), x1);
    x2 = _mm_xor_si128(Fold128(x1, k128), x2);
    x3 = _mm_xor_si128(Fold128(x2, k128), x3);
    return FinishFrom128(x3, data, length);
}

VELK_TARGET_AVX2 uint32_t ExtendVpclmulAvx2(uint32_t state, const uint8_t* data, size_t length)
{
    if (length < kMinAvx2) return ExtendPclmul(state, data, length);
    const size_t head = HeadBytes(data, 32);
    state = ExtendSlicing8(state, data, head);
    data += head;
    length -= head;

    __m256i y0 = _mm256_xor_si256(Load256(data), _mm256_set_epi32(0, 0, 0, 0, 0, 0, 0, static_cast<int>(state)));
    __m256i y1 = Load256(data + 32), y2 = Load256(data + 64), y3 = Load256(data + 96);
    data += 128;
    length -= 128;

    const __m256i k1024 = Constants256(kFold1024);
    while (length >= 128) {
        y0 = _mm256_xor_si256(Fold256(y0, k1024), Load256(data));
        y1 = _mm256_xor_si256(Fold256(y1, k1024), Load256(data + 32));
        y2 = _mm256_xor_si256(Fold256(y2, k1024), Load256(data + 64));
        y3 = _mm256_xor_si256(Fold256(y3, k1024), Load256(data + 96));
        data += 128;
        length -= 128;
    }
    const __m256i k256 = Constants256(kFold256);
    y1 = _mm256_xor_si256(Fold256(y0, k256), y1);
    y2 = _mm256_xor_si256(Fold256(y1, k256), y2);
    y3 = _mm256_xor_si256(Fold256(y2, k256), y3);

    const __m128i k128 = Constants128(kFold128);
    const __m128i x = _mm_xor_si128(Fold128(_mm256_castsi256_si128(y3), k128), _mm256_extracti128_si256(y3, 1));
    return FinishFrom128(x, data, length);
}

VELK_TARGET_AVX512 uint32_t ExtendVpclmulAvx512(uint32_t state, const uint8_t* data, size_t length)
{
    if (length < kMinAvx512) return ExtendPclmul(state, data, length);
    const size_t head = HeadBytes(data, 64);
    state = ExtendSlicing8(state, data, head);
    data += head;
    length -= head;

    __m512i z0 = _mm512_xor_si512(Load512(data), _mm512_set_epi32(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                   0, 0, static_cast<int>(state)));
    __m512i z1 = Load512(data + 64), z2 = Load512(data + 128), z3 = Load512(data + 192);
    data += 256;
    length -= 256;

    const __m512i k2048 = Constants512(kFold2048);
    while (length >= 256) {
        z0 = Fold512Into(z0, k2048, Load512(data));
        z1 = Fold512Into(z1, k2048, Load512(data + 64));
        z2 = Fold512Into(z2, k2048, Load512(data + 128));
        z3 = Fold512Into(z3, k2048, Load512(data + 192));
        data += 256;
        length -= 256;
    }
    const __m512i k512 = Constants512(kFold512);
    z1 = Fold512Into(z0, k512, z1);
    z2 = Fold512Into(z1, k512, z2);
    z3 = Fold512Into(z2, k512, z3);

    const __m128i k128 = Constants128(kFold128);
    __m128i x = Lane<0>(z3);
    x = _mm_xor_si128(Fold128(x, k128), Lane<1>(z3));
    x = _mm_xor_si128(Fold128(x, k128), Lane<2>(z3));
    x = _mm_xor_si128(Fold128(x, k128), Lane<3>(z3));
    return FinishFrom128(x, data, length);
}

namespace {

// XCR0: which register states the operating system saves; AVX registers are usable only if it
// saves them, whatever CPUID says.
uint64_t ReadXcr0()
{
    uint32_t eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<uint64_t>(edx) << 32) | eax;
}

}  // namespace

X86Features DetectX86Features()
{
    X86Features features;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
    const bool sse41 = ecx & (1u << 19), pclmul = ecx & (1u << 1);
    const bool osxsave = ecx & (1u << 27), avx = ecx & (1u << 28);
    features.pclmul = sse41 && pclmul;
    if (!features.pclmul || !osxsave || !avx) return features;

    const uint64_t xcr0 = ReadXcr0();
    const bool ymmSaved = (xcr0 & 0x06) == 0x06;   // SSE and AVX state
    const bool zmmSaved = (xcr0 & 0xE6) == 0xE6;   // plus opmask and both halves of ZMM
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return features;
    const bool avx2 = ebx & (1u << 5), avx512f = ebx & (1u << 16), avx512vl = ebx & (1u << 31);
    const bool vpclmul = ecx & (1u << 10);
    features.vpclmulAvx2 = ymmSaved && avx2 && vpclmul;
    features.vpclmulAvx512 = features.vpclmulAvx2 && zmmSaved && avx512f && avx512vl;
    return features;
}

}  // namespace velk_crc32

#endif  // VELK_CRC32_X86
