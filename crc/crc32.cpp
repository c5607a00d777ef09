#include "crc/crc32.h"

#include <cstring>

namespace velk_crc32 {
namespace {

// Tables for slicing-by-8: kSlices[k][b] is the register contribution of byte b followed by k
// zero bytes. Computed as the program starts, from the one table: 8 KiB that the patch program's
// file does not have to carry.
struct SliceTables {
    SliceTables()
    {
        for (int b = 0; b < 256; ++b) t[0][b] = kTable[b];
        for (int k = 1; k < 8; ++k)
            for (int b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ kTable[t[k - 1][b] & 0xFF];
    }
    uint32_t t[8][256];
};

// On first use, so that no start-up code of another file can find it empty.
const SliceTables& Slices()
{
    static const SliceTables tables;
    return tables;
}

inline uint32_t LoadLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t ExtendBytewise(uint32_t state, const uint8_t* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) state = (state >> 8) ^ kTable[(state ^ data[i]) & 0xFF];
    return state;
}

uint32_t ExtendSlicing8(uint32_t state, const uint8_t* data, size_t length)
{
    const SliceTables& kSlices = Slices();
    while (length >= 8) {
        uint32_t lo = LoadLE32(data) ^ state;
        uint32_t hi = LoadLE32(data + 4);
        state = kSlices.t[7][lo & 0xFF] ^ kSlices.t[6][(lo >> 8) & 0xFF] ^
                kSlices.t[5][(lo >> 16) & 0xFF] ^ kSlices.t[4][lo >> 24] ^
                kSlices.t[3][hi & 0xFF] ^ kSlices.t[2][(hi >> 8) & 0xFF] ^
                kSlices.t[1][(hi >> 16) & 0xFF] ^ kSlices.t[0][hi >> 24];
        data += 8;
        length -= 8;
    }
    return ExtendBytewise(state, data, length);
}

}  // namespace velk_crc32

uint32_t _m_CRC32::Update(const void* data, uint32_t length)
{
    static const velk_crc32::ExtendFunction extend = velk_crc32::BestExtend();
    if (length != 0) m_state = extend(m_state, static_cast<const uint8_t*>(data), length);
    return ~m_state;
}
