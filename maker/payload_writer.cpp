#include "maker/payload_writer.h"

#include <cstring>

#include "file/io.h"
#include "file/memory_file.h"

namespace {
constexpr size_t kFlushBytes = 1u << 20;
}

CVELK_PayloadWriter::CVELK_PayloadWriter(CVELK_xFile& output) : m_output(output)
{
    m_buffer.reserve(kFlushBytes);
}

bool CVELK_PayloadWriter::Begin(int64_t patchedSize, uint32_t targetCrc, const char* magic)
{
    m_start = m_output.Tell();
    if (m_start < 0) return m_ok = false;
    std::memset(m_header, 0, sizeof m_header);
    std::strncpy(reinterpret_cast<char*>(m_header), magic, velk_format::kMagicBytes);
    velk_io::StoreLE(m_header + velk_format::kPatchedSizeOffset, static_cast<uint64_t>(patchedSize), 8);
    velk_io::StoreLE(m_header + velk_format::kTargetCrcOffset, targetCrc, 4);
    velk_io::StoreLE(m_header + velk_format::kDataOffsetOffset, velk_format::kHeaderBytes, 4);
    m_headerBytes = velk_format::kHeaderBytes;
    return Put(m_header, m_headerBytes);
}

bool CVELK_PayloadWriter::ReserveExtensionBlock()
{
    if (!m_ok || Size() != velk_format::kHeaderBytes) return m_ok = false;
    m_headerBytes = velk_extension::kDataOffsetWithBlock;
    velk_io::StoreLE(m_header + velk_format::kDataOffsetOffset, m_headerBytes, 4);
    m_buffer.assign(m_header, m_header + m_headerBytes);
    return true;
}

void CVELK_PayloadWriter::SetTargetCrc(uint32_t crc)
{
    velk_io::StoreLE(m_header + velk_format::kTargetCrcOffset, crc, 4);
}

void CVELK_PayloadWriter::SetResultIdentity(const VelkResultIdentity& identity)
{
    m_identity = identity;
    m_hasIdentity = true;
}

bool CVELK_PayloadWriter::AddRecord(uint64_t position, const uint8_t* data, uint32_t length)
{
    if (length == 0 || length > velk_format::kMaxRecordData) return m_ok = false;
    if (position >= m_position && position - m_position <= 0xFFFFFFFFu)
        return AddRelative(static_cast<uint32_t>(position - m_position), data, length);
    return AddAbsolute(position, data, length);
}

bool CVELK_PayloadWriter::AddRelative(uint32_t delta, const uint8_t* data, uint32_t length)
{
    uint8_t head[velk_format::kRelativeRecordOverhead];
    head[0] = velk_format::kRecordRelative;
    velk_io::StoreLE(head + 1, delta, 4);
    velk_io::StoreLE(head + 5, length, 2);
    m_position += delta;
    return Put(head, sizeof head) && Put(data, length);
}

bool CVELK_PayloadWriter::AddAbsolute(uint64_t position, const uint8_t* data, uint32_t length)
{
    uint8_t head[velk_format::kAbsoluteRecordOverhead];
    head[0] = velk_format::kRecordAbsolute;
    velk_io::StoreLE(head + 1, position, 8);
    velk_io::StoreLE(head + 9, length, 2);
    m_position = position;
    return Put(head, sizeof head) && Put(data, length);
}

bool CVELK_PayloadWriter::Finish(const std::u16string& description)
{
    const uint8_t end = velk_format::kRecordEnd;
    if (!Put(&end, 1)) return false;
    uint64_t descriptionOffset = 0;
    if (!description.empty()) {
        descriptionOffset = Size();
        std::vector<uint8_t> bytes((description.size() + 1) * 2, 0);
        for (size_t i = 0; i < description.size(); ++i)
            velk_io::StoreLE(&bytes[2 * i], description[i], 2);
        if (!Put(bytes.data(), bytes.size())) return false;
    }
    if (!Flush()) return false;
    velk_io::StoreLE(m_header + velk_format::kDescriptionOffsetOffset, descriptionOffset, 8);
    if (m_headerBytes == velk_extension::kDataOffsetWithBlock && m_hasIdentity) {
        uint8_t block[velk_extension::kBlockBytes];
        velk_extension::Encode(m_identity, block);
        std::memcpy(m_header + velk_extension::kBlockAt, block, sizeof block);
    }
    // Everything from the target CRC on is rewritten: the magic and the patched size were right
    // from the start.
    const uint32_t from = velk_format::kTargetCrcOffset;
    const uint32_t count = m_headerBytes - from;
    const int64_t endPosition = m_output.Tell();
    if (!m_output.Seek(m_start + from) || m_output.Write(m_header + from, count) != count ||
        !m_output.Seek(endPosition))
        return m_ok = false;
    return true;
}

bool CVELK_PayloadWriter::Put(const void* data, size_t length)
{
    if (!m_ok) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + length);
    return m_buffer.size() < kFlushBytes || Flush();
}

bool CVELK_PayloadWriter::Flush()
{
    if (!m_ok) return false;
    size_t done = 0;
    while (done < m_buffer.size()) {
        const size_t left = m_buffer.size() - done;
        const uint32_t chunk = left > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(left);
        if (m_output.Write(m_buffer.data() + done, chunk) != chunk) return m_ok = false;
        done += chunk;
    }
    m_written += m_buffer.size();
    m_buffer.clear();
    return true;
}

std::vector<uint8_t> BuildPayload(int64_t patchedSize, uint32_t targetCrc,
                                  const std::vector<VelkRecord>& records,
                                  const std::u16string& description, const VelkResultIdentity* identity)
{
    CVELK_MemoryFile file(std::vector<uint8_t>{});
    file.SetSizeLimit(UINT64_MAX);
    CVELK_PayloadWriter writer(file);
    writer.Begin(patchedSize, targetCrc);
    if (identity) {
        writer.ReserveExtensionBlock();
        writer.SetResultIdentity(*identity);
    }
    for (const VelkRecord& record : records)
        writer.AddRecord(record.position, record.data.data(), static_cast<uint32_t>(record.data.size()));
    writer.Finish(description);
    return file.Bytes();
}
