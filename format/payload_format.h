// The payload: a 40-byte header, the record stream at the data offset, and an optional UTF-16LE
// description. All numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file/velk_xfile.h"

namespace velk_format {

constexpr uint32_t kMagicBytes = 16;
constexpr uint32_t kHeaderBytes = 40;          // also the smallest valid data offset
constexpr uint32_t kPatchedSizeOffset = 16;
constexpr uint32_t kTargetCrcOffset = 24;
constexpr uint32_t kDataOffsetOffset = 28;
constexpr uint32_t kDescriptionOffsetOffset = 32;
constexpr char kMagicPrefix[] = "VELK-PATCH";
constexpr char kCurrentMagic[] = "VELK-PATCH3.0";

constexpr uint8_t kRecordRelative = 0x01;  // delta u32, length u16, data
constexpr uint8_t kRecordAbsolute = 0x02;  // position 64-bit, length u16, data
constexpr uint8_t kRecordEnd = 0xFF;
constexpr uint32_t kMaxRecordData = 65535;
// Bytes a record costs besides its data: type, delta and length.
constexpr uint32_t kRelativeRecordOverhead = 7;
constexpr uint32_t kAbsoluteRecordOverhead = 11;

// At most this many bytes of description are read: 32768 UTF-16 units.
constexpr uint32_t kMaxDescriptionBytes = 65536;

// The version as "VELK-PATCH%d.%d" scans it: the prefix must match from the first character,
// each number may have leading white space and a sign, and anything after the minor number is
// ignored. Returns how many numbers were scanned (0, 1 or 2). Numbers beyond the int range
// saturate rather than wrap, so no huge number can pass for version 3.
int ScanVersion(const char* text, int* major, int* minor);

enum class VersionVerdict { kCurrent, kOlder, kUnknown, kInvalid };
// Classifies the 16 magic bytes (not necessarily NUL-terminated).
VersionVerdict ClassifyMagic(const uint8_t* magic, size_t length);

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

// Reads until `count` bytes have arrived or a read delivers none, so that a read the platform
// splits (a pipe, a network share, an interrupted call) still counts whole. Returns the bytes
// got; 0 is the failed read of the format's rules, fewer than `count` means the file ended.
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

// Reads a little-endian field of `bytes` bytes. Like every payload read, it fails only when the
// file delivers no byte at all; a field cut off by the end of the file keeps the bytes it got.
inline bool ReadField(CVELK_xFile& file, uint64_t* value, int bytes)
{
    uint8_t raw[8] = {};
    if (ReadFully(file, raw, static_cast<uint32_t>(bytes)) == 0) return false;
    *value = LoadLE(raw, bytes);
    return true;
}

}  // namespace velk_format
