// CRC-32 with the ARMv8 CRC32 instructions, which implement this polynomial (reflected
// 0xEDB88320) directly: eight bytes per instruction.
#include "file/crc32_fold.h"

#ifdef VELK_CRC32_ARM

#include <arm_acle.h>

#include <cstring>

#include "file/crc32.h"

#if defined(__linux__) && !defined(__ARM_FEATURE_CRC32)
#include <sys/auxv.h>
#endif

#ifdef __ARM_FEATURE_CRC32
#define VELK_TARGET_CRC
#else
// Not in the compiler's baseline: compile the loop for it and ask the kernel at run time.
#define VELK_TARGET_CRC __attribute__((target("+crc")))
#endif

namespace velk_crc32 {

VELK_TARGET_CRC uint32_t ExtendArmCrc32(uint32_t state, const uint8_t* data, size_t length)
{
    while (length != 0 && (reinterpret_cast<uintptr_t>(data) & 7) != 0) {
        state = __crc32b(state, *data++);
        --length;
    }
    while (length >= 8) {
        uint64_t word;
        std::memcpy(&word, data, 8);
        state = __crc32d(state, word);
        data += 8;
        length -= 8;
    }
    while (length-- != 0) state = __crc32b(state, *data++);
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
