// The CRC-32 of a whole file, computed a chunk at a time into one buffer, so that whoever drives
// it can report progress and stop between chunks. CVELK_File::GetCrc32 runs it in one go; the
// application runs it with progress and a stop request.
#pragma once

#include <cstdint>
#include <memory>

#include "crc/crc32.h"

class CVELK_ChunkedCrc {
public:
    // Small enough to stay in the cache between the copy and the CRC (docs/benchmarks.md).
    static constexpr uint32_t kChunkBytes = 4u << 20;

    // For `size` bytes; the buffer is the smaller of the size and a chunk. When that much memory
    // cannot be had, smaller chunks are used, down to 64 KiB.
    explicit CVELK_ChunkedCrc(int64_t size);

    // False when not even the smallest buffer could be had.
    bool HasBuffer() const { return m_buffer != nullptr; }
    bool Done() const { return m_done >= m_size; }
    int64_t BytesDone() const { return m_done; }
    // The CRC-32 of the bytes fed so far (of all of them once Done()).
    uint32_t Crc() const { return m_crc; }

    // Reads the next chunk with `read(buffer, count)`, which answers whether exactly `count`
    // bytes arrived, and feeds it. False (and nothing is fed) when the read failed.
    template <class Read>
    bool Next(Read&& read)
    {
        const int64_t left = m_size - m_done;
        const uint32_t n = left < m_chunk ? static_cast<uint32_t>(left) : m_chunk;
        if (!read(m_buffer.get(), n)) return false;
        m_crc = m_accumulator.Update(m_buffer.get(), n);
        m_done += n;
        return true;
    }

private:
    int64_t m_size;
    int64_t m_done = 0;
    uint32_t m_chunk = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    _m_CRC32 m_accumulator;
    uint32_t m_crc = 0;
};
