#include "apply/target_writer.h"

#include <algorithm>
#include <cstring>

#include "file/io.h"

namespace {

// Records beyond this position are written straight through: the platform may refuse such
// positions, and it must do so at that record, as it would without the window.
constexpr int64_t kLargestWindowedEnd = int64_t(1) << 50;

}  // namespace

CVELK_TargetWriter::CVELK_TargetWriter(CVELK_xFile& target, uint32_t windowBytes, uint32_t gapBytes)
    : m_target(target), m_gapBytes(gapBytes), m_readGapBytes(std::min(gapBytes, kReadGapBytes)),
      m_knownSize(target.GetSize())
{
    // The window must hold the longest record with room before it for records that step back.
    if (windowBytes >= 2 * 65536u && m_window.Allocate(windowBytes)) m_capacity = windowBytes;
    if (!m_target.CanRead()) m_knownSize = -1;
}

CVELK_TargetWriter::~CVELK_TargetWriter()
{
    Flush();
}

TargetWriteStatus CVELK_TargetWriter::Write(uint64_t position, const uint8_t* data, uint32_t length)
{
    const auto at = static_cast<int64_t>(position);
    if (at < 0 || m_capacity == 0 || at > kLargestWindowedEnd - 65536) {
        const TargetWriteStatus held = Flush();
        if (held != TargetWriteStatus::kOk) return held;
        return WriteThrough(at, data, length);
    }
    if (length == 0) return TargetWriteStatus::kOk;
    if (WindowOpen()) {
        if (Absorb(at, data, length)) return TargetWriteStatus::kOk;
        const TargetWriteStatus held = Flush();
        if (held != TargetWriteStatus::kOk) return held;
    }
    Open(at, data, length);
    return TargetWriteStatus::kOk;
}

void CVELK_TargetWriter::Open(int64_t position, const uint8_t* data, uint32_t length)
{
    // A little room before the record, for patches whose records step back a few bytes.
    const int64_t slack = std::min<int64_t>(position, m_capacity / 16);
    m_base = (position - slack) & ~static_cast<int64_t>(CVELK_IoBuffer::kPageBytes - 1);
    std::memcpy(m_window.Data() + (position - m_base), data, length);
    m_filledLo = m_dirtyLo = position;
    m_filledHi = m_dirtyHi = position + length;
    m_readAhead = kFirstReadAheadBytes;
}

bool CVELK_TargetWriter::Absorb(int64_t position, const uint8_t* data, uint32_t length)
{
    const int64_t end = position + length;
    if (position < m_base || end > m_base + m_capacity) return false;
    if (position > m_dirtyHi + m_gapBytes || end + m_gapBytes < m_dirtyLo) return false;

    // Every byte between the record and the held stretch must be known before it is rewritten.
    if (position > m_filledHi + m_readGapBytes || end + m_readGapBytes < m_filledLo) return false;
    int64_t filledHi = m_filledHi;
    if (position > m_filledHi) {
        filledHi = std::min(m_base + m_capacity, std::max<int64_t>(end, m_filledHi + m_readAhead));
        if (!FillFromFile(m_filledHi, filledHi)) return false;
        m_readAhead = std::min(2 * m_readAhead, kReadAheadBytes);
    }
    if (end < m_filledLo && !FillFromFile(end, m_filledLo)) return false;

    std::memcpy(m_window.Data() + (position - m_base), data, length);
    m_filledLo = std::min(m_filledLo, position);
    m_filledHi = std::max(filledHi, end);
    m_dirtyLo = std::min(m_dirtyLo, position);
    m_dirtyHi = std::max(m_dirtyHi, end);
    return true;
}

// Reads [from, to) of the file into the window. Bytes past the end of the file are zeros: that is
// what the file holds there once a later record extends it.
bool CVELK_TargetWriter::FillFromFile(int64_t from, int64_t to)
{
    if (m_knownSize < 0) return false;
    uint8_t* out = m_window.Data() + (from - m_base);
    const int64_t stored = std::max<int64_t>(0, std::min(to, m_knownSize) - from);
    const auto count = static_cast<uint32_t>(stored);
    if (count > 0 && velk_io::ReadFullyAt(m_target, from, out, count) != count) return false;
    std::memset(out + stored, 0, static_cast<size_t>(to - from - stored));
    return true;
}

TargetWriteStatus CVELK_TargetWriter::Flush()
{
    if (!WindowOpen()) return TargetWriteStatus::kOk;
    const int64_t lo = m_dirtyLo, hi = m_dirtyHi;
    m_dirtyLo = m_dirtyHi = 0;  // whatever happens, the window is spent
    if (!velk_io::WriteFullyAt(m_target, lo, m_window.Data() + (lo - m_base), static_cast<uint32_t>(hi - lo)))
        return TargetWriteStatus::kWriteFailed;
    NoteWritten(hi);
    return TargetWriteStatus::kOk;
}

TargetWriteStatus CVELK_TargetWriter::WriteThrough(int64_t position, const uint8_t* data, uint32_t length)
{
    if (position < 0) return TargetWriteStatus::kSeekFailed;
    if (m_target.WriteAt(position, data, length) != length) return TargetWriteStatus::kWriteFailed;
    NoteWritten(position + length);
    return TargetWriteStatus::kOk;
}

void CVELK_TargetWriter::NoteWritten(int64_t end)
{
    if (m_knownSize >= 0 && end > m_knownSize) m_knownSize = end;
}
