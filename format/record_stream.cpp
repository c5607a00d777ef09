#include "format/record_stream.h"

#include <cstring>

#include "file/io.h"
#include "format/payload_format.h"

// Once the buffer is full it starts again from its first byte, which stays in phase with the file
// where the capacity is a whole number of pages (the default and the application's limit are).
CVELK_ReadAhead::CVELK_ReadAhead(CVELK_xFile& file, uint32_t capacity, int64_t position)
    : m_file(file), m_buffer(nullptr), m_capacity(capacity)
{
    if (m_heap.AllocateInPhase(capacity)) {
        m_buffer = m_heap.InPhase(position);
    } else {
        m_buffer = m_fallback;
        m_capacity = sizeof(m_fallback);
    }
}

bool CVELK_ReadAhead::Refill()
{
    // While there is room, new bytes go behind the old ones, so the buffer keeps the stream from
    // its first byte for as long as it fits (see Rewind).
    if (m_end == m_capacity) {
        m_begin = m_end = 0;
        m_holdsFromStart = false;
    }
    const uint32_t got = m_file.Read(m_buffer + m_end, m_capacity - m_end);
    m_end += got;
    return got != 0;
}

bool CVELK_ReadAhead::Rewind()
{
    if (!m_holdsFromStart) return false;
    m_begin = 0;
    m_consumed = 0;
    return true;
}

uint32_t CVELK_ReadAhead::ReadAcross(uint8_t* out, uint32_t count)
{
    uint32_t done = 0;
    while (done < count) {
        if (m_begin == m_end && !Refill()) break;
        uint32_t n = m_end - m_begin;
        if (n > count - done) n = count - done;
        if (out) std::memcpy(out + done, m_buffer + m_begin, n);
        m_begin += n;
        done += n;
    }
    m_consumed += done;
    return done;
}

RecordStatus CVELK_RecordReader::Next(bool keepData)
{
    uint8_t field[8] = {};
    if (m_input.Read(field, 1) == 0) return Fail(RecordFault::kType);
    switch (field[0]) {
    case velk_format::kRecordRelative: {
        // A short read keeps the bytes it got; the stream then fails at its next field anyway.
        uint8_t delta[4] = {};
        if (m_input.Read(delta, 4) == 0) return Fail(RecordFault::kDelta);
        m_position += velk_io::LoadLE(delta, 4);
        break;
    }
    case velk_format::kRecordAbsolute: {
        uint8_t position[8] = {};
        if (m_input.Read(position, 8) == 0) return Fail(RecordFault::kPosition);
        m_position = velk_io::LoadLE(position, 8);
        break;
    }
    case velk_format::kRecordEnd:
        return RecordStatus::kEnd;
    default:
        return Fail(RecordFault::kUnknownType);
    }
    uint8_t length[2] = {};
    if (m_input.Read(length, 2) == 0) return Fail(RecordFault::kLength);
    const auto count = static_cast<uint32_t>(velk_io::LoadLE(length, 2));
    // A zero length reads nothing, which is a failed read like any other.
    m_delivered = count == 0 ? 0 : keepData ? m_input.Read(m_work, count) : m_input.Skip(count);
    if (m_delivered == 0) return Fail(RecordFault::kData);
    return RecordStatus::kRecord;
}
