#include "maker/patch_builder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "crc/crc32.h"
#include "file/io.h"
#include "file/io_buffer.h"
#include "file/stretch_reader.h"
#include "format/payload_format.h"

namespace {

using velk_format::kMaxRecordData;

// An equal gap shorter than a record's overhead is cheaper to carry inside the record than to
// close the record and open a new one after it.
constexpr uint32_t kMergeGap = velk_format::kRelativeRecordOverhead;
// Bytes of the previous block kept in front of the current one, so that a merged gap that
// started in the previous block can still be copied from the modified buffer.
constexpr uint32_t kGuardBytes = 8;
static_assert(kGuardBytes >= kMergeGap - 1, "the guard must hold the longest merged gap");

constexpr uint32_t kPage = CVELK_IoBuffer::kPageBytes;

// Equal stretches are skipped a stride at a time; memcmp on a few KiB is vectorised by libc.
constexpr size_t kSkipStride = 4096;

size_t FindMismatch(const uint8_t* a, const uint8_t* b, size_t i, size_t n)
{
    while (n - i >= kSkipStride && std::memcmp(a + i, b + i, kSkipStride) == 0) i += kSkipStride;
    while (n - i >= 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) break;
        i += 8;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

size_t FindMatch(const uint8_t* a, const uint8_t* b, size_t i, size_t n)
{
    while (i < n && a[i] != b[i]) ++i;
    return i;
}

}  // namespace

// Turns changed runs, in increasing position, into records: a run that follows the open record
// after a gap shorter than kMergeGap joins it (the gap's bytes are carried along), and no record
// grows beyond the format's 65535 data bytes.
class CVELK_PatchBuilder::RecordPlanner {
public:
    RecordPlanner(CVELK_PayloadWriter& writer, VelkBuildStats& stats, uint8_t* buffer)
        : m_writer(writer), m_stats(stats), m_data(buffer)
    {
    }

    // `data` holds the modified bytes of the run; the kMergeGap - 1 bytes before it must be
    // readable too (they are the gap a merge carries).
    bool Add(uint64_t position, const uint8_t* data, uint32_t length)
    {
        m_stats.changedBytes += length;
        if (m_open) {
            const uint64_t gap = position - (m_start + m_length);
            if (gap >= kMergeGap || m_length + gap >= kMaxRecordData) {
                // A full record is closed rather than split inside an equal gap.
                if (!Close()) return false;
            } else {
                Append(data - gap, static_cast<uint32_t>(gap));
            }
        }
        if (!m_open) Open(position);
        while (length > 0) {
            const uint32_t take = std::min(length, kMaxRecordData - m_length);
            Append(data, take);
            data += take;
            length -= take;
            if (m_length == kMaxRecordData) {
                const uint64_t next = m_start + m_length;
                if (!Close()) return false;
                if (length > 0) Open(next);
            }
        }
        return true;
    }

    bool Close()
    {
        if (!m_open || m_length == 0) {
            m_open = false;
            return true;
        }
        m_open = false;
        ++m_stats.records;
        m_stats.recordDataBytes += m_length;
        return m_writer.AddRecord(m_start, m_data, m_length);
    }

private:
    void Open(uint64_t position)
    {
        m_open = true;
        m_start = position;
        m_length = 0;
    }
    void Append(const uint8_t* data, uint32_t length)
    {
        std::memcpy(m_data + m_length, data, length);
        m_length += length;
    }

