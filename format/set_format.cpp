#include "format/set_format.h"

#include <cstring>

#include "crc/crc32.h"
#include "file/io.h"
#include "file/relative_path.h"

namespace velk_set {

bool IsSet(CVELK_xFile& source, int64_t setOffset)
{
    char magic[kMagicBytes] = {};
    if (setOffset < 0 || velk_io::ReadFullyAt(source, setOffset, magic, kMagicBytes) != kMagicBytes) return false;
    return std::memcmp(magic, kMagic, sizeof kMagic) == 0;
}

void EncodeHeader(const Header& header, uint8_t out[kHeaderBytes])
{
    std::memset(out, 0, kHeaderBytes);
    std::memcpy(out, kMagic, sizeof kMagic);
    velk_io::StoreLE(out + 16, header.entries, 4);
    velk_io::StoreLE(out + 20, header.anchor, 4);
    velk_io::StoreLE(out + 24, header.directoryOffset, 8);
    velk_io::StoreLE(out + 32, header.directoryBytes, 8);
    velk_io::StoreLE(out + 40, header.descriptionOffset, 8);
    velk_io::StoreLE(out + 48, header.directoryCrc, 4);
    velk_io::SealWithCrc(out, kHeaderBytes);
}

bool DecodeHeader(const uint8_t bytes[kHeaderBytes], Header* header)
{
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0 || !velk_io::CrcHolds(bytes, kHeaderBytes)) return false;
    header->entries = static_cast<uint32_t>(velk_io::LoadLE(bytes + 16, 4));
    header->anchor = static_cast<uint32_t>(velk_io::LoadLE(bytes + 20, 4));
    header->directoryOffset = velk_io::LoadLE(bytes + 24, 8);
    header->directoryBytes = velk_io::LoadLE(bytes + 32, 8);
    header->descriptionOffset = velk_io::LoadLE(bytes + 40, 8);
    header->directoryCrc = static_cast<uint32_t>(velk_io::LoadLE(bytes + 48, 4));
    // Flags and the reserved field: a later version would say what they mean.
    return velk_io::LoadLE(bytes + 52, 8) == 0 && header->entries > 0 && header->anchor < header->entries;
}

uint32_t EncodeEntry(const Entry& entry, uint8_t* out)
{
    const uint32_t length = kEntryFixedBytes + entry.pathBytes;
    std::memset(out, 0, kEntryFixedBytes);
    velk_io::StoreLE(out, length, 4);
    out[4] = static_cast<uint8_t>(entry.kind);
    velk_io::StoreLE(out + 6, entry.pathBytes, 2);
    velk_io::StoreLE(out + 8, entry.originalSize, 8);
    velk_io::StoreLE(out + 16, entry.originalCrc, 4);
    velk_io::StoreLE(out + 20, entry.resultCrc, 4);
    velk_io::StoreLE(out + 24, entry.resultSize, 8);
    velk_io::StoreLE(out + 32, entry.payloadOffset, 8);
    velk_io::StoreLE(out + 40, entry.payloadBytes, 8);
    std::memcpy(out + kEntryFixedBytes, entry.path, entry.pathBytes);
    return length;
}

bool CVELK_SetReader::Fail()
{
    m_failed = true;
    return false;
}

bool CVELK_SetReader::Start()
{
    uint8_t bytes[kHeaderBytes];
    m_sourceSize = m_source.GetSize();
    if (m_setOffset < 0 || m_sourceSize < m_setOffset ||
        velk_io::ReadFullyAt(m_source, m_setOffset, bytes, kHeaderBytes) != kHeaderBytes || !DecodeHeader(bytes, &m_header))
        return Fail();
    const uint64_t setBytes = static_cast<uint64_t>(m_sourceSize - m_setOffset);
    if (m_header.directoryOffset < kHeaderBytes || m_header.directoryOffset > setBytes ||
        m_header.directoryBytes > setBytes - m_header.directoryOffset ||
        m_header.directoryBytes < uint64_t(m_header.entries) * kEntryFixedBytes)
        return Fail();
    return true;
}

