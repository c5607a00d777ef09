// The undo journal beside a target (NAME.velk-undo): what undoes one application in place.
//
//   header   64 bytes: magic, nonce, the target's size before the application, the size it is
//            set to, the largest size its records can make it; CRC-32 of the 60 bytes before.
//   blocks   each: payload length (u32), CRC-32 of the payload (u32), payload of at most
//            kBlockBytes; the payload is entries: position (u64), length (u32), the target's
//            bytes there before the application.
//   trailer  the completion mark, written only once everything before it is on the disk:
//            magic, the header's nonce, block count, bytes of the blocks, CRC-32 of the blocks,
//            and samples of the target's bytes that the application leaves alone (position,
//            length, CRC-32), which tell a journal's own target from another file; CRC-32 of
//            the 316 bytes before.
// All numbers are little-endian. A journal counts only as a whole: a header, every block and a
// trailer whose checksums, nonce, count and length agree.
#pragma once

#include <cstdint>

namespace velk_journal {

constexpr uint32_t kHeaderBytes = 64;
constexpr uint32_t kBlockHeaderBytes = 8;
constexpr uint32_t kEntryHeaderBytes = 12;
constexpr uint32_t kBlockBytes = 1u << 20;
constexpr uint32_t kSamples = 16;
constexpr uint32_t kSampleBytes = 32;
constexpr uint32_t kTrailerBytes = 320;

struct Header {
    uint64_t nonce = 0;
    int64_t oldSize = 0;      // the target before the application
    int64_t patchedSize = 0;  // what the resize sets
    int64_t largestSize = 0;  // the most the records can extend it to (at least patchedSize)
};

// Bytes of the target that the application does not change, to recognise the target by.
struct Sample {
    int64_t position = 0;
    uint32_t length = 0;  // 0: the sample lies in a range the application changes, and is not used
    uint32_t crc = 0;
};

struct Trailer {
    uint64_t nonce = 0;
    uint64_t blocks = 0;
    int64_t blockBytes = 0;  // from the end of the header to the trailer
    uint32_t blocksCrc = 0;  // CRC-32 of all blocks, headers included, in order
    Sample samples[kSamples];
};

void EncodeHeader(const Header& header, uint8_t out[kHeaderBytes]);
enum class HeaderCheck { kValid, kOurs, kForeign };
// kValid: a whole header with a good checksum. kOurs: what a journal leaves when the power
// failed while it was created (nothing, zeros, the start of the magic, a torn header).
// kForeign: some other file.
HeaderCheck DecodeHeader(const uint8_t* bytes, uint32_t available, Header* header);

void EncodeTrailer(const Trailer& trailer, uint8_t out[kTrailerBytes]);
bool DecodeTrailer(const uint8_t bytes[kTrailerBytes], Trailer* trailer);

// Where the samples lie in the first `keptBytes` bytes of the target: spread evenly; fewer
// and shorter in a small file. Returns how many there are.
uint32_t PlaceSamples(int64_t keptBytes, Sample samples[kSamples]);

}  // namespace velk_journal
