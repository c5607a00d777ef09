#include "apply/result_check.h"

#include <algorithm>
#include <cstdint>

#include "apply/target_writer.h"
#include "crc/crc32.h"
#include "crc/crc32_combine.h"
#include "file/io.h"

namespace {

constexpr uint32_t kBufferBytes = 1u << 20;

}  // namespace

CVELK_ResultCheck::CVELK_ResultCheck(int64_t originalSize, int64_t patchedSize, int64_t rangeCostBytes,
                                     size_t maxRanges)
    : m_kept(std::max<int64_t>(std::min(originalSize, patchedSize), 0)),
      m_keepsAll(originalSize <= patchedSize),
      m_rangeCost(std::max<int64_t>(rangeCostBytes, 0)),
      m_maxRanges(std::max<size_t>(maxRanges, 2)),
      // Ranges closer than half a range's cost are read as one. Never closer than the target
      // writer's gap: it rewrites the unchanged bytes between records up to that far apart, and
      // those must be read back too.
      m_mergeGap(std::max<int64_t>(m_rangeCost / 2, CVELK_TargetWriter::kGapBytes))
{
}

void CVELK_ResultCheck::Note(int64_t position, int64_t length)
{
    if (position < 0 || length <= 0) return;
    const int64_t end = length > INT64_MAX - position ? INT64_MAX : position + length;
    // A patch made by create comes in increasing order: most ranges join the last one at once.
    if (!m_ranges.empty()) {
        Range& last = m_ranges.back();
        if (position >= last.from && position - last.to <= m_mergeGap) {
            last.to = std::max(last.to, end);
            return;
        }
    }
    m_ranges.push_back({position, end});
    if (m_ranges.size() <= m_maxRanges) return;
    Normalize();
    while (m_ranges.size() > m_maxRanges / 2) {
        m_mergeGap = m_mergeGap > INT64_MAX / 2 ? INT64_MAX : 2 * m_mergeGap;
        Normalize();
    }
}

// Sorted, and merged where they overlap or lie within the merge gap: each byte is read once.
void CVELK_ResultCheck::Normalize()
{
    // A heap sort: the library's smallest sort that stays O(n log n), for the patch program's size.
    const auto earlier = [](const Range& a, const Range& b) { return a.from < b.from; };
    std::make_heap(m_ranges.begin(), m_ranges.end(), earlier);
    std::sort_heap(m_ranges.begin(), m_ranges.end(), earlier);
    size_t kept = 0;
    for (const Range& r : m_ranges) {
        if (kept > 0 && r.from - m_ranges[kept - 1].to <= m_mergeGap)
            m_ranges[kept - 1].to = std::max(m_ranges[kept - 1].to, r.to);
        else
            m_ranges[kept++] = r;
    }
    m_ranges.resize(kept);
}

void CVELK_ResultCheck::Plan()
{
    if (m_planned) return;
    m_planned = true;
    Normalize();
    int64_t cost = 0;
    size_t inKept = 0;
    for (const Range& r : m_ranges) {
        if (r.from >= m_kept) break;
        cost += std::min(r.to, m_kept) - r.from + m_rangeCost;
        ++inKept;
    }
    m_wholeFile = cost >= m_kept;
    if (!m_wholeFile) m_oldRegisters.assign(inKept, 0);
}

void CVELK_ResultCheck::Chunk(int64_t position, const uint8_t* data, uint32_t count, uint32_t crcBefore)
{
    static const velk_crc32::ExtendFunction extend = velk_crc32::BestExtend();
    Plan();
    // Only a read from the start, in order, gives what the check needs.
    if (m_wholeFile || position != m_fed) return;
    const int64_t end = position + count;
    if (position < m_kept && m_kept <= end) {
        const auto n = static_cast<uint32_t>(m_kept - position);
        m_keptCrc = velk_crc32::Combine(crcBefore, _m_CRC32::Of(data, n), n);
    }
    // Each range's plain register from zero over its old bytes; ReadAfter moves them into place.
    for (; m_next < m_oldRegisters.size() && m_ranges[m_next].from < end; ++m_next) {
        const int64_t rangeEnd = std::min(m_ranges[m_next].to, m_kept);
        const int64_t from = std::max(m_ranges[m_next].from, position), to = std::min(rangeEnd, end);
        m_oldRegisters[m_next] = extend(m_oldRegisters[m_next], data + (from - position), static_cast<size_t>(to - from));
        if (rangeEnd > end) break;
    }
    m_fed = end;
}

bool CVELK_ResultCheck::ReadRanges(CVELK_xFile& original, uint32_t originalCrc)
{
    Plan();
    if (!m_keepsAll) return false;
    // Each range's plain register from zero over its old bytes, as Chunk gives them.
    if (!m_wholeFile) {
        if (!m_buffer && !m_buffer.AllocateInPhase(kBufferBytes)) return false;
        for (size_t i = 0; i < m_oldRegisters.size(); ++i)
            if (!RangeRegister(original, m_ranges[i], 0, &m_oldRegisters[i])) return false;
    }
    m_keptCrc = originalCrc;
    m_fed = m_kept;
    return true;
}

bool CVELK_ResultCheck::ReadAfter(CVELK_xFile& target, uint32_t* crc)
{
    Plan();
    const int64_t size = target.GetSize();
    if (m_wholeFile) return size >= 0 && StretchCrc(target, 0, size, crc);
    if (m_fed < m_kept || size < m_kept) return false;
    if (!m_buffer && !m_buffer.AllocateInPhase(kBufferBytes)) return false;
    // The register of (old ^ new) over the kept part, range after range: since the register is
    // linear, a range's new bytes fed on top of where the register stands, plus the range's old
    // register, give the same as feeding old ^ new.
    uint32_t changed = 0;
    int64_t at = 0;  // where the register stands
    for (size_t i = 0; i < m_oldRegisters.size(); ++i) {
        changed = velk_crc32::ExtendZeros(changed, static_cast<uint64_t>(m_ranges[i].from - at));
        if (!RangeRegister(target, m_ranges[i], changed, &changed)) return false;
        changed ^= m_oldRegisters[i];
        at = std::min(m_ranges[i].to, m_kept);
    }
    changed = velk_crc32::ExtendZeros(changed, static_cast<uint64_t>(m_kept - at));
    uint32_t restCrc = 0;
    if (!StretchCrc(target, m_kept, size, &restCrc)) return false;
    *crc = velk_crc32::Combine(m_keptCrc ^ changed, restCrc, static_cast<uint64_t>(size - m_kept));
    return true;
}

bool CVELK_ResultCheck::RangeRegister(CVELK_xFile& target, const Range& range, uint32_t state, uint32_t* result)
{
    static const velk_crc32::ExtendFunction extend = velk_crc32::BestExtend();
    const int64_t to = std::min(range.to, m_kept);
    for (int64_t from = range.from; from < to;) {
        const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(to - from, kBufferBytes));
        uint8_t* const data = m_buffer.InPhase(from);
        if (velk_io::ReadFullyAt(target, from, data, n) != n) return false;
        state = extend(state, data, n);
        from += n;
    }
    m_bytesRead += to - range.from;
    *result = state;
    return true;
}

bool CVELK_ResultCheck::StretchCrc(CVELK_xFile& target, int64_t from, int64_t to, uint32_t* crc)
{
    switch (::StretchCrc(target, from, to, m_pacer, crc)) {
    case StretchCrcVerdict::kComputed: break;
    case StretchCrcVerdict::kStopped: m_stopped = true; return false;
    case StretchCrcVerdict::kReadFailed: return false;
    }
    if (to > from) m_bytesRead += to - from;
    return true;
}
