#include "format/file_kind.h"

#include <cstring>

#include "file/io.h"
#include "format/payload_format.h"
#include "format/payload_locator.h"

namespace velk_file_kind {

namespace {

struct Magic {
    VelkFileKind kind;
    const char* bytes;
    uint32_t length;
};

// Each archive by the bytes it begins with.
const Magic kArchives[] = {
    {VelkFileKind::kZip, "PK\x03\x04", 4},
    {VelkFileKind::kZip, "PK\x05\x06", 4},  // an empty archive
    {VelkFileKind::kZip, "PK\x07\x08", 4},  // the first part of a split one
    {VelkFileKind::k7z, "7z\xBC\xAF\x27\x1C", 6},
    {VelkFileKind::kRar, "Rar!\x1A\x07", 6},
    {VelkFileKind::kGzip, "\x1F\x8B", 2},
    {VelkFileKind::kXz, "\xFD" "7zXZ\x00", 6},
};

bool StartsWith(const uint8_t* head, uint32_t got, const char* bytes, uint32_t length)
{
    return got >= length && std::memcmp(head, bytes, length) == 0;
}

// A patch program's payload lies behind its image. Only headers that lie within what was read
// are followed, so that a file with a hostile section count costs no more reads.
bool CarriesPayload(CVELK_xFile& file, int64_t size, const uint8_t* head, uint32_t got)
{
    constexpr uint32_t kMagicPrefix = sizeof velk_format::kMagicPrefix - 1;
    if (StartsWith(head, got, velk_format::kMagicPrefix, kMagicPrefix)) return true;
    if (!StartsWith(head, got, "MZ", 2) || got < 64) return false;
    const uint64_t pe = velk_io::LoadLE(head + 0x3C, 4);
    if (pe + 24 > got) return false;
    const uint64_t sections = velk_io::LoadLE(head + pe + 6, 2), optional = velk_io::LoadLE(head + pe + 20, 2);
    if (pe + 24 + optional + 40 * sections > got) return false;
    const int64_t offset = FindPayloadOffset(file);
    char magic[kMagicPrefix];
    return offset > 0 && offset <= size - kMagicPrefix &&
           velk_io::ReadFullyAt(file, offset, magic, kMagicPrefix) == kMagicPrefix &&
           std::memcmp(magic, velk_format::kMagicPrefix, kMagicPrefix) == 0;
}

// Text: no control characters but the white space of text files. Bytes from 0x80 on are taken
// as any of the encodings text files come in.
bool LooksLikeText(const uint8_t* head, uint32_t got)
{
    for (uint32_t i = 0; i < got; ++i) {
        const uint8_t c = head[i];
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F) return false;
    }
    return got > 0;
}

}  // namespace

VelkFileKind Sniff(CVELK_xFile& file, int64_t size)
{
    if (size == 0) return VelkFileKind::kEmpty;
    if (size < 0) return VelkFileKind::kUnknown;
    uint8_t head[kSniffBytes];
    const uint32_t want = size < kSniffBytes ? static_cast<uint32_t>(size) : kSniffBytes;
    const uint32_t got = velk_io::ReadFullyAt(file, 0, head, want);
    for (const Magic& magic : kArchives)
        if (StartsWith(head, got, magic.bytes, magic.length)) return magic.kind;
    if (CarriesPayload(file, size, head, got)) return VelkFileKind::kPatch;
    return size <= kSmallTextBytes && LooksLikeText(head, got) ? VelkFileKind::kText : VelkFileKind::kUnknown;
}

const char16_t* ArchiveName(VelkFileKind kind)
{
    switch (kind) {
    case VelkFileKind::kZip: return u"zip";
    case VelkFileKind::k7z: return u"7z";
    case VelkFileKind::kRar: return u"rar";
    case VelkFileKind::kGzip: return u"gzip";
    case VelkFileKind::kXz: return u"xz";
    default: break;
    }
    return nullptr;
}

}  // namespace velk_file_kind
