// Finding the payload behind an executable image: PE and ELF headers from the input, with
// section and segment tables that may point anywhere.
#include "file/memory_file.h"
#include "fuzz/fuzz_support.h"
#include "payload/payload_locator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CVELK_MemoryFile file(std::vector<uint8_t>(data, data + size), kAccessRead);
    const int64_t offset = FindPayloadOffset(file);
    VELK_FUZZ_CHECK(offset >= 0);  // an open in-memory file can always be read
    const bool executable = size >= 2 && ((data[0] == 'M' && data[1] == 'Z') || (data[0] == 0x7F && data[1] == 'E'));
    if (!executable) VELK_FUZZ_CHECK(offset == 0);
    return 0;
}
