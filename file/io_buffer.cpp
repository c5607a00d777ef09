#include "file/io_buffer.h"

#include <cstdlib>
#include <cstring>

// The block is taken from malloc with a page to spare, and the address malloc gave is kept in
// the word just before the aligned start: the same on every platform, and no more code than the
// platforms' own aligned allocators would need to be chosen between.
bool CVELK_IoBuffer::Allocate(size_t bytes)
{
    Release();
    if (bytes > SIZE_MAX - kPageBytes) return false;
    void* const block = std::malloc(bytes + kPageBytes);
    if (block == nullptr) return false;
    const auto start = reinterpret_cast<uintptr_t>(block) + sizeof(void*);
    m_data = reinterpret_cast<uint8_t*>((start + kPageBytes - 1) & ~uintptr_t(kPageBytes - 1));
    std::memcpy(m_data - sizeof(void*), &block, sizeof block);
    m_size = bytes;
    return true;
}

void CVELK_IoBuffer::Release()
{
    if (m_data == nullptr) return;
    void* block;
    std::memcpy(&block, m_data - sizeof(void*), sizeof block);
    std::free(block);
    m_data = nullptr;
    m_size = 0;
}
