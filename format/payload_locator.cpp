#include "format/payload_locator.h"

#include <algorithm>
#include <cstring>

#include "file/io.h"
#include "file/velk_file.h"

namespace {

// Reads exactly `count` bytes at `position`, however the platform splits the read; false when
// the file has fewer.
bool ReadAt(CVELK_xFile& file, uint64_t position, void* buffer, uint32_t count)
{
    // Header fields can point anywhere: past 2^63 there is no file position to read at.
    return position <= static_cast<uint64_t>(INT64_MAX) &&
           velk_io::ReadFullyAt(file, static_cast<int64_t>(position), buffer, count) == count;
}

// PE: the furthest end of the headers, of every section's raw data, and of a COFF symbol and
// string table. An Authenticode signature that starts right there belongs to the stub too.
int64_t PeImageEnd(CVELK_xFile& file, uint32_t peOffset)
{
    uint8_t coff[24];
    if (!ReadAt(file, peOffset, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return 0;
    const uint32_t sections = static_cast<uint32_t>(velk_io::LoadLE(coff + 6, 2));
    const uint64_t symbolTable = velk_io::LoadLE(coff + 12, 4);
    const uint64_t symbols = velk_io::LoadLE(coff + 16, 4);
    const uint32_t optionalSize = static_cast<uint32_t>(velk_io::LoadLE(coff + 20, 2));
    const uint64_t optionalStart = uint64_t(peOffset) + 24;

    uint8_t optional[64];
    if (optionalSize < sizeof optional || !ReadAt(file, optionalStart, optional, sizeof optional)) return 0;
    const uint32_t magic = static_cast<uint32_t>(velk_io::LoadLE(optional, 2));
    if (magic != 0x10B && magic != 0x20B) return 0;
    uint64_t end = velk_io::LoadLE(optional + 60, 4);  // SizeOfHeaders

    const uint64_t sectionTable = optionalStart + optionalSize;
    for (uint32_t i = 0; i < sections; ++i) {
        uint8_t section[40];
        if (!ReadAt(file, sectionTable + 40ull * i, section, sizeof section)) return 0;
        const uint64_t rawSize = velk_io::LoadLE(section + 16, 4);
        const uint64_t rawPointer = velk_io::LoadLE(section + 20, 4);
        if (rawSize != 0) end = std::max(end, rawPointer + rawSize);
    }
    if (symbolTable != 0) {
        const uint64_t stringTable = symbolTable + symbols * 18;
        uint8_t length[4];
        const uint64_t stringBytes = ReadAt(file, stringTable, length, 4) ? velk_io::LoadLE(length, 4) : 0;
        end = std::max(end, stringTable + std::max<uint64_t>(stringBytes, 4));
    }
    PeSignatureFields signature;
    if (FindPeSignatureFields(file, &signature) && signature.tableOffset == end && signature.tableSize != 0)
        end += signature.tableSize;
    return static_cast<int64_t>(end);
}

// ELF: the furthest end of the file header, the program and section header tables, and every
// segment and section that occupies file space.
#ifndef VELK_PATCH_PROGRAM
int64_t ElfImageEnd(CVELK_xFile& file, const uint8_t* ident)
{
    const bool wide = ident[4] == 2;
    const bool little = ident[5] == 1;
    if ((ident[4] != 1 && !wide) || (ident[5] != 1 && ident[5] != 2)) return 0;
    auto load = [little](const uint8_t* p, int bytes) {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | p[little ? bytes - 1 - i : i];
        return value;
    };
    uint8_t header[64];
    if (!ReadAt(file, 0, header, wide ? 64 : 52)) return 0;
    const uint64_t phoff = wide ? load(header + 0x20, 8) : load(header + 0x1C, 4);
    const uint64_t shoff = wide ? load(header + 0x28, 8) : load(header + 0x20, 4);
    const uint32_t at = wide ? 0x34 : 0x28;
    const uint64_t ehsize = load(header + at, 2);
    const uint64_t phentsize = load(header + at + 2, 2), phnum = load(header + at + 4, 2);
    const uint64_t shentsize = load(header + at + 6, 2), shnum = load(header + at + 8, 2);

    uint64_t end = std::max({ehsize, phoff + phnum * phentsize, shoff + shnum * shentsize});
    for (uint64_t i = 0; i < phnum && phentsize >= (wide ? 56u : 32u); ++i) {
        uint8_t ph[56];
        if (!ReadAt(file, phoff + i * phentsize, ph, wide ? 56 : 32)) return 0;
        const uint64_t offset = wide ? load(ph + 8, 8) : load(ph + 4, 4);
        const uint64_t size = wide ? load(ph + 32, 8) : load(ph + 16, 4);
        end = std::max(end, offset + size);
    }
    for (uint64_t i = 0; i < shnum && shentsize >= (wide ? 64u : 40u); ++i) {
        uint8_t sh[64];
        if (!ReadAt(file, shoff + i * shentsize, sh, wide ? 64 : 40)) return 0;
        const uint64_t type = load(sh + 4, 4);
        const uint64_t offset = wide ? load(sh + 24, 8) : load(sh + 16, 4);
        const uint64_t size = wide ? load(sh + 32, 8) : load(sh + 20, 4);
        if (type != 8 /* SHT_NOBITS */) end = std::max(end, offset + size);
    }
    return end > static_cast<uint64_t>(INT64_MAX) ? 0 : static_cast<int64_t>(end);
}
#endif

}  // namespace

int64_t FindPayloadOffset(CVELK_xFile& file)
{
    uint8_t start[64] = {};
    if (!file.Seek(0)) return -1;
    const uint32_t got = velk_io::ReadFully(file, start, sizeof start);
    if (got == sizeof start && start[0] == 'M' && start[1] == 'Z') {
        const int64_t end = PeImageEnd(file, static_cast<uint32_t>(velk_io::LoadLE(start + 0x3C, 4)));
        return end;
    }
#ifndef VELK_PATCH_PROGRAM
    // A payload behind an ELF program is velkpatch's to read; the patch program is a PE program.
    if (got >= 16 && std::memcmp(start, "\x7F" "ELF", 4) == 0) return ElfImageEnd(file, start);
#endif
    return 0;
}

bool FindPeSignatureFields(CVELK_xFile& file, PeSignatureFields* fields)
{
    uint8_t dos[64];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint64_t peOffset = velk_io::LoadLE(dos + 0x3C, 4);
    uint8_t coff[24];
    if (!ReadAt(file, peOffset, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return false;
    const uint32_t optionalSize = static_cast<uint32_t>(velk_io::LoadLE(coff + 20, 2));
    const uint64_t optionalStart = peOffset + 24;
    uint8_t optional[152] = {};  // through the certificate entry of a PE32+ header
    if (optionalSize < 2 || !ReadAt(file, optionalStart, optional, std::min<uint32_t>(optionalSize, sizeof optional)))
        return false;
    const uint32_t magic = static_cast<uint32_t>(velk_io::LoadLE(optional, 2));
    if (magic != 0x10B && magic != 0x20B) return false;
    // The directory count comes right before the directories; the certificate table is the
    // fifth, and its entry holds a file offset rather than an address.
    const uint32_t countAt = magic == 0x20B ? 108 : 92;
    const uint32_t entry = countAt + 4 + 4 * 8;
    if (optionalSize < entry + 8 || velk_io::LoadLE(optional + countAt, 4) < 5) return false;
    fields->checksumAt = optionalStart + 64;
    fields->entryAt = optionalStart + entry;
    fields->tableOffset = velk_io::LoadLE(optional + entry, 4);
    fields->tableSize = velk_io::LoadLE(optional + entry + 4, 4);
    return true;
}

int64_t FindPayloadOffset(const NativeChar* path)
{
    CVELK_File file;
    if (!file.OpenFile(path, kModeReadExisting, kShareRead)) return -1;
    return FindPayloadOffset(file);
}
