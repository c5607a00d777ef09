// A CVELK_xFile over bytes in memory, for tests and fuzzing. It behaves like a disk file opened
// for reading and writing: writes past the end grow it (zero-filled), SetSize truncates or
// extends. A size limit makes growth beyond it fail, as a full disk would.
#pragma once

#include <cstdint>
#include <vector>

#include "file/velk_xfile.h"

class CVELK_MemoryFile : public CVELK_xFile {
public:
    CVELK_MemoryFile() = default;
    explicit CVELK_MemoryFile(std::vector<uint8_t> bytes, uint32_t access = kAccessRead | kAccessWrite)
        : m_bytes(std::move(bytes)), m_access(access), m_open(true) {}

    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    void Close() override { m_open = false; m_access = 0; }
    int64_t GetSize() override { return m_open ? static_cast<int64_t>(m_bytes.size()) : -1; }
    bool SetSize(int64_t size) override;
    int64_t Tell() override { return m_open ? m_position : -1; }
    bool Seek(int64_t position) override;
    uint32_t GetCrc32() override;
    bool IsOpen() override { return m_open; }
    uint32_t CanRead() override { return m_access & kAccessRead; }
    uint32_t CanWrite() override { return m_access & kAccessWrite; }
    bool Flush() override { return m_open; }

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    void SetSizeLimit(uint64_t limit) { m_sizeLimit = limit; }

private:
    bool GrowTo(uint64_t size);

    std::vector<uint8_t> m_bytes;
    int64_t m_position = 0;
    uint32_t m_access = 0;
    bool m_open = false;
    uint64_t m_sizeLimit = 256u << 20;  // keeps a hostile payload from exhausting memory
};
