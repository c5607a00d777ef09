// CRC-32 with the ARMv8 CRC32 instructions, which implement this polynomial (reflected
// 0xEDB88320) directly: eight bytes per instruction.
#include "crc/crc32_fold.h"

#ifdef VELK_CRC32_ARM

#include <arm_acle.h>

#include <cstring>

#include "crc/crc32.h"

#if defined(__linux__) && !defined(__ARM_FEATURE_CRC32)
#include <sys/auxv.h>
#endif

#ifdef __ARM_FEATURE_CRC32
#define VELK_TARGET_CRC
#elif defined(__clang__)
// Not in the compiler's baseline: compile the loop for it and ask the kernel at run time.
#define VELK_TARGET_CRC __attribute__((target("crc")))
#else
#define VELK_TARGET_CRC __attribute__((target("+crc")))
#endif

// clang declares the ACLE names only when the whole file targets CRC32; its builtins work
// under the attribute as well.
#ifdef __clang__
#define VELK_CRC32B __builtin_arm_crc32b
#define VELK_CRC32D __builtin_arm_crc32d
#else
#define VELK_CRC32B __crc32b
#define VELK_CRC32D __crc32d
#endif

namespace velk_crc32 {

VELK_TARGET_CRC uint32_t ExtendArmCrc32(uint32_t state, const uint8_t* data, size_t length)
{
    while (length >= 8) {
        uint64_t word;  // unaligned loads cost nothing extra on ARMv8
        std::memcpy(&word, data, 8);
        state = VELK_CRC32D(state, word);
        data += 8;
        length -= 8;
    }
    while (length-- != 0) state = VELK_CRC32B(state, *data++);
    return state;
}

bool ArmHasCrc32()
{
#if defined(__ARM_FEATURE_CRC32)
    return true;
#elif defined(__linux__)
    return (getauxval(AT_HWCAP) & (1ul << 7)) != 0;  // HWCAP_CRC32
#else
    return false;
#endif
}

}  // namespace velk_crc32

#endif  // VELK_CRC32_ARM
