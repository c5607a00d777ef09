#include "file/velk_xfile.h"

bool CVELK_xFile::WriteWideText(const char16_t* text)
{
    if (text == nullptr) return false;
    uint64_t units = 0;
    while (text[units] != 0) {
        if (++units >= 0x80000000ull) return false;  // 2^31 units would overflow the byte count
    }
    uint32_t bytes = static_cast<uint32_t>(units * 2);
    if (bytes == 0) return true;
    // char16_t units lie in memory in the machine's byte order; every target we build for is
    // little-endian, which is the order the payload and the file format use.
    return Write(text, bytes) == bytes;
}

uint32_t CVELK_xFile::ReadAt(int64_t position, void* buffer, uint32_t count)
{
    return Seek(position) ? Read(buffer, count) : 0;
}

uint32_t CVELK_xFile::WriteAt(int64_t position, const void* buffer, uint32_t count)
{
    return Seek(position) ? Write(buffer, count) : 0;
}

bool CVELK_xFile::Describe(VelkFileFacts*)
{
    return false;
}

bool CVELK_xFile::Reserve(int64_t, int64_t)
{
    return true;
}
