// The payload: a 40-byte header, the record stream at the data offset, and an optional UTF-16LE
// description. All numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file/io.h"
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

// Reads a little-endian field of `bytes` bytes. Like every payload read, it fails only when the
// file delivers no byte at all; a field cut off by the end of the file keeps the bytes it got.
inline bool ReadField(CVELK_xFile& file, uint64_t* value, int bytes)
{
    uint8_t raw[8] = {};
    if (velk_io::ReadFully(file, raw, static_cast<uint32_t>(bytes)) == 0) return false;
    *value = velk_io::LoadLE(raw, bytes);
    return true;
}

}  // namespace velk_format