    CVELK_PayloadWriter& m_writer;
    VelkBuildStats& m_stats;
    uint8_t* m_data;  // kMaxRecordData bytes
    bool m_open = false;
    uint64_t m_start = 0;
    uint32_t m_length = 0;
};

CVELK_PatchBuilder::CVELK_PatchBuilder(CVELK_xFile& original, CVELK_xFile& modified, uint32_t blockBytes)
    : m_original(original), m_modified(modified),
      m_blockBytes((std::min(std::max<uint32_t>(blockBytes, kPage), 1u << 30) + kPage - 1) & ~(kPage - 1))
{
}

CVELK_PatchBuilder::~CVELK_PatchBuilder() = default;

bool CVELK_PatchBuilder::ReportProgress(int64_t done, int64_t total)
{
    return m_progress == nullptr || m_progress->OnProgress(done, total);
}

VelkBuildStatus CVELK_PatchBuilder::CheckEnd(CVELK_xFile& input, int64_t size, VelkBuildStatus readFailed,
                                             VelkBuildStatus changed)
{
    uint8_t byte;
    if (!input.Seek(size)) return readFailed;
    return input.Read(&byte, 1) == 0 ? VelkBuildStatus::kOk : changed;
}

bool CVELK_PatchBuilder::CompareBlock(uint64_t base, const uint8_t* original, const uint8_t* modified,
                                      uint32_t length, RecordPlanner& planner)
{
    size_t i = 0;
    for (;;) {
        i = FindMismatch(original, modified, i, length);
        if (i == length) return true;
        const size_t end = FindMatch(original, modified, i, length);
        if (!planner.Add(base + i, modified + i, static_cast<uint32_t>(end - i))) return false;
        i = end;
    }
}

// Both inputs read through, block by block, and their changed runs handed to the planner. The
// original is read ahead on a thread of its own, a block a chunk, while the modified file is read
// and compared here; past the part both have it is read only for its CRC.
VelkBuildStatus CVELK_PatchBuilder::CompareInputs(int64_t originalSize, int64_t modifiedSize, RecordPlanner& planner,
                                                  uint32_t* originalCrc, uint32_t* modifiedCrc)
{
    // The modified block's guard lies at the end of a page of its own in front of it. The
    // original's block is used only where the original ends: there it is padded with zeros.
    CVELK_IoBuffer paddedBlock, modifiedBlock;
    if (!paddedBlock.Allocate(m_blockBytes) || !modifiedBlock.Allocate(kPage + m_blockBytes))
        return VelkBuildStatus::kNoMemory;
    uint8_t* const modifiedData = modifiedBlock.Data() + kPage;
    uint8_t* const guard = modifiedData - kGuardBytes;
    std::memset(guard, 0, kGuardBytes);

    // Bytes of the original past its end read as zeros: that is what the resize leaves there,
    // so zero bytes of the modified file past that point need no record.
    const int64_t common = std::min(originalSize, modifiedSize);
    const int64_t total = m_checkCrc ? std::max(originalSize, modifiedSize) : modifiedSize;
    const int64_t originalEnd = m_checkCrc ? originalSize : common;
    CVELK_StretchReader original(m_original, 0, originalEnd, m_blockBytes, &m_original != &m_modified);
    _m_CRC32 crc, modified;
    int64_t originalRead = 0;
    for (int64_t position = 0; position < modifiedSize;) {
        if (!ReportProgress(position, total)) return VelkBuildStatus::kCancelled;
        const auto length = static_cast<uint32_t>(std::min<int64_t>(m_blockBytes, modifiedSize - position));
        if (velk_io::ReadFully(m_modified, modifiedData, length) != length) return VelkBuildStatus::kModifiedReadFailed;
        *modifiedCrc = modified.Update(modifiedData, length);
        const auto fromOriginal = static_cast<uint32_t>(std::max<int64_t>(0, std::min<int64_t>(length, common - position)));
        const uint8_t* originalData = paddedBlock.Data();
        if (fromOriginal > 0) {
            uint32_t count = 0;
            const uint8_t* chunk = original.Next(&count);
            if (chunk == nullptr) return VelkBuildStatus::kOriginalReadFailed;
            *originalCrc = crc.Update(chunk, count);
            originalRead += count;
            if (fromOriginal == length) originalData = chunk;
            else std::memcpy(paddedBlock.Data(), chunk, fromOriginal);
        }
        if (fromOriginal < length) std::memset(paddedBlock.Data() + fromOriginal, 0, length - fromOriginal);

        if (!CompareBlock(static_cast<uint64_t>(position), originalData, modifiedData, length, planner))
            return VelkBuildStatus::kOutputWriteFailed;
        // Every block but the last is at least kGuardBytes long.
        if (length >= kGuardBytes) std::memcpy(guard, modifiedData + length - kGuardBytes, kGuardBytes);
        position += length;
    }
    // The part of a longer original that the modified file drops still counts in its CRC.
    while (originalRead < originalEnd) {
        if (!ReportProgress(originalRead, total)) return VelkBuildStatus::kCancelled;
        uint32_t count = 0;
        const uint8_t* chunk = original.Next(&count);
        if (chunk == nullptr) return VelkBuildStatus::kOriginalReadFailed;
        *originalCrc = crc.Update(chunk, count);
        originalRead += count;
    }
    return planner.Close() ? VelkBuildStatus::kOk : VelkBuildStatus::kOutputWriteFailed;
}

VelkBuildStatus CVELK_PatchBuilder::Build(CVELK_xFile& output)
{
    m_stats = VelkBuildStats();
    const int64_t originalSize = m_original.GetSize();
    const int64_t modifiedSize = m_modified.GetSize();
    if (originalSize < 0 || !m_original.Seek(0)) return VelkBuildStatus::kOriginalReadFailed;
    if (modifiedSize < 0 || !m_modified.Seek(0)) return VelkBuildStatus::kModifiedReadFailed;
    std::unique_ptr<uint8_t[]> recordData(new (std::nothrow) uint8_t[kMaxRecordData]);
    if (!recordData) return VelkBuildStatus::kNoMemory;

    CVELK_PayloadWriter writer(output);
    if (!writer.Begin(modifiedSize, 0) || !writer.ReserveExtensionBlock())
        return VelkBuildStatus::kOutputWriteFailed;
    RecordPlanner planner(writer, m_stats, recordData.get());
    uint32_t originalCrc = 0;
    VelkResultIdentity identity;
    identity.originalSize = static_cast<uint64_t>(originalSize);
    if (m_keepUndo) identity.flags |= velk_extension::kFlagKeepUndo;
    const VelkBuildStatus compared = CompareInputs(originalSize, modifiedSize, planner, &originalCrc, &identity.resultCrc);
    if (compared != VelkBuildStatus::kOk) return compared;

    // A size that did not tell the whole file leaves records and the CRC short of it.
    VelkBuildStatus end = CheckEnd(m_original, originalSize, VelkBuildStatus::kOriginalReadFailed,
                                   VelkBuildStatus::kOriginalChanged);
    if (end == VelkBuildStatus::kOk)
        end = CheckEnd(m_modified, modifiedSize, VelkBuildStatus::kModifiedReadFailed, VelkBuildStatus::kModifiedChanged);
    if (end != VelkBuildStatus::kOk) return end;

    // Without the check, what was summed of the original is only the part both files share.
    if (!m_checkCrc) originalCrc = 0;
    writer.SetTargetCrc(originalCrc);
    writer.SetResultIdentity(identity);
    if (!writer.Finish(m_description)) return VelkBuildStatus::kOutputWriteFailed;
    m_stats.payloadBytes = writer.Size();
    m_stats.originalCrc = originalCrc;
    m_stats.resultCrc = identity.resultCrc;
    const int64_t total = m_checkCrc ? std::max(originalSize, modifiedSize) : modifiedSize;
    ReportProgress(total, total);
    return VelkBuildStatus::kOk;
}
