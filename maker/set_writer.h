// Writes a set payload (format/set_format.h) at an output's position: the payloads of its files
// as they come, then the directory, the description and, last, the header at the start. The
// files must come in the directory's order; the writer takes their paths as they are, so that
// tests can write sets no builder would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file/velk_xfile.h"
#include "format/set_format.h"
#include "maker/patch_builder.h"

class CVELK_SetWriter {
public:
    explicit CVELK_SetWriter(CVELK_xFile& output) : m_output(output) {}
    CVELK_SetWriter(const CVELK_SetWriter&) = delete;
    CVELK_SetWriter& operator=(const CVELK_SetWriter&) = delete;

    // Leaves room for the header. False when the output cannot be written.
    bool Begin();
    // A file the set modifies (from `original`) or creates (`original` null): its payload is made
    // now, from the whole of both files.
    VelkBuildStatus AddChanged(const std::string& path, CVELK_xFile* original, CVELK_xFile& modified,
                               CVELK_BuildProgress* progress = nullptr);
    // A file the set deletes, with its size and CRC-32.
    void AddDeleted(const std::string& path, int64_t size, uint32_t crc);
    // The directory, the description (none when empty) and the header; `anchor` numbers an entry.
    bool Finish(uint32_t anchor, const std::u16string& description);

    size_t Files() const { return m_entries.size(); }
    int64_t ResultSize(size_t file) const { return m_entries[file].resultSize; }
    uint64_t Bytes() const { return m_bytes; }  // the whole set, once finished

private:
    struct File {
        velk_set::Kind kind;
        std::string path;
        int64_t originalSize = 0, resultSize = 0;
        uint32_t originalCrc = 0, resultCrc = 0;
        uint64_t payloadOffset = 0, payloadBytes = 0;
    };

    CVELK_xFile& m_output;
    int64_t m_start = -1;
    std::vector<File> m_entries;
    uint64_t m_bytes = 0;
};
