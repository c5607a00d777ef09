// Writes record data into the target at absolute positions, with few system calls.
//
// Records that lie close together are gathered in a write-back window: the window is opened at a
// record, the file's bytes between neighbouring records are read into it, the records are patched
// in memory, and the covered stretch goes back to the file in one positioned write when a record
// arrives that does not fit. An isolated record therefore costs one positioned write, as without
// the window, while a dense run of records costs a read and a write per window. Unchanged bytes
// are rewritten only in gaps of at most `gapBytes` between records, never across large unchanged
// stretches of the image. The file ends up byte for byte as if every record had been written
// on its own, in order: overlapping records, records that go backwards and records past the end
// of the file (the gap before them reads as zeros) included.
#pragma once

#include <cstdint>

#include "file/io_buffer.h"
#include "file/velk_xfile.h"

enum class TargetWriteStatus { kOk, kSeekFailed, kWriteFailed };

class CVELK_TargetWriter {
public:
    static constexpr uint32_t kWindowBytes = 1u << 20;
    // Below this gap two writes cost more than rewriting the bytes between them.
    static constexpr uint32_t kGapBytes = 4096;
    // A gap the file must be read for is closed only when it is this short: a read costs as much
    // as the write it saves, so it pays only where the records it brings in come thick.
    static constexpr uint32_t kReadGapBytes = 1024;
    // How far past a gap the window reads, so that the next records find their bytes there:
    // doubling from the first to the last size while records keep landing in what was read.
    static constexpr uint32_t kFirstReadAheadBytes = 4096;
    static constexpr uint32_t kReadAheadBytes = 64u << 10;

    // A window of 0 bytes writes every record straight through.
    explicit CVELK_TargetWriter(CVELK_xFile& target, uint32_t windowBytes = kWindowBytes,
                                uint32_t gapBytes = kGapBytes);
    // Writes out what is still held; call Finish() to learn whether that worked.
    ~CVELK_TargetWriter();
    CVELK_TargetWriter(const CVELK_TargetWriter&) = delete;
    CVELK_TargetWriter& operator=(const CVELK_TargetWriter&) = delete;

    // A position that is negative as a signed 64-bit value cannot be sought to: kSeekFailed, after
    // everything before it has reached the file. A failure to write out held records is reported
    // by the call that writes them out.
    TargetWriteStatus Write(uint64_t position, const uint8_t* data, uint32_t length);
    // Writes out whatever is still held back.
    TargetWriteStatus Finish() { return Flush(); }

private:
    bool WindowOpen() const { return m_dirtyLo < m_dirtyHi; }
    bool Absorb(int64_t position, const uint8_t* data, uint32_t length);
    void Open(int64_t position, const uint8_t* data, uint32_t length);
    bool FillFromFile(int64_t from, int64_t to);
    TargetWriteStatus Flush();
    TargetWriteStatus WriteThrough(int64_t position, const uint8_t* data, uint32_t length);
    void NoteWritten(int64_t end);

    CVELK_xFile& m_target;
    CVELK_IoBuffer m_window;
    uint32_t m_capacity = 0;
    uint32_t m_gapBytes;
    uint32_t m_readGapBytes;
    uint32_t m_readAhead = kFirstReadAheadBytes;
    // The file's size as this writer left it; -1 when unknown, which turns off reading gaps.
    int64_t m_knownSize;
    // Window in file positions: the buffer holds [m_base, m_base + m_capacity), m_base on a page
    // boundary so that the window is in phase with the file (io_buffer.h); of that,
    // [m_filledLo, m_filledHi) holds the file's bytes as they stand with the records applied, and
    // [m_dirtyLo, m_dirtyHi) is what goes back to the file.
    int64_t m_base = 0;
    int64_t m_filledLo = 0, m_filledHi = 0;
    int64_t m_dirtyLo = 0, m_dirtyHi = 0;
};