bool CVELK_SetReader::Next(Entry* entry)
{
    if (m_failed) return false;
    if (m_index == m_header.entries) {
        // The whole directory read: its length, its checksum, and an anchor among its entries.
        if (m_read != m_header.directoryBytes || m_directoryCrc.Update(nullptr, 0) != m_header.directoryCrc ||
            !m_anchorSeen)
            Fail();
        return false;
    }
    uint8_t fixed[kEntryFixedBytes];
    const int64_t at = m_setOffset + static_cast<int64_t>(m_header.directoryOffset + m_read);
    if (m_header.directoryBytes - m_read < kEntryFixedBytes ||
        velk_io::ReadFullyAt(m_source, at, fixed, kEntryFixedBytes) != kEntryFixedBytes)
        return Fail();
    const auto length = static_cast<uint32_t>(velk_io::LoadLE(fixed, 4));
    entry->kind = static_cast<Kind>(fixed[4]);
    entry->pathBytes = static_cast<uint32_t>(velk_io::LoadLE(fixed + 6, 2));
    entry->originalSize = velk_io::LoadLE(fixed + 8, 8);
    entry->originalCrc = static_cast<uint32_t>(velk_io::LoadLE(fixed + 16, 4));
    entry->resultCrc = static_cast<uint32_t>(velk_io::LoadLE(fixed + 20, 4));
    entry->resultSize = velk_io::LoadLE(fixed + 24, 8);
    entry->payloadOffset = velk_io::LoadLE(fixed + 32, 8);
    entry->payloadBytes = velk_io::LoadLE(fixed + 40, 8);
    if (length != kEntryFixedBytes + entry->pathBytes || entry->pathBytes > kMaxPathBytes || fixed[5] != 0 ||
        m_header.directoryBytes - m_read < length)
        return Fail();
    if (velk_io::ReadFullyAt(m_source, at + kEntryFixedBytes, entry->path, entry->pathBytes) != entry->pathBytes)
        return Fail();
    entry->path[entry->pathBytes] = 0;
    m_directoryCrc.Update(fixed, kEntryFixedBytes);
    m_directoryCrc.Update(entry->path, entry->pathBytes);
    m_read += length;
    ++m_index;

    // Each kind carries exactly its fields, and a payload lies within the set.
    const uint64_t setBytes = static_cast<uint64_t>(m_sourceSize - m_setOffset);
    const bool payload = entry->payloadOffset >= kHeaderBytes && entry->payloadBytes > 0 &&
                         entry->payloadOffset <= setBytes && entry->payloadBytes <= setBytes - entry->payloadOffset;
    const uint64_t largest = static_cast<uint64_t>(INT64_MAX);
    bool sound = entry->originalSize <= largest && entry->resultSize <= largest;
    switch (entry->kind) {
    case Kind::kModify: sound = sound && payload; break;
    case Kind::kCreate: sound = sound && payload && entry->originalSize == 0 && entry->originalCrc == 0; break;
    case Kind::kDelete:
        sound = sound && entry->payloadOffset == 0 && entry->payloadBytes == 0 && entry->resultSize == 0 &&
                entry->resultCrc == 0;
        break;
    default: sound = false; break;
    }
    if (!sound || !IsSafeRelativePath(entry->path, entry->pathBytes, kMaxPathBytes)) return Fail();
    if (Index() == m_header.anchor) {
        if (entry->kind != Kind::kModify) return Fail();
        m_anchorSeen = true;
    }

    // Strictly after the entry before it once folded; and never inside a path that entry names
    // as a file (a folder's entries follow its own name at once in this order).
    char folded[kMaxPathBytes];
    const size_t foldedBytes = FoldRelativePath(entry->path, entry->pathBytes, folded, sizeof folded);
    if (foldedBytes == sizeof folded) return Fail();
    if (m_index > 1) {
        if (CompareFoldedPaths(m_previous, m_previousBytes, folded, foldedBytes) >= 0) return Fail();
        if (foldedBytes > m_previousBytes && std::memcmp(folded, m_previous, m_previousBytes) == 0 &&
            folded[m_previousBytes] == '/')
            return Fail();
    }
    std::memcpy(m_previous, folded, foldedBytes);
    m_previousBytes = foldedBytes;
    return true;
}

}  // namespace velk_set
