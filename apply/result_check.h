// The CRC-32 of a patched target, known without reading the whole target again.
//
// The CRC of the original was just verified over the whole file. What the application changes is
// the bytes of the ranges its records write, the tail a shrink cuts off and whatever lies past the
// original's end. CRC-32 is linear: for two files of one length, CRC(A) ^ CRC(B) is the plain
// (uncomplemented, zero-started) CRC register of A ^ B, and a range's share of it is the register
// over the range moved to the end of the file by multiplying with x^(8 * bytes after it). So the
// result's CRC is the CRC of the part of the original both sizes keep, plus the ranges' old bytes
// and their new bytes (read back from the file after the last record), plus the CRC of everything
// past the kept part, read back whole. The kept part's CRC and the ranges' old bytes are taken
// from the CRC check's own read of the original, chunk by chunk as it goes by, so nothing is read
// for them again. Every
// byte the application wrote is read back from the file, so a write that did not land as it
// should shows as a mismatch. Where the ranges lie so thick that reading them twice would cost
// as much as the whole file, the whole patched file is read once instead.
#pragma once

#include <cstdint>
#include <vector>

#include "file/io_buffer.h"
#include "file/pacer.h"
#include "file/stretch_reader.h"
#include "file/velk_xfile.h"

class CVELK_ResultCheck : public CVELK_StretchObserver {
public:
    // At most this many ranges are held; beyond it, neighbouring ranges are merged across ever
    // larger gaps, which costs reading the gaps but keeps memory bounded whatever the payload.
    static constexpr size_t kMaxRanges = 1u << 16;
    // What reading one range costs besides its bytes, a positioned read in each pass, counted as
    // the bytes of cached file that copying and summing take as long (docs/benchmarks.md). Where
    // the ranges would cost as much as the whole file, the whole file is read instead.
    static constexpr int64_t kRangeCostBytes = 32 << 10;

    // For an original of `originalSize` bytes that the application sets to `patchedSize`.
    CVELK_ResultCheck(int64_t originalSize, int64_t patchedSize, int64_t rangeCostBytes = kRangeCostBytes,
                      size_t maxRanges = kMaxRanges);
    CVELK_ResultCheck(const CVELK_ResultCheck&) = delete;
    CVELK_ResultCheck& operator=(const CVELK_ResultCheck&) = delete;

    // A record's range, in any order and overlapping others as it likes; all of them before the
    // original is read.
    void Note(int64_t position, int64_t length);

    // The original, read through front to back before the target changes (StretchCrc from 0):
    // what the check needs of it is taken from its chunks.
    void Chunk(int64_t position, const uint8_t* data, uint32_t count, uint32_t crcBefore) override;
    // In place of that read, where the original's CRC-32 is known already (a set's member, which
    // the set's check read) and the result keeps all of it: reads the ranges' old bytes alone.
    // False where the target cannot be read, or the result cuts some of the original off.
    bool ReadRanges(CVELK_xFile& original, uint32_t originalCrc);
    bool KeepsTheOriginal() const { return m_keepsAll; }
    // After the last record: reads the ranges back and everything past the kept part. False when
    // the target cannot be read, or the original was not read through before; otherwise `crc` is
    // the CRC-32 of the target as it now stands.
    bool ReadAfter(CVELK_xFile& target, uint32_t* crc);

    // Long reads (the whole file, a cut-off tail, a grown part) go through `pacer`.
    void Pace(CVELK_Pacer* pacer) { m_pacer = pacer; }
    // True when a read pass ended because the pacer said to stop.
    bool Stopped() const { return m_stopped; }

    // Bytes the check read itself (the original's ranges where ReadRanges read them, the result's
    // after the records), for the benchmarks.
    int64_t BytesRead() const { return m_bytesRead; }

private:
    struct Range {
        int64_t from, to;
    };
    void Normalize();
    // Once every range is noted: sorted and merged, and whether the whole file is read instead.
    void Plan();
    // The plain CRC register advanced from `state` over the range's bytes in the kept part.
    bool RangeRegister(CVELK_xFile& target, const Range& range, uint32_t state, uint32_t* result);
    bool StretchCrc(CVELK_xFile& target, int64_t from, int64_t to, uint32_t* crc);

    int64_t m_kept;  // the part of the original that both sizes keep
    bool m_keepsAll;  // that part is the whole original
    std::vector<Range> m_ranges;
    int64_t m_rangeCost;
    size_t m_maxRanges;
    int64_t m_mergeGap;
    uint32_t m_keptCrc = 0;  // CRC-32 of the kept part of the original
    // The plain register of each range's old bytes: 4 bytes per range, at most kMaxRanges.
    std::vector<uint32_t> m_oldRegisters;
    bool m_planned = false;
    bool m_wholeFile = false;
    int64_t m_fed = 0;   // the original's bytes seen so far, from its start
    size_t m_next = 0;   // the first range whose old bytes are not all seen yet
    CVELK_IoBuffer m_buffer;
    int64_t m_bytesRead = 0;
    CVELK_Pacer* m_pacer = nullptr;
    bool m_stopped = false;
};
