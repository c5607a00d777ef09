#include "payload/journal_format.h"

#include <cstring>

#include "file/crc32.h"
#include "payload/format.h"

namespace velk_journal {

namespace {

constexpr char kHeaderMagic[16] = "VELK-UNDO-1";
constexpr char kTrailerMagic[16] = "VELK-UNDO-END";
constexpr uint32_t kTrailerSampleOffset = 48;

uint32_t Crc(const uint8_t* bytes, uint32_t length)
{
    _m_CRC32 crc;
    return crc.Update(bytes, length);
}

void Put(uint8_t*& out, uint64_t value, int bytes)
{
    velk_format::StoreLE(out, value, bytes);
    out += bytes;
}

uint64_t Get(const uint8_t*& in, int bytes)
{
    const uint64_t value = velk_format::LoadLE(in, bytes);
    in += bytes;
    return value;
}

}  // namespace

void EncodeHeader(const Header& header, uint8_t out[kHeaderBytes])
{
    std::memset(out, 0, kHeaderBytes);
    std::memcpy(out, kHeaderMagic, sizeof kHeaderMagic);
    uint8_t* at = out + sizeof kHeaderMagic;
    Put(at, header.nonce, 8);
    Put(at, static_cast<uint64_t>(header.oldSize), 8);
    Put(at, static_cast<uint64_t>(header.patchedSize), 8);
    Put(at, static_cast<uint64_t>(header.largestSize), 8);
    velk_format::StoreLE(out + kHeaderBytes - 4, Crc(out, kHeaderBytes - 4), 4);
}

HeaderCheck DecodeHeader(const uint8_t* bytes, uint32_t available, Header* header)
{
    const uint32_t magicBytes = available < sizeof kHeaderMagic ? available : sizeof kHeaderMagic;
    bool zeros = true;
    for (uint32_t i = 0; i < magicBytes; ++i) zeros = zeros && bytes[i] == 0;
    const bool magic = std::memcmp(bytes, kHeaderMagic, magicBytes) == 0;
    if (!zeros && !magic) return HeaderCheck::kForeign;
    if (available < kHeaderBytes || !magic) return HeaderCheck::kOurs;
    if (velk_format::LoadLE(bytes + kHeaderBytes - 4, 4) != Crc(bytes, kHeaderBytes - 4)) return HeaderCheck::kOurs;
    const uint8_t* at = bytes + sizeof kHeaderMagic;
    header->nonce = Get(at, 8);
    header->oldSize = static_cast<int64_t>(Get(at, 8));
    header->patchedSize = static_cast<int64_t>(Get(at, 8));
    header->largestSize = static_cast<int64_t>(Get(at, 8));
    const bool sane = header->oldSize >= 0 && header->patchedSize >= 0 && header->largestSize >= header->patchedSize;
    return sane ? HeaderCheck::kValid : HeaderCheck::kForeign;
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
    at = out + kTrailerSampleOffset;
    for (const Sample& sample : trailer.samples) {
        Put(at, static_cast<uint64_t>(sample.position), 8);
        Put(at, sample.length, 4);
        Put(at, sample.crc, 4);
    }
    velk_format::StoreLE(out + kTrailerBytes - 4, Crc(out, kTrailerBytes - 4), 4);
}

bool DecodeTrailer(const uint8_t bytes[kTrailerBytes], Trailer* trailer)
{
    if (std::memcmp(bytes, kTrailerMagic, sizeof kTrailerMagic) != 0) return false;
    if (velk_format::LoadLE(bytes + kTrailerBytes - 4, 4) != Crc(bytes, kTrailerBytes - 4)) return false;
    const uint8_t* at = bytes + sizeof kTrailerMagic;
    trailer->nonce = Get(at, 8);
    trailer->blocks = Get(at, 8);
    trailer->blockBytes = static_cast<int64_t>(Get(at, 8));
    trailer->blocksCrc = static_cast<uint32_t>(Get(at, 4));
    at = bytes + kTrailerSampleOffset;
    for (Sample& sample : trailer->samples) {
        sample.position = static_cast<int64_t>(Get(at, 8));
        sample.length = static_cast<uint32_t>(Get(at, 4));
        sample.crc = static_cast<uint32_t>(Get(at, 4));
        if (sample.position < 0 || sample.length > kSampleBytes) return false;
    }
    return trailer->blockBytes >= 0;
}

uint32_t PlaceSamples(int64_t keptBytes, Sample samples[kSamples])
{
    if (keptBytes <= 0) return 0;
    const uint64_t kept = static_cast<uint64_t>(keptBytes);
    const uint32_t count = kept >= uint64_t(kSamples) * kSampleBytes ? kSamples : 1;
    for (uint32_t i = 0; i < count; ++i) {
        // The middle of each of `count` equal stretches.
        const uint64_t at = kept / (2 * count) * (2 * i + 1);
        samples[i].position = static_cast<int64_t>(at);
        samples[i].length = static_cast<uint32_t>(kept - at < kSampleBytes ? kept - at : kSampleBytes);
    }
    return count;
}

}  // namespace velk_journal
