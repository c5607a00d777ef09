// Writes a payload: header, extension block if asked for, records, end record and description.
// Output goes through a buffer; the header fields known only at the end (description offset,
// target CRC, the result's identity) are filled in when the payload is finished, so the output
// must be seekable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file/io_buffer.h"
#include "file/velk_xfile.h"
#include "format/extension_block.h"
#include "format/payload_format.h"

class CVELK_PayloadWriter {
public:
    // The payload starts at the output's current position.
    explicit CVELK_PayloadWriter(CVELK_xFile& output);

    bool Begin(int64_t patchedSize, uint32_t targetCrc, const char* magic = velk_format::kCurrentMagic);
    // Right after Begin: makes room for the extension block, so the records start at offset 72.
    // The block is written by Finish, with what SetResultIdentity gave (or left void without it).
    bool ReserveExtensionBlock();
    // For fields that are known only once the inputs have been read through.
    void SetTargetCrc(uint32_t crc);
    void SetResultIdentity(const VelkResultIdentity& identity);
    // Data at an absolute position: a relative record when the position is at most 2^32 - 1
    // past the previous record's, an absolute one otherwise. Length 1 to 65535.
    bool AddRecord(uint64_t position, const uint8_t* data, uint32_t length);
    // The two record types as they are, for payloads built by hand (length may be 0 here).
    bool AddRelative(uint32_t delta, const uint8_t* data, uint32_t length);
    bool AddAbsolute(uint64_t position, const uint8_t* data, uint32_t length);
    // End record, then the description (UTF-16LE with a terminating NUL) unless it is empty.
    bool Finish(const std::u16string& description);

    // Payload bytes produced so far.
    uint64_t Size() const { return m_written + m_fill; }

private:
    bool Put(const void* data, size_t length);
    bool Flush();

    CVELK_xFile& m_output;
    int64_t m_start = -1;
    // The header and the block as Finish writes them over what Begin put down.
    uint8_t m_header[velk_extension::kDataOffsetWithBlock] = {};
    uint32_t m_headerBytes = 0;
    VelkResultIdentity m_identity;
    bool m_hasIdentity = false;
    uint64_t m_position = 0;  // write position of the previous record
    uint64_t m_written = 0;
    // What is not yet written, in phase with where it goes (io_buffer.h).
    CVELK_IoBuffer m_buffer;
    uint8_t* m_pending;
    size_t m_fill = 0;
    bool m_ok = true;
};

// A description as a payload and a set hold it: UTF-16LE, then a NUL unit.
std::vector<uint8_t> DescriptionBytes(const std::u16string& description);

// A whole payload in memory, for tests and small tools.
struct VelkRecord {
    uint64_t position;
    std::vector<uint8_t> data;
};
// With `identity`, the payload carries the extension block.
std::vector<uint8_t> BuildPayload(int64_t patchedSize, uint32_t targetCrc,
                                  const std::vector<VelkRecord>& records,
                                  const std::u16string& description = std::u16string(),
                                  const VelkResultIdentity* identity = nullptr);
