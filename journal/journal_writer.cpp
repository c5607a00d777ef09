#include "journal/journal_writer.h"

#include <algorithm>
#include <cstring>

#include "file/io.h"

using namespace velk_journal;

namespace {

constexpr uint32_t kReadBytes = 1u << 20;
constexpr uint32_t kFirstReadAhead = 4096;

}  // namespace

CVELK_JournalWriter::CVELK_JournalWriter(CVELK_xFile& journal, CVELK_xFile& target, const Header& header,
                                         CVELK_Pacer& pacer)
    : m_journal(journal), m_target(target), m_header(header), m_pacer(pacer),
      m_kept(std::min(header.oldSize, header.patchedSize)), m_readAhead(kFirstReadAhead), m_samples(header)
{
    m_header.state = State::kWriting;
    m_trailer.nonce = header.nonce;
}

bool RewriteJournalState(CVELK_xFile& journal, Header header, State state)
{
    header.state = state;
    uint8_t bytes[kHeaderBytes];
    EncodeHeader(header, bytes);
    return journal.Seek(0) && journal.Write(bytes, kHeaderBytes) == kHeaderBytes && journal.Flush();
}

JournalStatus CVELK_JournalWriter::Begin()
{
    // A small target needs small buffers (what it saves fits, entry headers aside).
    const int64_t saved = m_header.oldSize + 65536;
    m_blockCapacity = kBlockHeaderBytes + static_cast<uint32_t>(std::min<int64_t>(kBlockBytes, saved));
    m_readCapacity = static_cast<uint32_t>(std::min<int64_t>(kReadBytes, saved));
    if (!m_blockBuffer.AllocateInPhase(m_blockCapacity) || !m_readBuffer.AllocateInPhase(m_readCapacity))
        return JournalStatus::kJournalFailed;
    m_block = m_blockBuffer.InPhase(kHeaderBytes);
    // Durable before anything else is written, so that whatever a power cut leaves at the name
    // has either no whole header yet or this one (undo_journal.h).
    uint8_t header[kHeaderBytes];
    EncodeHeader(m_header, header);
    return velk_io::WriteFully(m_journal, header, kHeaderBytes) && m_journal.Flush() ? JournalStatus::kOk : JournalStatus::kJournalFailed;
}

JournalStatus CVELK_JournalWriter::Note(int64_t position, const uint8_t* data, uint32_t length)
{
    m_samples.Note(position, data, length);
    return Save(position, position + std::min<int64_t>(length, INT64_MAX - position));
}

JournalStatus CVELK_JournalWriter::Save(int64_t from, int64_t to)
{
    to = std::min(to, m_kept);
    if (from >= to) return JournalStatus::kOk;
    if (m_heldFrom < m_heldTo && from <= m_heldTo + kMergeGapBytes && to + kMergeGapBytes >= m_heldFrom) {
        m_heldFrom = std::min(m_heldFrom, from);
        m_heldTo = std::max(m_heldTo, to);
        return JournalStatus::kOk;
    }
    const JournalStatus held = SaveNow(m_heldFrom, m_heldTo);
    m_heldFrom = from;
    m_heldTo = to;
    return held;
}

JournalStatus CVELK_JournalWriter::Finish()
{
    JournalStatus status = SaveNow(m_heldFrom, m_heldTo);
    m_heldFrom = m_heldTo = 0;
    if (status == JournalStatus::kOk && m_header.patchedSize < m_header.oldSize)
        status = SaveNow(m_header.patchedSize, m_header.oldSize, true);
    if (status != JournalStatus::kOk) return status;
    if (!CloseBlock()) return JournalStatus::kJournalFailed;
    return MarkComplete();
}

// Copies the target's bytes [from, to) into entries, block by block.
JournalStatus CVELK_JournalWriter::SaveNow(int64_t from, int64_t to, bool report)
{
    const int64_t start = from;
    while (from < to) {
        if (m_blockUsed + kEntryHeaderBytes >= m_blockCapacity) {
            if (!CloseBlock()) return JournalStatus::kJournalFailed;
            if (report) m_pacer.Progress(from - start, to - start);
            if (m_pacer.StopRequested()) return JournalStatus::kStopped;
        }
        if (from < m_readFrom || from >= m_readTo) {
            if (!Fill(from, to - from)) return JournalStatus::kTargetReadFailed;
        }
        const uint32_t room = m_blockCapacity - m_blockUsed - kEntryHeaderBytes;
        const auto length = static_cast<uint32_t>(std::min<int64_t>({to - from, m_readTo - from, room}));
        uint8_t* entry = m_block + m_blockUsed;
        velk_io::StoreLE(entry, static_cast<uint64_t>(from), 8);
        velk_io::StoreLE(entry + 8, length, 4);
        std::memcpy(entry + kEntryHeaderBytes, m_read + (from - m_readFrom), length);
        m_blockUsed += kEntryHeaderBytes + length;
        from += length;
    }
    return JournalStatus::kOk;
}

// Reads from `from` on: what the range needs, and more while ranges keep arriving close behind
// the previous read.
bool CVELK_JournalWriter::Fill(int64_t from, int64_t need)
{
    const bool close = m_readTo > 0 && from >= m_readTo && from - m_readTo < m_readAhead;
    m_readAhead = close ? std::min(2 * m_readAhead, kReadBytes) : kFirstReadAhead;
    const int64_t length =
        std::min<int64_t>({std::max<int64_t>(need, m_readAhead), m_readCapacity, m_header.oldSize - from});
    const auto count = static_cast<uint32_t>(length);
    uint8_t* const into = m_readBuffer.InPhase(from);
    if (velk_io::ReadFullyAt(m_target, from, into, count) != count) {
        m_readFrom = m_readTo = 0;
        return false;
    }
    m_read = into;
    m_readFrom = from;
    m_readTo = from + length;
    return true;
}

bool CVELK_JournalWriter::CloseBlock()
{
    const uint32_t payload = m_blockUsed - kBlockHeaderBytes;
    if (payload == 0) return true;
    uint8_t* block = m_block;
    velk_io::StoreLE(block, payload, 4);
    velk_io::StoreLE(block + 4, _m_CRC32::Of(block + kBlockHeaderBytes, payload), 4);
    if (!velk_io::WriteFully(m_journal, block, m_blockUsed)) return false;
    m_trailer.blocksCrc = m_blocksCrc.Update(block, m_blockUsed);
    m_trailer.blocks += 1;
    m_trailer.blockBytes += m_blockUsed;
    m_blockUsed = kBlockHeaderBytes;
    m_block = m_blockBuffer.InPhase(kHeaderBytes + m_trailer.blockBytes);
    return true;
}

// The samples are read now, while the target is as it was. The blocks and the trailer that
// vouches for them are made durable together: until the header says "sealed", which is written
// only after that flush, a journal cut short anywhere in them is one being written, and removed.
JournalStatus CVELK_JournalWriter::MarkComplete()
{
    if (!m_samples.Choose(m_target, &m_trailer)) return JournalStatus::kTargetReadFailed;
    uint8_t trailer[kTrailerBytes];
    EncodeTrailer(m_trailer, trailer);
    if (!velk_io::WriteFully(m_journal, trailer, kTrailerBytes) || !m_journal.Flush()) return JournalStatus::kJournalFailed;
    return RewriteJournalState(m_journal, m_header, State::kSealed) ? JournalStatus::kOk : JournalStatus::kJournalFailed;
}
