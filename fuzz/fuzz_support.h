// Shared by the fuzz targets: a check that stops the run loudly (a finding, for libFuzzer and
// for the corpus runner alike), a reader that takes fields off the front of the input, and the
// extension block as the format's rules describe it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crc/crc32.h"
#include "file/io.h"

#define VELK_FUZZ_CHECK(condition)                                                                \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // Missing bytes read as 0, so every input is usable.
    uint64_t Take(int bytes)
    {
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(TakeByte()) << (8 * i);
        return value;
    }
    std::vector<uint8_t> TakeBytes(size_t count)
    {
        if (count > m_size - m_used) count = m_size - m_used;
        std::vector<uint8_t> bytes(m_data + m_used, m_data + m_used + count);
        m_used += count;
        return bytes;
    }
    std::vector<uint8_t> Rest() { return TakeBytes(m_size - m_used); }

private:
    uint8_t TakeByte() { return m_used < m_size ? m_data[m_used++] : 0; }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_used = 0;
};

// Whether the payload at `payloadOffset` of `file` with data offset `dataOffset` carries an
// extension block that counts, written from the format's rules alone; its result CRC if so.
inline bool ModelExtensionBlock(const std::vector<uint8_t>& file, uint64_t payloadOffset, uint64_t dataOffset,
                                uint32_t* resultCrc)
{
    const uint64_t at = payloadOffset + 40;
    if (at + 12 > file.size() || std::memcmp(&file[at], "VELKEXT1", 8) != 0) return false;
    const uint64_t length = velk_io::LoadLE(&file[at + 8], 4);
    if (length < 32 || 40 + length > dataOffset || at + length > file.size()) return false;
    const uint32_t own = ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, &file[at], length - 4);
    if (own != velk_io::LoadLE(&file[at + length - 4], 4)) return false;
    *resultCrc = static_cast<uint32_t>(velk_io::LoadLE(&file[at + 12], 4));
    return true;
}
