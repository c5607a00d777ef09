#include "journal/journal_format.h"

#include <cstring>

#include "crc/crc32.h"
#include "file/io.h"

namespace velk_journal {

namespace {

constexpr char kHeaderMagic[16] = "VELK-UNDO-2";
constexpr char kTrailerMagic[16] = "VELK-UNDO-END";

void Put(uint8_t*& out, uint64_t value, int bytes)
{
    velk_io::StoreLE(out, value, bytes);
    out += bytes;
}

uint64_t Get(const uint8_t*& in, int bytes)
{
    const uint64_t value = velk_io::LoadLE(in, bytes);
    in += bytes;
    return value;
}

}  // namespace

void EncodeHeader(const Header& header, uint8_t out[kHeaderBytes])
{
    std::memset(out, 0, kHeaderBytes);
    std::memcpy(out, kHeaderMagic, sizeof kHeaderMagic);
    uint8_t* kept = out + kKeptFactsAt;
    Put(kept, header.originalCrc, 4);
    Put(kept, header.resultCrc, 4);
    Put(kept, static_cast<uint64_t>(header.resultSize), 8);
    Put(kept, header.patchMark, 4);
    uint8_t* at = out + sizeof kHeaderMagic;
    Put(at, header.nonce, 8);
    Put(at, static_cast<uint64_t>(header.oldSize), 8);
    Put(at, static_cast<uint64_t>(header.patchedSize), 8);
    Put(at, static_cast<uint64_t>(header.largestSize), 8);
    Put(at, static_cast<uint32_t>(header.state), 4);
    at += 4;
    Put(at, header.volume, 8);
    Put(at, header.index, 8);
    Put(at, header.setNonce, 8);
    velk_io::SealWithCrc(out, kHeaderBytes);
}

bool DecodeHeader(const uint8_t* bytes, uint32_t available, Header* header)
{
    if (available < kHeaderBytes || std::memcmp(bytes, kHeaderMagic, sizeof kHeaderMagic) != 0) return false;
    if (!velk_io::CrcHolds(bytes, kHeaderBytes)) return false;
    const uint8_t* kept = bytes + kKeptFactsAt;
    header->originalCrc = static_cast<uint32_t>(Get(kept, 4));
    header->resultCrc = static_cast<uint32_t>(Get(kept, 4));
    header->resultSize = static_cast<int64_t>(Get(kept, 8));
    header->patchMark = static_cast<uint32_t>(Get(kept, 4));
    const uint8_t* at = bytes + sizeof kHeaderMagic;
    header->nonce = Get(at, 8);
    header->oldSize = static_cast<int64_t>(Get(at, 8));
    header->patchedSize = static_cast<int64_t>(Get(at, 8));
    header->largestSize = static_cast<int64_t>(Get(at, 8));
    header->state = static_cast<State>(Get(at, 4));
    at += 4;
    header->volume = Get(at, 8);
    header->index = Get(at, 8);
    header->setNonce = Get(at, 8);
    const bool knownState =
        header->state == State::kWriting || header->state == State::kSealed || header->state == State::kDone;
    return (knownState || header->state == State::kKept) && header->oldSize >= 0 && header->patchedSize >= 0 &&
           header->largestSize >= header->patchedSize && header->resultSize >= 0;
}

bool IsUnwrittenStart(const uint8_t* bytes, uint32_t available, uint32_t whole, const char* magic,
                      uint32_t magicBytes)
{
    if (available >= whole) return false;
    bool zeros = true, magicStart = true;
    for (uint32_t i = 0; i < available; ++i) {
        zeros = zeros && bytes[i] == 0;
        magicStart = magicStart && (i >= magicBytes || bytes[i] == static_cast<uint8_t>(magic[i]));
    }
    return zeros || magicStart;
}

bool IsUnwrittenHeader(const uint8_t* bytes, uint32_t available)
{
    return IsUnwrittenStart(bytes, available, kHeaderBytes, kHeaderMagic, sizeof kHeaderMagic);
}

void EncodeTrailer(const Trailer& trailer, uint8_t out[kTrailerBytes])
{
    std::memset(out, 0, kTrailerBytes);
    std::memcpy(out, kTrailerMagic, sizeof kTrailerMagic);
    uint8_t* at = out + sizeof kTrailerMagic;
    Put(at, trailer.nonce, 8);
    Put(at, trailer.blocks, 8);
    Put(at, static_cast<uint64_t>(trailer.blockBytes), 8);
    Put(at, trailer.blocksCrc, 4);
    Put(at, trailer.sampleCount, 4);
    for (uint32_t i = 0; i < trailer.sampleCount && i < kSamples; ++i) {
        const Sample& sample = trailer.samples[i];
        at = out + kTrailerSamplesAt + i * kSampleRecordBytes;
        Put(at, static_cast<uint64_t>(sample.position), 8);
        Put(at, sample.length, 4);
        at += 4;
        std::memcpy(at, sample.before, kSampleBytes);
        std::memcpy(at + kSampleBytes, sample.after, kSampleBytes);
    }
    velk_io::SealWithCrc(out, kTrailerBytes);
}

bool DecodeTrailer(const uint8_t bytes[kTrailerBytes], Trailer* trailer)
{
    if (std::memcmp(bytes, kTrailerMagic, sizeof kTrailerMagic) != 0 || !velk_io::CrcHolds(bytes, kTrailerBytes)) return false;
    const uint8_t* at = bytes + sizeof kTrailerMagic;
    trailer->nonce = Get(at, 8);
    trailer->blocks = Get(at, 8);
    trailer->blockBytes = static_cast<int64_t>(Get(at, 8));
    trailer->blocksCrc = static_cast<uint32_t>(Get(at, 4));
    trailer->sampleCount = static_cast<uint32_t>(Get(at, 4));
    if (trailer->blockBytes < 0 || trailer->sampleCount > kSamples) return false;
    for (uint32_t i = 0; i < trailer->sampleCount; ++i) {
        Sample& sample = trailer->samples[i];
        at = bytes + kTrailerSamplesAt + i * kSampleRecordBytes;
        sample.position = static_cast<int64_t>(Get(at, 8));
        sample.length = static_cast<uint32_t>(Get(at, 4));
        at += 4;
        std::memcpy(sample.before, at, kSampleBytes);
        std::memcpy(sample.after, at + kSampleBytes, kSampleBytes);
        if (sample.position < 0 || sample.length == 0 || sample.length > kSampleBytes) return false;
    }
    return true;
}

}  // namespace velk_journal
