#include "journal/journal_player.h"

#include <algorithm>
#include <cstring>

#include "crc/crc32.h"
#include "file/io.h"
#include "journal/journal_samples.h"

using namespace velk_journal;

CVELK_JournalPlayer::CVELK_JournalPlayer(CVELK_xFile& journal, CVELK_Pacer* pacer)
    : m_journal(journal), m_pacer(pacer)
{
}

bool CVELK_JournalPlayer::ReadJournal(int64_t position, uint8_t* buffer, uint32_t count)
{
    const bool read = velk_io::ReadFullyAt(m_journal, position, buffer, count) == count;
    m_readFailed = m_readFailed || !read;
    return read;
}

JournalVerdict CVELK_JournalPlayer::Examine(bool blocks)
{
    const int64_t size = m_journal.GetSize();
    m_readFailed = size < 0;
    if (size < 0) return JournalVerdict::kUnusable;
    uint8_t header[kHeaderBytes] = {};
    const auto headerBytes = static_cast<uint32_t>(size < kHeaderBytes ? size : kHeaderBytes);
    if (headerBytes > 0 && !ReadJournal(0, header, headerBytes)) return JournalVerdict::kUnusable;
    if (IsUnwrittenHeader(header, headerBytes)) return JournalVerdict::kUnwritten;
    if (!DecodeHeader(header, headerBytes, &m_header)) return JournalVerdict::kUnusable;
    switch (m_header.state) {
    case State::kWriting: return JournalVerdict::kWriting;
    case State::kDone: return JournalVerdict::kDone;
    case State::kKept: return JournalVerdict::kKept;
    case State::kSealed: break;
    }
    return blocks ? ExamineSealed(size) : JournalVerdict::kPlayable;
}

JournalVerdict CVELK_JournalPlayer::ExamineKept()
{
    const int64_t size = m_journal.GetSize();
    return size < 0 ? JournalVerdict::kUnusable : ExamineSealed(size);
}

// A sealed journal was whole when it was sealed: whatever is missing or wrong now was done to it
// since, and it is damaged, never "incomplete".
JournalVerdict CVELK_JournalPlayer::ExamineSealed(int64_t size)
{
    uint8_t trailer[kTrailerBytes];
    if (size < int64_t(kHeaderBytes) + kTrailerBytes || !ReadJournal(size - kTrailerBytes, trailer, kTrailerBytes))
        return JournalVerdict::kDamaged;
    if (!DecodeTrailer(trailer, &m_trailer) || m_trailer.nonce != m_header.nonce ||
        m_trailer.blockBytes != size - kHeaderBytes - kTrailerBytes)
        return JournalVerdict::kDamaged;
    // No block is longer than the journal.
    if (!m_block.AllocateInPhase(static_cast<size_t>(std::min<int64_t>(kBlockBytes, size))))
        return JournalVerdict::kUnusable;
    return WalkBlocks(nullptr) ? JournalVerdict::kPlayable : JournalVerdict::kDamaged;
}

bool CVELK_JournalPlayer::Belongs(const VelkFileFacts* target) const
{
    if (m_header.index == 0) return true;  // written where files have no lasting identity
    return target && target->index == m_header.index && target->volume == m_header.volume;
}

JournalFit CVELK_JournalPlayer::Fits(CVELK_xFile& target)
{
    const int64_t size = target.GetSize();
    if (size < 0) return JournalFit::kTargetReadFailed;
    // After a power cut the resize and any write past the old end may each have reached the disk
    // or not, so any size between the smallest and the largest the application could set is one
    // it may have left.
    if (size < std::min(m_header.oldSize, m_header.patchedSize) || size > std::max(m_header.oldSize, m_header.largestSize))
        return JournalFit::kDoesNotFit;
    for (uint32_t i = 0; i < m_trailer.sampleCount; ++i) {
        switch (CVELK_JournalSamples::Check(m_trailer.samples[i], m_header, target, size)) {
        case CVELK_JournalSamples::Agreement::kAgrees: break;
        case CVELK_JournalSamples::Agreement::kDisagrees: return JournalFit::kDoesNotFit;
        case CVELK_JournalSamples::Agreement::kReadFailed: return JournalFit::kTargetReadFailed;
        }
    }
    return JournalFit::kFits;
}

bool CVELK_JournalPlayer::PlayBack(CVELK_xFile& target)
{
    // The size first: a shrink's tail is written back into the restored length, and nothing an
    // extension added survives. A size that is right already is left alone (a target that cannot
    // be resized at all, such as a pipe, fails at the resize and is put back by doing nothing).
    const int64_t size = target.GetSize();
    if (size < 0 || (size != m_header.oldSize && !target.SetSize(m_header.oldSize))) return false;
    return WalkBlocks(&target) && target.Flush();
}

// Where no memory is left for the copy, the bytes are written from the block as they lie.
bool CVELK_JournalPlayer::WriteBack(CVELK_xFile& target, int64_t position, const uint8_t* data, uint32_t count)
{
    if (!m_stage) m_stage.AllocateInPhase(kBlockBytes);
    if (m_stage) {
        std::memcpy(m_stage.InPhase(position), data, count);
        data = m_stage.InPhase(position);
    }
    return velk_io::WriteFullyAt(target, position, data, count);
}

bool CVELK_JournalPlayer::WalkBlocks(CVELK_xFile* target)
{
    _m_CRC32 all;
    uint32_t allCrc = 0;
    uint64_t blocks = 0;
    const int64_t end = kHeaderBytes + m_trailer.blockBytes;
    // The first pass reads, the second writes.
    const int64_t passed = target ? m_trailer.blockBytes : 0;
    for (int64_t at = kHeaderBytes; at < end; ++blocks) {
        if (m_pacer) m_pacer->Progress(passed + at - kHeaderBytes, 2 * m_trailer.blockBytes);
        uint8_t head[kBlockHeaderBytes];
        if (end - at < kBlockHeaderBytes || !ReadJournal(at, head, kBlockHeaderBytes)) return false;
        const auto length = static_cast<uint32_t>(velk_io::LoadLE(head, 4));
        if (length == 0 || length > kBlockBytes || length > end - at - kBlockHeaderBytes) return false;
        uint8_t* const block = m_block.InPhase(at + kBlockHeaderBytes);
        if (!ReadJournal(at + kBlockHeaderBytes, block, length)) return false;
        if (_m_CRC32::Of(block, length) != velk_io::LoadLE(head + 4, 4)) return false;
        all.Update(head, kBlockHeaderBytes);
        allCrc = all.Update(block, length);
        at += kBlockHeaderBytes + length;

        for (uint32_t offset = 0; offset < length;) {
            if (length - offset < kEntryHeaderBytes) return false;
            const uint8_t* entry = block + offset;
            const auto position = static_cast<int64_t>(velk_io::LoadLE(entry, 8));
            const auto bytes = static_cast<uint32_t>(velk_io::LoadLE(entry + 8, 4));
            offset += kEntryHeaderBytes;
            if (bytes > length - offset || position < 0 || position > m_header.oldSize - bytes) return false;
            if (target && !WriteBack(*target, position, entry + kEntryHeaderBytes, bytes)) return false;
            offset += bytes;
        }
    }
    return blocks == m_trailer.blocks && allCrc == m_trailer.blocksCrc;
}
