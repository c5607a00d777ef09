// Shared by the fuzz targets: a check that stops the run loudly (a finding, for libFuzzer and
// for the corpus runner alike) and a reader that takes fields off the front of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

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
