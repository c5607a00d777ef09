// A set payload: one patch for a whole folder of files, applied all or nothing. It sits where a
// single payload sits (behind the patch program's image, or alone as a bare file). docs/format.md
// draws it; in short, all numbers little-endian, offsets counted from the set payload's start:
//
//   header     64 bytes: magic "VELK-SET1" (NUL-padded: a reader of single payloads finds no
//              version in it and refuses the whole file), entry count, the anchor's entry number,
//              the directory's offset and length, the description's offset (UTF-16LE ending in a
//              NUL unit, 0: none), the directory's CRC-32, flags; CRC-32 of the 60 bytes before.
//   directory  the entries one after another, in the order of their paths folded to one case:
//              entry length, kind (modify, create, delete), path length, the original's size and
//              CRC-32 (modify, delete), the result's size and CRC-32 (modify, create), the place
//              and length of the entry's payload (modify, create: an ordinary VELK-PATCH3.0
//              payload with its extension block; a created file is that payload applied to an
//              empty file), then the path: UTF-8, '/' between folders, relative to the set's root.
//   payloads and the description, anywhere after the header.
//
// The anchor is the file the user picks: a modified file. The set's root is its folder, less as
// many folders as its own path has. A directory is read entry by entry, in bounded memory
// whatever their number; its order makes two paths that differ only by case neighbours.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crc/crc32.h"
#include "file/velk_xfile.h"

namespace velk_set {

constexpr char kMagic[] = "VELK-SET1";
constexpr uint32_t kMagicBytes = 16;
constexpr uint32_t kHeaderBytes = 64;
constexpr uint32_t kEntryFixedBytes = 48;
// Long enough for any real folder tree; a longer path is a crafted set.
constexpr uint32_t kMaxPathBytes = 1024;

enum class Kind : uint8_t { kModify = 1, kCreate = 2, kDelete = 3 };

struct Header {
    uint32_t entries = 0;
    uint32_t anchor = 0;
    uint64_t directoryOffset = 0;
    uint64_t directoryBytes = 0;
    uint64_t descriptionOffset = 0;
    uint32_t directoryCrc = 0;
};

struct Entry {
    Kind kind = Kind::kModify;
    uint64_t originalSize = 0;
    uint32_t originalCrc = 0;
    uint64_t resultSize = 0;
    uint32_t resultCrc = 0;
    uint64_t payloadOffset = 0;  // 0 and 0 for a deleted file
    uint64_t payloadBytes = 0;
    uint32_t pathBytes = 0;
    char path[kMaxPathBytes + 1] = {};  // NUL-terminated
};

// Whether the payload at `setOffset` starts with a set's magic. Leaves the position unspecified.
bool IsSet(CVELK_xFile& source, int64_t setOffset);

void EncodeHeader(const Header& header, uint8_t out[kHeaderBytes]);
bool DecodeHeader(const uint8_t bytes[kHeaderBytes], Header* header);
// The entry's bytes; `out` holds kEntryFixedBytes + kMaxPathBytes. Returns their number.
uint32_t EncodeEntry(const Entry& entry, uint8_t* out);

// Reads a set's directory entry by entry and checks everything a crafted set could get wrong:
// the header's checksum, each entry's fields and path, their order (which refuses two paths that
// differ only by case), the payloads' places within the file, and at the end the directory's
// checksum and that the anchor is a modified file.
class CVELK_SetReader {
public:
    CVELK_SetReader(CVELK_xFile& source, int64_t setOffset) : m_source(source), m_setOffset(setOffset) {}
    CVELK_SetReader(const CVELK_SetReader&) = delete;
    CVELK_SetReader& operator=(const CVELK_SetReader&) = delete;

    // Reads and checks the header, and places the reader at the first entry.
    bool Start();
    const Header& SetHeader() const { return m_header; }
    // The next entry, or false at the end or a fault (Failed() tells which). Every entry has been
    // checked on its own; only once Next has said the end without a fault is the whole directory
    // known to be sound.
    bool Next(Entry* entry);
    bool Failed() const { return m_failed; }
    // The entry's number, counted from 0, after Next.
    uint32_t Index() const { return m_index - 1; }

private:
    bool Fail();

    CVELK_xFile& m_source;
    int64_t m_setOffset;
    int64_t m_sourceSize = 0;
    Header m_header;
    uint64_t m_read = 0;  // directory bytes read so far
    uint32_t m_index = 0;
    _m_CRC32 m_directoryCrc;
    bool m_anchorSeen = false;
    bool m_failed = false;
    char m_previous[kMaxPathBytes] = {};  // the previous entry's path, folded
    size_t m_previousBytes = 0;
};

}  // namespace velk_set
