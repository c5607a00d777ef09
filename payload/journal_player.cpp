#include "payload/journal_player.h"

#include <algorithm>
#include <new>

#include "file/crc32.h"
#include "payload/format.h"

using namespace velk_journal;

CVELK_JournalPlayer::CVELK_JournalPlayer(CVELK_xFile& journal) : m_journal(journal) {}

bool CVELK_JournalPlayer::ReadJournal(int64_t position, uint8_t* buffer, uint32_t count)
{
    return velk_format::ReadFullyAt(m_journal, position, buffer, count) == count;
}

JournalVerdict CVELK_JournalPlayer::Examine()
{
    const int64_t size = m_journal.GetSize();
    if (size < 0) return JournalVerdict::kUnusable;
    uint8_t header[kHeaderBytes] = {};
    const auto headerBytes = static_cast<uint32_t>(size < kHeaderBytes ? size : kHeaderBytes);
    if (!ReadJournal(0, header, headerBytes)) return size == 0 ? JournalVerdict::kIncomplete : JournalVerdict::kUnusable;
    const HeaderCheck check = DecodeHeader(header, headerBytes, &m_header);
    if (check == HeaderCheck::kForeign) return JournalVerdict::kUnusable;

    // Without a good completion mark the journal was still being written.
    uint8_t trailer[kTrailerBytes];
    if (size < int64_t(kHeaderBytes) + kTrailerBytes) return JournalVerdict::kIncomplete;
    if (!ReadJournal(size - kTrailerBytes, trailer, kTrailerBytes)) return JournalVerdict::kUnusable;
    if (!DecodeTrailer(trailer, &m_trailer)) return JournalVerdict::kIncomplete;
    // A mark with a damaged header or one from another journal: complete, but not to be trusted.
    if (check != HeaderCheck::kValid || m_trailer.nonce != m_header.nonce ||
        m_trailer.blockBytes != size - kHeaderBytes - kTrailerBytes)
        return JournalVerdict::kUnusable;

    // No block is longer than the journal.
    m_block.reset(new (std::nothrow) uint8_t[static_cast<size_t>(std::min<int64_t>(kBlockBytes, size))]);
    if (!m_block || !WalkBlocks(nullptr)) return JournalVerdict::kUnusable;
    return JournalVerdict::kPlayable;
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
    for (const Sample& sample : m_trailer.samples) {
        if (sample.length == 0) continue;
        uint8_t bytes[kSampleBytes];
        if (sample.position + sample.length > size) return JournalFit::kDoesNotFit;
        if (velk_format::ReadFullyAt(target, sample.position, bytes, sample.length) != sample.length)
            return JournalFit::kTargetReadFailed;
        _m_CRC32 crc;
        if (crc.Update(bytes, sample.length) != sample.crc) return JournalFit::kDoesNotFit;
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

bool CVELK_JournalPlayer::WalkBlocks(CVELK_xFile* target)
{
    _m_CRC32 all;
    uint32_t allCrc = 0;
    uint64_t blocks = 0;
    const int64_t end = kHeaderBytes + m_trailer.blockBytes;
    for (int64_t at = kHeaderBytes; at < end; ++blocks) {
        uint8_t head[kBlockHeaderBytes];
        if (end - at < kBlockHeaderBytes || !ReadJournal(at, head, kBlockHeaderBytes)) return false;
        const auto length = static_cast<uint32_t>(velk_format::LoadLE(head, 4));
        if (length == 0 || length > kBlockBytes || length > end - at - kBlockHeaderBytes) return false;
        if (!ReadJournal(at + kBlockHeaderBytes, m_block.get(), length)) return false;
        _m_CRC32 crc;
        if (crc.Update(m_block.get(), length) != velk_format::LoadLE(head + 4, 4)) return false;
        all.Update(head, kBlockHeaderBytes);
        allCrc = all.Update(m_block.get(), length);
        at += kBlockHeaderBytes + length;

        for (uint32_t offset = 0; offset < length;) {
            if (length - offset < kEntryHeaderBytes) return false;
            const uint8_t* entry = m_block.get() + offset;
            const auto position = static_cast<int64_t>(velk_format::LoadLE(entry, 8));
            const auto bytes = static_cast<uint32_t>(velk_format::LoadLE(entry + 8, 4));
            offset += kEntryHeaderBytes;
            if (bytes > length - offset || position < 0 || position > m_header.oldSize - bytes) return false;
            if (target) {
                const uint8_t* data = entry + kEntryHeaderBytes;
                if (!target->Seek(position)) return false;
                for (uint32_t done = 0; done < bytes;) {
                    const uint32_t n = target->Write(data + done, bytes - done);
                    if (n == 0) return false;
                    done += n;
                }
            }
            offset += bytes;
        }
    }
    return blocks == m_trailer.blocks && allCrc == m_trailer.blocksCrc;
}
