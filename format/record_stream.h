// Sequential reading of the record stream: a read-ahead buffer over the patch source (so a
// record costs no system call) and a parser that both the checking pass and the writing pass
// use, so that they cannot disagree on what a stream means.
#pragma once

#include <cstdint>
#include <cstring>

#include "file/io_buffer.h"
#include "file/velk_xfile.h"

class CVELK_ReadAhead {
public:
    static constexpr uint32_t kDefaultCapacity = 1u << 20;

    // `position` is where the file stands: the buffer is laid out in phase with it (io_buffer.h).
    explicit CVELK_ReadAhead(CVELK_xFile& file, uint32_t capacity = kDefaultCapacity, int64_t position = 0);

    // Up to `count` bytes from the current position; fewer only where the file ends (or its read
    // fails). 0 is the failed read of the format's rules.
    uint32_t Read(void* destination, uint32_t count)
    {
        // A record's fields are read a few bytes at a time: those that the buffer holds whole
        // take this path, inlined, and only a refill goes through ReadAcross.
        if (count <= m_end - m_begin) {
            std::memcpy(destination, m_buffer + m_begin, count);
            Advance(count);
            return count;
        }
        return ReadAcross(static_cast<uint8_t*>(destination), count);
    }
    // Like Read, but the bytes are dropped.
    uint32_t Skip(uint32_t count)
    {
        if (count <= m_end - m_begin) {
            Advance(count);
            return count;
        }
        return ReadAcross(nullptr, count);
    }
    // Bytes delivered or skipped so far.
    int64_t Consumed() const { return m_consumed; }
    // Goes back to the first byte when the buffer still holds everything read so far, so that
    // a stream can be gone through again without reading the file. False (and nothing changes)
    // once the buffer has had to drop bytes.
    bool Rewind();

private:
    void Advance(uint32_t count)
    {
        m_begin += count;
        m_consumed += count;
    }
    // Read for a request that reaches past what the buffer holds; `out` null drops the bytes.
    uint32_t ReadAcross(uint8_t* out, uint32_t count);
    bool Refill();

    CVELK_xFile& m_file;
    CVELK_IoBuffer m_heap;
    uint8_t m_fallback[4096];  // used when the heap buffer cannot be had
    uint8_t* m_buffer;
    uint32_t m_capacity;
    uint32_t m_begin = 0, m_end = 0;
    int64_t m_consumed = 0;
    bool m_holdsFromStart = true;
};

enum class RecordStatus { kRecord, kEnd, kFault };

// Where a record could not be read: the field that delivered nothing, or a type byte of no record.
enum class RecordFault { kNone, kType, kDelta, kPosition, kUnknownType, kLength, kData };

class CVELK_RecordReader {
public:
    // `work` receives each record's data and must hold 65535 bytes.
    CVELK_RecordReader(CVELK_ReadAhead& input, uint8_t* work) : m_input(input), m_work(work) {}

    // Reads the next record. With `keepData` its data lands in the work buffer, otherwise it is
    // skipped. kFault leaves what failed in Fault().
    RecordStatus Next(bool keepData);

    uint64_t Position() const { return m_position; }
    // Data bytes actually delivered: fewer than the record's length only when the payload ends
    // inside them.
    uint32_t Delivered() const { return m_delivered; }
    RecordFault Fault() const { return m_fault; }

private:
    RecordStatus Fail(RecordFault fault)
    {
        m_fault = fault;
        return RecordStatus::kFault;
    }

    CVELK_ReadAhead& m_input;
    uint8_t* m_work;
    uint64_t m_position = 0;
    uint32_t m_delivered = 0;
    RecordFault m_fault = RecordFault::kNone;
};
