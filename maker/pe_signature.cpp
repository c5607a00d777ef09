#include "maker/pe_signature.h"

#include <algorithm>

#include "file/io.h"
#include "file/io_buffer.h"
#include "format/payload_locator.h"

namespace {

// The PE checksum: the 16-bit little-endian words of the file summed with end-around carry, the
// CheckSum field itself counted as zero, plus the file's length.
bool ComputeChecksum(CVELK_xFile& file, uint64_t length, uint64_t checksumAt, uint32_t* checksum)
{
    constexpr uint32_t kChunk = 1u << 16;  // even, so that words never straddle two chunks
    CVELK_IoBuffer chunk(kChunk);
    uint8_t* const buffer = chunk.Data();
    if (!buffer || !file.Seek(0)) return false;
    uint64_t sum = 0;
    for (uint64_t at = 0; at < length;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kChunk, length - at));
        if (velk_io::ReadFully(file, buffer, n) != n) return false;
        for (uint64_t i = std::max(at, checksumAt); i < std::min(at + n, checksumAt + 4); ++i)
            buffer[static_cast<size_t>(i - at)] = 0;
        for (uint32_t i = 0; i < n; i += 2) {
            sum += buffer[i] | (i + 1 < n ? uint32_t(buffer[i + 1]) << 8 : 0u);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        at += n;
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    *checksum = static_cast<uint32_t>(sum + length);
    return true;
}

}  // namespace

int64_t RemovePeSignature(CVELK_xFile& file, int64_t length)
{
    if (length < 0) return -1;
    const uint64_t end = static_cast<uint64_t>(length);
    PeSignatureFields fields;
    const bool signedPe = FindPeSignatureFields(file, &fields) && (fields.tableOffset != 0 || fields.tableSize != 0) &&
                          fields.entryAt + 8 <= end && fields.checksumAt + 4 <= end;
    if (!signedPe) return file.Seek(length) ? length : -1;

    uint64_t image = end;
    if (fields.tableOffset > fields.entryAt && fields.tableOffset + fields.tableSize == end) image = fields.tableOffset;
    const uint8_t noEntry[8] = {};
    uint32_t checksum = 0;
    uint8_t field[4];
    if ((image != end && !file.SetSize(static_cast<int64_t>(image))) || !file.Seek(static_cast<int64_t>(fields.entryAt)) ||
        file.Write(noEntry, sizeof noEntry) != sizeof noEntry || !ComputeChecksum(file, image, fields.checksumAt, &checksum))
        return -1;
    velk_io::StoreLE(field, checksum, 4);
    if (!file.Seek(static_cast<int64_t>(fields.checksumAt)) || file.Write(field, 4) != 4 ||
        !file.Seek(static_cast<int64_t>(image)))
        return -1;
    return static_cast<int64_t>(image);
}
