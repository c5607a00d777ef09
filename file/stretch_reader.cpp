#include "file/stretch_reader.h"

#include "crc/crc32.h"
#include "file/io.h"

namespace {

// Where memory is short, chunks get smaller, down to this.
constexpr uint32_t kSmallestChunk = 64u << 10;

}  // namespace

CVELK_StretchReader::CVELK_StretchReader(CVELK_xFile& file, int64_t from, int64_t to, uint32_t chunkBytes,
                                         bool ahead)
    : m_file(file), m_from(from), m_length(to > from ? to - from : 0), m_chunk(chunkBytes > 0 ? chunkBytes : 1),
      m_chunks(0), m_free(1), m_filled(0)
{
    if (m_length == 0) return;
    if (m_length < m_chunk) m_chunk = static_cast<uint32_t>(m_length);
    while (!m_buffers[0].AllocateInPhase(m_chunk) && m_chunk > kSmallestChunk) m_chunk /= 2;
    m_chunks = static_cast<uint64_t>((m_length + m_chunk - 1) / m_chunk);
    if (!m_buffers[0] || !m_file.Seek(from)) {
        m_failed = true;
        return;
    }
    // A second chunk to read into while the first is worked on; without it, or without a thread,
    // each chunk is read when it is asked for.
    if (ahead && m_chunks > 1 && m_buffers[1].AllocateInPhase(m_chunk) && m_free.IsValid() && m_filled.IsValid())
        m_threaded = m_thread.Start(ReaderMain, this);
    if (!m_threaded) return;
    // The second slot's pages are made while the first chunk is read: the first touch of a page
    // costs a fault, which would otherwise fall on the reading thread. Then it may be filled.
    CVELK_IoBuffer& second = m_buffers[1];
    for (size_t page = 0; page < second.Size(); page += CVELK_IoBuffer::kPageBytes) second.Data()[page] = 0;
    m_free.Post();
}

CVELK_StretchReader::~CVELK_StretchReader()
{
    if (!m_threaded) return;
    m_quit = true;
    for (uint32_t i = 0; i < kSlots; ++i) m_free.Post();  // whatever it waits for
    m_thread.Join();
}

void CVELK_StretchReader::ReaderMain(void* self)
{
    auto* reader = static_cast<CVELK_StretchReader*>(self);
    for (uint64_t index = 0; index < reader->m_chunks; ++index) {
        reader->m_free.Wait();
        if (reader->m_quit) return;
        const bool arrived = reader->ReadChunk(index);
        reader->m_filled.Post();
        if (!arrived) return;
    }
}

const uint8_t* CVELK_StretchReader::Next(uint32_t* count)
{
    if (m_failed || m_next >= m_chunks) return nullptr;
    if (m_threaded) {
        if (m_next > 0) m_free.Post();  // the chunk handed out before is done with
        m_filled.Wait();
    } else {
        ReadChunk(m_next);
    }
    if (!m_arrived[m_next % kSlots]) {
        m_failed = true;
        return nullptr;
    }
    *count = ChunkLength(m_next);
    return ChunkData(m_next++);
}

bool CVELK_StretchReader::ReadChunk(uint64_t index)
{
    const uint32_t length = ChunkLength(index);
    const bool arrived = velk_io::ReadFully(m_file, ChunkData(index), length) == length;
    m_arrived[index % kSlots] = arrived;
    return arrived;
}

uint32_t CVELK_StretchReader::ChunkLength(uint64_t index) const
{
    const int64_t left = m_length - static_cast<int64_t>(index) * m_chunk;
    return left < m_chunk ? static_cast<uint32_t>(left) : m_chunk;
}

uint8_t* CVELK_StretchReader::ChunkData(uint64_t index) const
{
    return m_buffers[index % kSlots].InPhase(m_from + static_cast<int64_t>(index) * m_chunk);
}

StretchCrcVerdict StretchCrc(CVELK_xFile& file, int64_t from, int64_t to, CVELK_Pacer* pacer, uint32_t* crc,
                             CVELK_StretchObserver* observer, uint32_t chunkBytes)
{
    *crc = 0;
    if (from >= to) return StretchCrcVerdict::kComputed;
    CVELK_StretchReader reader(file, from, to, chunkBytes);
    _m_CRC32 sum;
    uint32_t value = 0;
    const int64_t total = to - from;
    for (int64_t done = 0; done < total;) {
        if (pacer && pacer->StopRequested()) return StretchCrcVerdict::kStopped;
        uint32_t count = 0;
        const uint8_t* data = reader.Next(&count);
        if (data == nullptr) return StretchCrcVerdict::kReadFailed;
        if (observer) observer->Chunk(from + done, data, count, value);
        value = sum.Update(data, count);
        done += count;
        if (pacer) pacer->Progress(done, total);
    }
    *crc = value;
    return StretchCrcVerdict::kComputed;
}
