// The undo journal beside a target (NAME.velk-undo): what undoes one application in place.
//
//   header   128 bytes: magic, nonce, the target's size before the application, the size it is
//            set to, the largest size its records can make it, the journal's state, the target's
//            identity (volume and file index, 0 where unknown), the nonce of the set journal
//            whose member it is (0: none); CRC-32 of the 124 bytes before.
//            The state is changed by writing the header again in place; it lies in the file's
//            first sector, which a disk writes whole.
//            Once kept for undo, from byte 96: the CRC-32 of the original, the CRC-32 and size of
//            the result, the mark of the patch (0 before).
//   blocks   each: payload length (u32), CRC-32 of the payload (u32), payload of at most
//            kBlockBytes; the payload is entries: position (u64), length (u32), the target's
//            bytes there before the application.
//   trailer  magic, the header's nonce, block count, bytes of the blocks, CRC-32 of the blocks,
//            the number of samples, and the samples: stretches of the target (position, length,
//            its bytes before the application and after it) that tell a journal's own target
//            from another file; CRC-32 of the bytes before.
// All numbers are little-endian. undo_journal.h says when each part is written and made durable.
#pragma once

#include <cstdint>

namespace velk_journal {

constexpr uint32_t kHeaderBytes = 128;
constexpr uint32_t kKeptFactsAt = 96;  // what a journal kept for undo records, in its header
constexpr uint32_t kBlockHeaderBytes = 8;
constexpr uint32_t kEntryHeaderBytes = 12;
constexpr uint32_t kBlockBytes = 1u << 20;
constexpr uint32_t kSamples = 16;
constexpr uint32_t kSampleBytes = 32;
constexpr uint32_t kSampleRecordBytes = 16 + 2 * kSampleBytes;
constexpr uint32_t kTrailerSamplesAt = 48;
constexpr uint32_t kTrailerBytes = kTrailerSamplesAt + kSamples * kSampleRecordBytes + 8;

enum class State : uint32_t {
    kWriting = 1,  // being written: its target has not changed since the journal was begun
    kSealed = 2,   // whole and durable: its target may have changed since
    kDone = 3,     // its application is over and durable: it undoes nothing any more
    // Its application is over and durable, and the journal is kept so that the user can take it
    // back: played only on request, and only onto the result it was kept with.
    kKept = 4,
};

struct Header {
    uint64_t nonce = 0;
    int64_t oldSize = 0;      // the target before the application
    int64_t patchedSize = 0;  // what the resize sets
    int64_t largestSize = 0;  // the most the records can extend it to (at least patchedSize)
    State state = State::kWriting;
    // Set when the journal is kept for undo (0 before).
    uint32_t originalCrc = 0;  // the target before the application
    uint32_t resultCrc = 0;    // and after it
    int64_t resultSize = 0;
    uint32_t patchMark = 0;  // tells the patch that made the result (VelkPatchMark)
    // The target's identity (VelkFileFacts); an index of 0: unknown.
    uint64_t volume = 0;
    uint64_t index = 0;
    // A member of a set (set_journal.h) is played only as part of its set.
    uint64_t setNonce = 0;
};

// A stretch of the target: what it held before the application and what the application leaves
// there. Wherever an interruption left the target, each of its bytes is one of the two (or, past
// the part both sizes keep, a zero the resize made, or no byte at all).
struct Sample {
    int64_t position = 0;
    uint32_t length = 0;
    uint8_t before[kSampleBytes] = {};  // zero past the target's old end
    uint8_t after[kSampleBytes] = {};   // zero where the application leaves no byte
};

struct Trailer {
    uint64_t nonce = 0;
    uint64_t blocks = 0;
    int64_t blockBytes = 0;  // from the end of the header to the trailer
    uint32_t blocksCrc = 0;  // CRC-32 of all blocks, headers included, in order
    uint32_t sampleCount = 0;
    Sample samples[kSamples];
};

void EncodeHeader(const Header& header, uint8_t out[kHeaderBytes]);
// True for a whole header with a good checksum and sizes that make sense.
bool DecodeHeader(const uint8_t* bytes, uint32_t available, Header* header);
// What a journal is while the power fails as it is created, before its header is on the disk:
// shorter than a header, and nothing but zeros or the beginning of a header.
bool IsUnwrittenHeader(const uint8_t* bytes, uint32_t available);
// The same for any journal whose header of `whole` bytes begins with `magic` (the set journal's).
bool IsUnwrittenStart(const uint8_t* bytes, uint32_t available, uint32_t whole, const char* magic,
                      uint32_t magicBytes);

void EncodeTrailer(const Trailer& trailer, uint8_t out[kTrailerBytes]);
bool DecodeTrailer(const uint8_t bytes[kTrailerBytes], Trailer* trailer);

}  // namespace velk_journal
