#include "format/extension_block.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "crc/crc32.h"
#include "file/io.h"

namespace velk_extension {

void Encode(const VelkResultIdentity& identity, uint8_t (&block)[kBlockBytes])
{
    std::memset(block, 0, kBlockBytes);
    std::memcpy(block, kTag, kTagBytes);
    velk_io::StoreLE(block + kLengthAt, kBlockBytes, 4);
    velk_io::StoreLE(block + kResultCrcAt, identity.resultCrc, 4);
    velk_io::StoreLE(block + kOriginalSizeAt, identity.originalSize, 8);
    velk_io::StoreLE(block + kFlagsAt, identity.flags, 4);
    velk_io::SealWithCrc(block, kBlockBytes);
}

bool Read(CVELK_xFile& source, int64_t payloadOffset, uint64_t dataOffset, VelkResultIdentity* identity)
{
    if (payloadOffset < 0 || payloadOffset > INT64_MAX - kBlockAt || dataOffset < kDataOffsetWithBlock) return false;
    if (!source.Seek(payloadOffset + kBlockAt)) return false;
    uint8_t known[kBlockBytes];
    if (velk_io::ReadFully(source, known, kBlockBytes) != kBlockBytes) return false;
    const uint64_t length = velk_io::LoadLE(known + kLengthAt, 4);
    if (std::memcmp(known, kTag, kTagBytes) != 0 || length < kBlockBytes || kBlockAt + length > dataOffset)
        return false;

    // The block's own CRC covers everything before its last four bytes, which hold it. A longer
    // block of a later version is read through in pieces for fields this reader does not know.
    const uint64_t covered = length - 4;
    _m_CRC32 crc;
    uint32_t ownCrc = 0;
    uint8_t stored[4];
    auto take = [&](const uint8_t* bytes, uint64_t at, uint32_t count) {
        const uint32_t checked = at < covered ? static_cast<uint32_t>(std::min<uint64_t>(count, covered - at)) : 0;
        if (checked > 0) ownCrc = crc.Update(bytes, checked);
        for (uint32_t i = checked; i < count; ++i) stored[at + i - covered] = bytes[i];
    };
    take(known, 0, kBlockBytes);
    uint8_t piece[4096];
    for (uint64_t at = kBlockBytes; at < length;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(length - at, sizeof piece));
        if (velk_io::ReadFully(source, piece, n) != n) return false;
        take(piece, at, n);
        at += n;
    }
    if (velk_io::LoadLE(stored, 4) != ownCrc) return false;
    identity->resultCrc = static_cast<uint32_t>(velk_io::LoadLE(known + kResultCrcAt, 4));
    identity->originalSize = velk_io::LoadLE(known + kOriginalSizeAt, 8);
    identity->flags = static_cast<uint32_t>(velk_io::LoadLE(known + kFlagsAt, 4));
    return true;
}

}  // namespace velk_extension
