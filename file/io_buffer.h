// The memory the engine reads files into and writes them from.
//
// The kernel copies between the page cache and a program's buffer with a string move whose
// speed depends on where the two lie relative to each other: on AMD's Zen processors it drops
// to a fraction when the destination starts a few bytes past the source modulo a page (to 0.44
// at 16 bytes, 0.17 at 8 on the Zen 4 of docs/benchmarks.md). glibc's malloc hands out large
// blocks at a page plus 16 bytes, which puts every read from a page-aligned file position into
// that slow case. So every I/O buffer comes from here, aligned to a page, and a stretch of a file
// is held at the same offset within a page as it has in the file (`InPhase`): then both copies,
// reading and writing, run at full speed.
#pragma once

#include <cstddef>
#include <cstdint>

class CVELK_IoBuffer {
public:
    static constexpr size_t kPageBytes = 4096;

    CVELK_IoBuffer() = default;
    // Null (Data() == nullptr) when the memory cannot be had.
    explicit CVELK_IoBuffer(size_t bytes) { Allocate(bytes); }
    ~CVELK_IoBuffer() { Release(); }
    CVELK_IoBuffer(const CVELK_IoBuffer&) = delete;
    CVELK_IoBuffer& operator=(const CVELK_IoBuffer&) = delete;

    // `bytes` of page-aligned memory in place of what the buffer held; false when it cannot be had.
    bool Allocate(size_t bytes);
    // The same with room to hold `bytes` of a file in phase wherever they start.
    bool AllocateInPhase(size_t bytes) { return Allocate(bytes + kPageBytes); }
    void Release();

    uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    explicit operator bool() const { return m_data != nullptr; }

    // Where a stretch of a file that begins at `position` starts in the buffer: at the same
    // offset within a page, so that buffer and file are in phase.
    uint8_t* InPhase(int64_t position) const { return m_data + PhaseOf(position); }
    static size_t PhaseOf(int64_t position) { return static_cast<size_t>(position) & (kPageBytes - 1); }

private:
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};
