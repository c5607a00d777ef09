// CRC-32 (ISO-HDLC: reflected polynomial 0xEDB88320, initial value and final complement all
// ones), the check value the payload records for the file to be patched.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velk_crc32 {

constexpr uint32_t kPolynomial = 0xEDB88320u;

constexpr std::array<uint32_t, 256> MakeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        table[i] = c;
    }
    return table;
}

// The standard table, computed by the compiler.
inline constexpr std::array<uint32_t, 256> kTable = MakeTable();

// Advances an uncomplemented CRC register over `length` bytes.
using ExtendFunction = uint32_t (*)(uint32_t state, const uint8_t* data, size_t length);

// One table lookup per byte; the reference every faster path is checked against.
uint32_t ExtendBytewise(uint32_t state, const uint8_t* data, size_t length);
// Eight table lookups per 8 bytes, independent of each other (slicing-by-8).
uint32_t ExtendSlicing8(uint32_t state, const uint8_t* data, size_t length);

// The fastest path this CPU supports. It asks the CPU on every call: callers keep the answer.
ExtendFunction BestExtend();

// A way of computing the CRC, for tests and benchmarks that run every path side by side.
struct NamedPath {
    const char* name;
    ExtendFunction extend;
};
// Every path this CPU can run, slowest first; the last one is what BestExtend() picks.
std::vector<NamedPath> AvailablePaths();
// Every path compiled into this build, whether this CPU can run it or not.
std::vector<NamedPath> CompiledPaths();

}  // namespace velk_crc32

class _m_CRC32 {
public:
    _m_CRC32() : m_state(0xFFFFFFFFu) {}
    virtual ~_m_CRC32() {}

    void Reset() { m_state = 0xFFFFFFFFu; }
    // Feeds `length` bytes and answers the CRC-32 of everything fed since the start.
    uint32_t Update(const void* data, uint32_t length);
    // The CRC-32 of everything fed so far.
    uint32_t Value() const { return ~m_state; }
    // The CRC-32 of one piece of memory.
    static uint32_t Of(const void* data, uint32_t length)
    {
        _m_CRC32 crc;
        return crc.Update(data, length);
    }

private:
    uint32_t m_state;
};
