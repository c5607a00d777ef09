// Reading a stretch of a file front to back, a chunk at a time, with the next chunk read on a
// thread of its own while the caller works on the one before: the CRC check of a cached image
// then runs at the speed of reading it, since summing a chunk takes less time than copying it
// out of the page cache (docs/benchmarks.md). Where no thread can be had, or the stretch is a
// single chunk, the caller's thread reads each chunk when it asks for it.
#pragma once

#include <atomic>
#include <cstdint>

#include "file/io_buffer.h"
#include "file/pacer.h"
#include "file/velk_xfile.h"
#include "file/worker_thread.h"

class CVELK_StretchReader {
public:
    // Every chunk is handed from one thread to the other, which costs a wake-up, and its buffer's
    // pages are fresh: 2 and 4 MiB chunks came out ahead of 1 and 8 MiB (docs/benchmarks.md,
    // section 2), and 2 MiB keeps the memory at 4 MiB.
    static constexpr uint32_t kChunkBytes = 2u << 20;

    // Reads [from, to) of `file`, starting with a Seek in the caller's thread. Nothing else may
    // touch the file until the reader is gone. `ahead` false: no thread, each chunk is read when
    // it is asked for.
    CVELK_StretchReader(CVELK_xFile& file, int64_t from, int64_t to, uint32_t chunkBytes = kChunkBytes,
                        bool ahead = true);
    // Stops the reading thread and waits for it.
    ~CVELK_StretchReader();
    CVELK_StretchReader(const CVELK_StretchReader&) = delete;
    CVELK_StretchReader& operator=(const CVELK_StretchReader&) = delete;

    // The next chunk, in phase with its place in the file, valid until the next call; null at
    // the end of the stretch and where a read failed (Failed() then).
    const uint8_t* Next(uint32_t* count);
    bool Failed() const { return m_failed; }
    // Whether a thread reads ahead (for the tests).
    bool ReadsAhead() const { return m_threaded; }

private:
    static constexpr uint32_t kSlots = 2;

    static void ReaderMain(void* self);
    // Reads chunk `index` into its slot; false when it did not arrive whole.
    bool ReadChunk(uint64_t index);
    uint32_t ChunkLength(uint64_t index) const;
    uint8_t* ChunkData(uint64_t index) const;

    CVELK_xFile& m_file;
    int64_t m_from;
    int64_t m_length;
    uint32_t m_chunk;
    uint64_t m_chunks;
    CVELK_IoBuffer m_buffers[kSlots];
    bool m_arrived[kSlots] = {};
    uint64_t m_next = 0;       // the chunk Next hands out next
    bool m_failed = false;
    bool m_threaded = false;
    std::atomic<bool> m_quit{false};
    CVELK_Semaphore m_free;    // slots the reading thread may fill
    CVELK_Semaphore m_filled;  // slots ready for Next
    CVELK_WorkerThread m_thread;
};

enum class StretchCrcVerdict { kComputed, kReadFailed, kStopped };

// Sees the chunks of a StretchCrc go by, for whatever else is to be learnt from the same bytes.
class CVELK_StretchObserver {
public:
    virtual ~CVELK_StretchObserver() {}
    // `count` bytes of the file from `position` on; `crcBefore` is the CRC-32 of the stretch's
    // bytes before them.
    virtual void Chunk(int64_t position, const uint8_t* data, uint32_t count, uint32_t crcBefore) = 0;
};

// The CRC-32 of the file's bytes [from, to), read through a CVELK_StretchReader; before each
// chunk `pacer` (when there is one) is asked whether to stop, and after each it is told the
// progress. `observer` (when there is one) is shown each chunk.
StretchCrcVerdict StretchCrc(CVELK_xFile& file, int64_t from, int64_t to, CVELK_Pacer* pacer, uint32_t* crc,
                             CVELK_StretchObserver* observer = nullptr,
                             uint32_t chunkBytes = CVELK_StretchReader::kChunkBytes);
