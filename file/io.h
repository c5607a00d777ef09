// Reading and writing whole stretches through the file interface, and little-endian numbers in
// memory: what every file format of the program is read and written with.
#pragma once

#include <cstdint>

#include "crc/crc32.h"
#include "file/velk_xfile.h"

namespace velk_io {

inline uint64_t LoadLE(const uint8_t* p, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

inline void StoreLE(uint8_t* p, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// A header or block of `length` bytes whose last 4 hold the CRC-32 of those before: sealing
// stores it, CrcHolds checks it.
inline void SealWithCrc(uint8_t* bytes, uint32_t length)
{
    StoreLE(bytes + length - 4, _m_CRC32::Of(bytes, length - 4), 4);
}
inline bool CrcHolds(const uint8_t* bytes, uint32_t length)
{
    return LoadLE(bytes + length - 4, 4) == _m_CRC32::Of(bytes, length - 4);
}

// Reads until `count` bytes have arrived or a read delivers none, so that a read the platform
// splits (a pipe, a network share, an interrupted call) still counts whole. Returns the bytes
// got; fewer than `count` means the file ended or failed.
inline uint32_t ReadFully(CVELK_xFile& file, void* buffer, uint32_t count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const uint32_t got = file.Read(out + done, count - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// ReadFully at a position (CVELK_xFile::ReadAt).
inline uint32_t ReadFullyAt(CVELK_xFile& file, int64_t position, void* buffer, uint32_t count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const uint32_t got = file.ReadAt(position + done, out + done, count - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// Writes until all `count` bytes are written, through writes the platform may cut short; false
// when a write takes none.
inline bool WriteFully(CVELK_xFile& file, const void* data, uint32_t count)
{
    const auto* in = static_cast<const uint8_t*>(data);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = file.Write(in + done, count - done);
        if (n == 0) return false;
        done += n;
    }
    return true;
}

// WriteFully at a position (CVELK_xFile::WriteAt).
inline bool WriteFullyAt(CVELK_xFile& file, int64_t position, const void* data, uint32_t count)
{
    const auto* in = static_cast<const uint8_t*>(data);
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = file.WriteAt(position + done, in + done, count - done);
        if (n == 0) return false;
        done += n;
    }
    return true;
}

}  // namespace velk_io
