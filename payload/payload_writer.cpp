#include "payload/payload_writer.h"

#include <cstring>

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
    uint8_t header[velk_format::kHeaderBytes] = {};
    std::strncpy(reinterpret_cast<char*>(header), magic, velk_format::kMagicBytes);
    velk_format::StoreLE(header + velk_format::kPatchedSizeOffset, static_cast<uint64_t>(patchedSize), 8);
    velk_format::StoreLE(header + velk_format::kTargetCrcOffset, targetCrc, 4);
    velk_format::StoreLE(header + velk_format::kDataOffsetOffset, velk_format::kHeaderBytes, 4);
    return Put(header, sizeof header);
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
    velk_format::StoreLE(head + 1, delta, 4);
    velk_format::StoreLE(head + 5, length, 2);
    m_position += delta;
    return Put(head, sizeof head) && Put(data, length);
}

bool CVELK_PayloadWriter::AddAbsolute(uint64_t position, const uint8_t* data, uint32_t length)
{
    uint8_t head[velk_format::kAbsoluteRecordOverhead];
    head[0] = velk_format::kRecordAbsolute;
    velk_format::StoreLE(head + 1, position, 8);
    velk_format::StoreLE(head + 9, length, 2);
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
            velk_format::StoreLE(&bytes[2 * i], description[i], 2);
        if (!Put(bytes.data(), bytes.size())) return false;
    }
    if (!Flush()) return false;
    uint8_t field[8];
    velk_format::StoreLE(field, descriptionOffset, 8);
    const int64_t end_position = m_output.Tell();
    if (!m_output.Seek(m_start + velk_format::kDescriptionOffsetOffset) ||
        m_output.Write(field, 8) != 8 || !m_output.Seek(end_position))
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
                                  const std::u16string& description)
{
    CVELK_MemoryFile file(std::vector<uint8_t>{});
    file.SetSizeLimit(UINT64_MAX);
    CVELK_PayloadWriter writer(file);
    writer.Begin(patchedSize, targetCrc);
    for (const VelkRecord& record : records)
        writer.AddRecord(record.position, record.data.data(), static_cast<uint32_t>(record.data.size()));
    writer.Finish(description);
    return file.Bytes();
}
