#include "maker/payload_writer.h"

#include <cstring>

#include "file/io.h"
#include "file/memory_file.h"

namespace {
constexpr size_t kFlushBytes = 1u << 20;
// The buffer also holds, past the flush mark, the longest piece that Put is given at once (a
// record, the description); anything longer is written straight through.
constexpr size_t kBufferBytes = kFlushBytes + (128u << 10);
}  // namespace

CVELK_PayloadWriter::CVELK_PayloadWriter(CVELK_xFile& output) : m_output(output)
{
    m_ok = m_buffer.AllocateInPhase(kBufferBytes);
    m_pending = m_buffer.Data();
}

bool CVELK_PayloadWriter::Begin(int64_t patchedSize, uint32_t targetCrc, const char* magic)
{
    m_start = m_output.Tell();
    if (m_start < 0 || !m_ok) return m_ok = false;
    m_pending = m_buffer.InPhase(m_start);
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
    std::memcpy(m_pending, m_header, m_headerBytes);
    m_fill = m_headerBytes;
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
        const std::vector<uint8_t> bytes = DescriptionBytes(description);
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
    if (!velk_io::WriteFullyAt(m_output, m_start + from, m_header + from, count) || !m_output.Seek(endPosition))
        return m_ok = false;
    return true;
}

bool CVELK_PayloadWriter::Put(const void* data, size_t length)
{
    if (!m_ok) return false;
    if (length > kBufferBytes - m_fill && !Flush()) return false;
    if (length > kBufferBytes) {
        if (length > 0xFFFFFFFFu || !velk_io::WriteFully(m_output, data, static_cast<uint32_t>(length)))
            return m_ok = false;
        m_written += length;
        m_pending = m_buffer.InPhase(m_start + static_cast<int64_t>(m_written));
        return true;
    }
    std::memcpy(m_pending + m_fill, data, length);
    m_fill += length;
    return m_fill < kFlushBytes || Flush();
}

bool CVELK_PayloadWriter::Flush()
{
    if (!m_ok) return false;
    if (m_fill > 0 && !velk_io::WriteFully(m_output, m_pending, static_cast<uint32_t>(m_fill))) return m_ok = false;
    m_written += m_fill;
    m_fill = 0;
    m_pending = m_buffer.InPhase(m_start + static_cast<int64_t>(m_written));
    return true;
}

std::vector<uint8_t> DescriptionBytes(const std::u16string& description)
{
    std::vector<uint8_t> bytes((description.size() + 1) * 2, 0);
    for (size_t i = 0; i < description.size(); ++i) velk_io::StoreLE(&bytes[2 * i], description[i], 2);
    return bytes;
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
