#include "crc/chunked_crc.h"

#include <new>

CVELK_ChunkedCrc::CVELK_ChunkedCrc(int64_t size) : m_size(size < 0 ? 0 : size)
{
    uint32_t chunk = m_size < kChunkBytes ? static_cast<uint32_t>(m_size) : kChunkBytes;
    if (chunk == 0) chunk = 1;
    for (;;) {
        m_buffer.reset(new (std::nothrow) uint8_t[chunk]);
        if (m_buffer || chunk <= 65536) break;
        chunk /= 2;
    }
    if (m_buffer) m_chunk = chunk;
}
