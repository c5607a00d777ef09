// What the first few KiB of a file say it is: for telling the user why a file is not the one a
// patch expects (an archive still packed, the patch itself, a CD's cue sheet picked instead of
// its image).
#pragma once

#include <cstdint>

#include "file/velk_xfile.h"

enum class VelkFileKind {
    kUnknown,
    kEmpty,
    kPatch,  // a patch program with a payload behind its image, or a bare payload
    kZip,
    k7z,
    kRar,
    kGzip,
    kXz,
    kText,  // small, and nothing but text in its first bytes (a CD's cue sheet, a read-me)
};

namespace velk_file_kind {

// At most this much is read from the start of the file, plus the few bytes where a payload
// would begin.
constexpr uint32_t kSniffBytes = 4096;
// A text file longer than this is not taken for a small one.
constexpr int64_t kSmallTextBytes = 1 << 20;

// `size` is the file's size. Moves the file's position.
VelkFileKind Sniff(CVELK_xFile& file, int64_t size);

// The archive format's usual name ("zip"), or null for a kind that is no archive.
const char16_t* ArchiveName(VelkFileKind kind);

}  // namespace velk_file_kind
