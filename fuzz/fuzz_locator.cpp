// Finding the payload behind an executable image: PE and ELF headers from the input, with
// section and segment tables that may point anywhere; and taking the signature off the image
// found, as create does with a signed patch as its stub.
#include "file/memory_file.h"
#include "format/payload_locator.h"
#include "fuzz/fuzz_support.h"
#include "maker/pe_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CVELK_MemoryFile file(std::vector<uint8_t>(data, data + size), kAccessRead);
    const int64_t offset = FindPayloadOffset(file);
    VELK_FUZZ_CHECK(offset >= 0);  // an open in-memory file can always be read
    const bool executable = size >= 2 && ((data[0] == 'M' && data[1] == 'Z') || (data[0] == 0x7F && data[1] == 'E'));
    if (!executable) VELK_FUZZ_CHECK(offset == 0);

    // Unsigned, the image is never longer than it was, and stays unsigned: a second pass
    // changes nothing.
    if (offset > 0 && static_cast<uint64_t>(offset) <= size) {
        CVELK_MemoryFile image(std::vector<uint8_t>(data, data + offset));
        const int64_t length = RemovePeSignature(image, offset);
        VELK_FUZZ_CHECK(length >= 0 && length <= offset && image.GetSize() == length);
        const std::vector<uint8_t> once = image.Bytes();
        VELK_FUZZ_CHECK(RemovePeSignature(image, length) == length && image.Bytes() == once);
    }
    return 0;
}
