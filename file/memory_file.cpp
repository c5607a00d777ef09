#include "file/memory_file.h"

#include <cstring>

#include "crc/crc32.h"

uint32_t CVELK_MemoryFile::Read(void* buffer, uint32_t count)
{
    if (!m_open || !(m_access & kAccessRead)) return 0;
    const uint64_t size = m_bytes.size();
    if (static_cast<uint64_t>(m_position) >= size) return 0;
    const uint64_t available = size - static_cast<uint64_t>(m_position);
    const uint32_t n = available < count ? static_cast<uint32_t>(available) : count;
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    return n;
}

uint32_t CVELK_MemoryFile::Write(const void* buffer, uint32_t count)
{
    if (!m_open || !(m_access & kAccessWrite)) return 0;
    const uint64_t end = static_cast<uint64_t>(m_position) + count;
    if (end > m_bytes.size() && !GrowTo(end)) return 0;
    if (count != 0) std::memcpy(m_bytes.data() + m_position, buffer, count);
    m_position += count;
    return count;
}

bool CVELK_MemoryFile::SetSize(int64_t size)
{
    if (!Seek(size) || !(m_access & kAccessWrite)) return false;
    if (static_cast<uint64_t>(size) > m_bytes.size()) return GrowTo(static_cast<uint64_t>(size));
    m_bytes.resize(static_cast<size_t>(size));
    return true;
}

bool CVELK_MemoryFile::Seek(int64_t position)
{
    if (!m_open || position < 0) return false;
    m_position = position;
    return true;
}

uint32_t CVELK_MemoryFile::GetCrc32()
{
    if (!m_open) return 0;
    return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, m_bytes.data(), m_bytes.size());
}

bool CVELK_MemoryFile::GrowTo(uint64_t size)
{
    if (size > m_sizeLimit) return false;
    m_bytes.resize(static_cast<size_t>(size), 0);
    return true;
}
