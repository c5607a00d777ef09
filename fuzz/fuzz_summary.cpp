// The summary read at start-up, over a patch file taken whole from the input. The first byte
// also chooses a payload offset inside it, so payloads behind other bytes are read too.
#include <cstring>
#include <memory>
#include <string>

#include "file/io.h"
#include "file/memory_file.h"
#include "format/payload_format.h"
#include "format/summary.h"
#include "fuzz/fuzz_support.h"

namespace {

size_t Units(const char16_t* text, size_t capacity)
{
    size_t n = 0;
    while (n < capacity && text[n] != 0) ++n;
    return n;
}

void ReadAt(const std::vector<uint8_t>& bytes, int64_t offset)
{
    CVELK_MemoryFile file(bytes, kAccessRead);
    // 128 KiB of description buffer: on the heap, as the program keeps it.
    std::unique_ptr<CQM_DravInfo> info(new CQM_DravInfo);
    const bool read = info->ReadInfoFrom(file, offset);
    VELK_FUZZ_CHECK(Units(info->VersionText(), CQM_DravInfo::kVersionUnits) < CQM_DravInfo::kVersionUnits);
    VELK_FUZZ_CHECK(Units(info->Description(), CQM_DravInfo::kDescriptionUnits) <= 32768);
    if (!read) {
        VELK_FUZZ_CHECK(info->PatchedSize() == 0 && info->TargetCrc() == 0);
        VELK_FUZZ_CHECK(info->VersionText()[0] == 0 && info->Description()[0] == 0);
        return;
    }
    // What was accepted is what the header says.
    const uint8_t* header = bytes.data() + offset;
    VELK_FUZZ_CHECK(bytes.size() >= static_cast<uint64_t>(offset) + 32);
    VELK_FUZZ_CHECK(velk_format::ClassifyMagic(header, 16) == velk_format::VersionVerdict::kCurrent);
    VELK_FUZZ_CHECK(info->PatchedSize() == static_cast<int64_t>(velk_io::LoadLE(header + 16, 8)));
    VELK_FUZZ_CHECK(info->TargetCrc() == velk_io::LoadLE(header + 24, 4));
    const uint64_t dataOffset = velk_io::LoadLE(header + 28, 4);
    VELK_FUZZ_CHECK(dataOffset >= 40 && dataOffset < bytes.size());
    // The result's CRC-32 is there exactly when the extension block counts.
    uint32_t resultCrc = 0;
    const bool block = ModelExtensionBlock(bytes, static_cast<uint64_t>(offset), dataOffset, &resultCrc);
    VELK_FUZZ_CHECK(block == (info->ResultIdentity() != nullptr));
    if (block) VELK_FUZZ_CHECK(info->ResultIdentity()->resultCrc == resultCrc && !info->FormatResultLine().empty());
    const std::u16string summary = info->FormatSummary();
    VELK_FUZZ_CHECK(summary.find(u"补丁版本: VELK-PATCH") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    ReadAt(bytes, 0);
    if (size > 1) ReadAt(bytes, data[0] % size);
    return 0;
}
