// CRC-32 over a 256 MiB buffer: every path this CPU runs, zlib's crc32 where the build has it,
// and the machine's memory read bandwidth (summing the buffer with the widest loads it has).
//   velk_bench_crc32 [--mib=256] [--reps=5]
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bench_harness.h"
#include "crc/crc32.h"
#include "crc/crc32_fold.h"

#ifdef VELK_HAVE_ZLIB
#include <zlib.h>
#endif

#ifdef VELK_CRC32_X86
#include <immintrin.h>
#endif

namespace {

uint64_t SumScalar(const uint8_t* data, size_t length)
{
    uint64_t a = 0, b = 0, c = 0, d = 0;
    for (size_t i = 0; i + 32 <= length; i += 32) {
        uint64_t w[4];
        std::memcpy(w, data + i, 32);
        a += w[0], b += w[1], c += w[2], d += w[3];
    }
    return a + b + c + d;
}

#ifdef VELK_CRC32_X86
__attribute__((target("avx512f"))) uint64_t SumAvx512(const uint8_t* data, size_t length)
{
    __m512i a = _mm512_setzero_si512(), b = a, c = a, d = a;
    for (size_t i = 0; i + 256 <= length; i += 256) {
        a = _mm512_add_epi64(a, _mm512_load_si512(data + i));
        b = _mm512_add_epi64(b, _mm512_load_si512(data + i + 64));
        c = _mm512_add_epi64(c, _mm512_load_si512(data + i + 128));
        d = _mm512_add_epi64(d, _mm512_load_si512(data + i + 192));
    }
    return static_cast<uint64_t>(_mm512_reduce_add_epi64(_mm512_add_epi64(_mm512_add_epi64(a, b), _mm512_add_epi64(c, d))));
}

__attribute__((target("avx2"))) uint64_t SumAvx2(const uint8_t* data, size_t length)
{
    __m256i a = _mm256_setzero_si256(), b = a, c = a, d = a;
    for (size_t i = 0; i + 128 <= length; i += 128) {
        a = _mm256_add_epi64(a, _mm256_load_si256(reinterpret_cast<const __m256i*>(data + i)));
        b = _mm256_add_epi64(b, _mm256_load_si256(reinterpret_cast<const __m256i*>(data + i + 32)));
        c = _mm256_add_epi64(c, _mm256_load_si256(reinterpret_cast<const __m256i*>(data + i + 64)));
        d = _mm256_add_epi64(d, _mm256_load_si256(reinterpret_cast<const __m256i*>(data + i + 96)));
    }
    alignas(32) uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_add_epi64(_mm256_add_epi64(a, b), _mm256_add_epi64(c, d)));
    return lanes[0] + lanes[1] + lanes[2] + lanes[3];
}
#endif

// The widest summing loop this CPU runs, and its name.
uint64_t (*WidestSum(const char** name))(const uint8_t*, size_t)
{
#ifdef VELK_CRC32_X86
    const velk_crc32::X86Features x86 = velk_crc32::DetectX86Features();
    if (x86.vpclmulAvx512) return *name = "512-bit loads", SumAvx512;
    if (x86.vpclmulAvx2) return *name = "256-bit loads", SumAvx2;
#endif
    *name = "64-bit loads";
    return SumScalar;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace velk_bench;
    const size_t bytes = std::stoul(Option(argc, argv, "mib", "256")) << 20;
    const int reps = std::stoi(Option(argc, argv, "reps", "5"));

    // 64-byte aligned, touched once before timing so that page faults are not measured.
    std::unique_ptr<uint8_t[]> storage(new uint8_t[bytes + 64]);
    uint8_t* data = storage.get() + (64 - reinterpret_cast<uintptr_t>(storage.get()) % 64) % 64;
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 24);

    std::vector<Contender> contenders;
    const char* sumName = nullptr;
    auto sum = WidestSum(&sumName);
    contenders.push_back({std::string("memory read bandwidth (") + sumName + ")", nullptr, [&] {
                              Keep(sum(data, bytes));
                              return true;
                          }, reps});
    uint32_t expected = 0;
    bool agree = true;
    for (const velk_crc32::NamedPath& path : velk_crc32::AvailablePaths()) {
        // The byte-at-a-time loop is slow; three runs give its median.
        const int n = std::strcmp(path.name, "bytewise") == 0 ? std::min(reps, 3) : reps;
        contenders.push_back({path.name, nullptr, [&, path] {
                                  const uint32_t crc = ~path.extend(0xFFFFFFFFu, data, bytes);
                                  if (expected == 0) expected = crc;
                                  agree &= crc == expected;
                                  return true;
                              }, n});
    }
#ifdef VELK_HAVE_ZLIB
    contenders.push_back({"zlib crc32", nullptr, [&] {
                              uint32_t crc = 0;
                              for (size_t at = 0; at < bytes; at += 1u << 30)
                                  crc = static_cast<uint32_t>(crc32(crc, data + at, static_cast<uInt>(std::min<size_t>(bytes - at, 1u << 30))));
                              agree &= crc == expected || expected == 0;
                              return true;
                          }, reps});
#endif
    contenders.push_back({"_m_CRC32::Update", nullptr, [&] {
                              _m_CRC32 crc;
                              uint32_t value = 0;
                              for (size_t at = 0; at < bytes; at += 1u << 30)
                                  value = crc.Update(data + at, static_cast<uint32_t>(std::min<size_t>(bytes - at, 1u << 30)));
                              agree &= value == expected;
                              return true;
                          }, reps});
    if (!RunAll(contenders)) return 1;
    PrintTable("CRC-32 over " + std::to_string(bytes >> 20) + " MiB", contenders, static_cast<double>(bytes),
               contenders[0].name);
    if (!agree) {
        std::printf("\nPATHS DISAGREE\n");
        return 1;
    }

    auto ratio = [&](const char* a, const char* b) {
        const double ta = MedianOf(contenders, a), tb = MedianOf(contenders, b);
        return ta > 0 && tb > 0 ? tb / ta : 0.0;
    };
    std::printf("\n| ratio | value |\n|---|---|\n");
    std::printf("| vpclmulqdq-avx512 / memory bandwidth | %.3f |\n", ratio("vpclmulqdq-avx512", contenders[0].name.c_str()));
    std::printf("| vpclmulqdq-avx2 / memory bandwidth | %.3f |\n", ratio("vpclmulqdq-avx2", contenders[0].name.c_str()));
    std::printf("| pclmulqdq / zlib crc32 | %.3f |\n", ratio("pclmulqdq", "zlib crc32"));
    std::printf("| slicing-by-8 / bytewise | %.3f |\n", ratio("slicing-by-8", "bytewise"));
    return 0;
}
