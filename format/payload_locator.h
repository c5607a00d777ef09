// Where the payload starts in a patch file: right after the executable image, as the
// executable's own headers describe it, so no number has to be kept in step with the build.
// A file that is not an executable is a bare payload at offset 0.
#pragma once

#include <cstdint>

#include "file/native_path.h"
#include "file/velk_xfile.h"

// The end of the executable image (PE or ELF), 0 when the file is not an executable, -1 when
// the file cannot be read.
int64_t FindPayloadOffset(CVELK_xFile& file);
int64_t FindPayloadOffset(const NativeChar* path);

// What Authenticode signing changes in a PE file, as file offsets: the optional header's
// CheckSum, and the certificate table's directory entry with the table's place and size that
// it holds (both 0 when the file is unsigned).
struct PeSignatureFields {
    uint64_t checksumAt = 0;
    uint64_t entryAt = 0;
    uint64_t tableOffset = 0;
    uint64_t tableSize = 0;
};

// False when the file is not a PE file whose headers have a certificate table entry.
bool FindPeSignatureFields(CVELK_xFile& file, PeSignatureFields* fields);
