#include "maker/set_writer.h"

#include <cstring>
#include <memory>

#include "file/io.h"
#include "file/memory_file.h"
#include "maker/payload_writer.h"

bool CVELK_SetWriter::Begin()
{
    m_start = m_output.Tell();
    uint8_t header[velk_set::kHeaderBytes] = {};
    return m_start >= 0 && velk_io::WriteFully(m_output, header, velk_set::kHeaderBytes);
}

VelkBuildStatus CVELK_SetWriter::AddChanged(const std::string& path, CVELK_xFile* original, CVELK_xFile& modified,
                                            CVELK_BuildProgress* progress)
{
    CVELK_MemoryFile empty(std::vector<uint8_t>(), kAccessRead);
    File file;
    file.kind = original ? velk_set::Kind::kModify : velk_set::Kind::kCreate;
    file.path = path;
    file.originalSize = original ? original->GetSize() : 0;
    const int64_t at = m_output.Tell();
    CVELK_PatchBuilder builder(original ? *original : empty, modified);
    builder.SetProgress(progress);
    const VelkBuildStatus status = builder.Build(m_output);
    if (status != VelkBuildStatus::kOk) return status;
    if (at < 0) return VelkBuildStatus::kOutputWriteFailed;
    const VelkBuildStats& stats = builder.Stats();
    file.payloadOffset = static_cast<uint64_t>(at - m_start);
    file.payloadBytes = stats.payloadBytes;
    file.originalCrc = stats.originalCrc;
    file.resultCrc = stats.resultCrc;
    file.resultSize = modified.GetSize();
    m_entries.push_back(file);
    return VelkBuildStatus::kOk;
}

void CVELK_SetWriter::AddDeleted(const std::string& path, int64_t size, uint32_t crc)
{
    File file;
    file.kind = velk_set::Kind::kDelete;
    file.path = path;
    file.originalSize = size;
    file.originalCrc = crc;
    m_entries.push_back(file);
}

bool CVELK_SetWriter::Finish(uint32_t anchor, const std::u16string& description)
{
    velk_set::Header set;
    set.entries = static_cast<uint32_t>(m_entries.size());
    set.anchor = anchor;
    set.directoryOffset = static_cast<uint64_t>(m_output.Tell() - m_start);
    _m_CRC32 crc;
    std::unique_ptr<velk_set::Entry> entry(new velk_set::Entry());
    std::vector<uint8_t> bytes(velk_set::kEntryFixedBytes + velk_set::kMaxPathBytes);
    for (const File& file : m_entries) {
        if (file.path.size() > velk_set::kMaxPathBytes) return false;
        entry->kind = file.kind;
        entry->originalSize = static_cast<uint64_t>(file.originalSize);
        entry->originalCrc = file.originalCrc;
        entry->resultSize = static_cast<uint64_t>(file.resultSize);
        entry->resultCrc = file.resultCrc;
        entry->payloadOffset = file.payloadOffset;
        entry->payloadBytes = file.payloadBytes;
        entry->pathBytes = static_cast<uint32_t>(file.path.size());
        std::memcpy(entry->path, file.path.data(), file.path.size());
        const uint32_t length = velk_set::EncodeEntry(*entry, bytes.data());
        set.directoryCrc = crc.Update(bytes.data(), length);
        if (!velk_io::WriteFully(m_output, bytes.data(), length)) return false;
        set.directoryBytes += length;
    }
    if (!description.empty()) {
        set.descriptionOffset = static_cast<uint64_t>(m_output.Tell() - m_start);
        const std::vector<uint8_t> little = DescriptionBytes(description);
        if (!velk_io::WriteFully(m_output, little.data(), static_cast<uint32_t>(little.size()))) return false;
    }
    const int64_t end = m_output.Tell();
    uint8_t header[velk_set::kHeaderBytes];
    velk_set::EncodeHeader(set, header);
    if (end < 0 || !m_output.Seek(m_start) || !velk_io::WriteFully(m_output, header, velk_set::kHeaderBytes) ||
        !m_output.Seek(end))
        return false;
    m_bytes = static_cast<uint64_t>(end - m_start);
    return true;
}
