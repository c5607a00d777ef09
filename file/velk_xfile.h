// The one file interface every part of the engine goes through. The order of the virtual
// operations is fixed; wrappers (in-memory files, fault injection) implement the same slots.
#pragma once

#include <cstdint>

class CVELK_xFile {
public:
    virtual ~CVELK_xFile() {}

    // Bytes read at the current position (which advances by that count); 0 on failure or at the
    // end of the file. A short count is returned as it is, never retried.
    virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    // Bytes written at the current position; 0 on failure.
    virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
    virtual void Close() = 0;
    // The UTF-16 units before the terminating NUL, little-endian, no terminator, in one Write.
    virtual bool WriteWideText(const char16_t* text);
    virtual int64_t GetSize() = 0;
    // Seek to size, then make that position the end of the file.
    virtual bool SetSize(int64_t size) = 0;
    virtual int64_t Tell() = 0;
    // Absolute position from the start; negative positions are refused.
    virtual bool Seek(int64_t position) = 0;
    // CRC-32 of the whole file, 0 on failure; the position is left where it was.
    virtual uint32_t GetCrc32() = 0;
    virtual bool IsOpen() = 0;
    // Nonzero (the access bit itself) when the file was opened with that access.
    virtual uint32_t CanRead() = 0;
    virtual uint32_t CanWrite() = 0;

    // Added after the original slots, which keep their order.
    // Makes everything written so far durable: on the disk itself, not in a cache, once it
    // returns true. A file that nothing can make more durable (one in memory) answers true.
    virtual bool Flush() = 0;
    // Reads at `position`, leaving the current position unspecified; counts as Read's. One
    // platform call where the platform has a positioned read, Seek and Read otherwise.
    virtual uint32_t ReadAt(int64_t position, void* buffer, uint32_t count);
};

// Access rights as the Windows constants spell them; the POSIX backend records the same values.
constexpr uint32_t kAccessRead = 0x80000000u;
constexpr uint32_t kAccessWrite = 0x40000000u;
