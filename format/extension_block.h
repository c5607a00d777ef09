// The extension block: what a payload knows about its result, kept where every reader already
// skips, between the 40-byte header and the data offset. Little-endian, at payload offset 40:
//   0  8  tag "VELKEXT1"
//   8  4  block length, 32 in this version (readers accept more and skip what they do not know)
//  12  4  CRC-32 of the patched file
//  16  8  size of the original file
//  24  4  flags: bit 0 (kFlagKeepUndo) keeps the undo journal after a successful application;
//           readers ignore the bits they do not know
//  length - 4  4  CRC-32 of the block's bytes before this field
// A block counts only when the tag matches, the length is at least 32, the block ends at or
// before the data offset and its own CRC matches; anything else is a payload without one.
#pragma once

#include <cstdint>

#include "file/velk_xfile.h"
#include "format/payload_format.h"

struct VelkResultIdentity {
    uint32_t resultCrc = 0;
    uint64_t originalSize = 0;
    uint32_t flags = 0;
};

namespace velk_extension {

constexpr char kTag[] = "VELKEXT1";
constexpr uint32_t kTagBytes = 8;
constexpr uint32_t kLengthAt = 8;
constexpr uint32_t kResultCrcAt = 12;
constexpr uint32_t kOriginalSizeAt = 16;
constexpr uint32_t kFlagsAt = 24;
constexpr uint32_t kBlockBytes = 32;
// The flags a reader acts on; any other bit is left alone (a later version's).
constexpr uint32_t kFlagKeepUndo = 1u << 0;
// The block sits right behind the header; a payload with nothing else there has its records here.
constexpr uint32_t kBlockAt = velk_format::kHeaderBytes;
constexpr uint32_t kDataOffsetWithBlock = kBlockAt + kBlockBytes;

// The bytes of a block of this version.
void Encode(const VelkResultIdentity& identity, uint8_t (&block)[kBlockBytes]);

// Reads the block of the payload at `payloadOffset` whose data offset is `dataOffset`. True, with
// `identity` filled in, only when the block counts. Moves the file's position.
bool Read(CVELK_xFile& source, int64_t payloadOffset, uint64_t dataOffset, VelkResultIdentity* identity);

}  // namespace velk_extension
