// Retry path for an open that failed because the file was not found: the same path respelled
// with the short (8.3) names the file system keeps beside the long ones. The algorithm is
// portable and works on the platform's path units; the two platform services it needs come
// through ShortPathServices so that tests and fuzzers can stand in for them.
#pragma once

#include <cstdint>

#include "file/native_path.h"

enum ShortPathDisposition {
    kDispositionOpenExisting,  // modes 1 to 3: the whole path must exist
    kDispositionCreating,      // modes 4 and 9: the folder must exist, the file may not
};

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeDirectory = 0x10u;

template <class Char>
class ShortPathServices {
public:
    virtual ~ShortPathServices() {}
    // The short form of an existing path in `out` (capacity in units); its length without the
    // NUL, 0 on failure, or the size it would need (>= capacity) when it does not fit.
    virtual uint32_t ShortName(const Char* path, Char* out, uint32_t capacity) const = 0;
    // The path's attributes, kInvalidFileAttributes when it does not exist.
    virtual uint32_t Attributes(const Char* path) const = 0;
};

// The platform's own services (GetShortPathNameW and GetFileAttributesW on Windows; elsewhere a
// stand-in that answers the path itself when it exists).
const ShortPathServices<NativeChar>& PlatformShortPathServices();

// Each writes at most kMaxPathUnits units, NUL included, into `out`; false leaves it empty.
template <class Char>
bool ToShortPath(const Char* path, Char* out, const ShortPathServices<Char>& services);
template <class Char>
bool ToShortFolderPath(const Char* path, Char* out, const ShortPathServices<Char>& services);
template <class Char>
bool GetRetryPath(const Char* path, ShortPathDisposition disposition, Char* out,
                  const ShortPathServices<Char>& services);

inline bool GetRetryPath(const NativeChar* path, ShortPathDisposition disposition, NativeChar* out)
{
    return GetRetryPath(path, disposition, out, PlatformShortPathServices());
}
inline bool ToShortPath(const NativeChar* path, NativeChar* out)
{
    return ToShortPath(path, out, PlatformShortPathServices());
}
inline bool ToShortFolderPath(const NativeChar* path, NativeChar* out)
{
    return ToShortFolderPath(path, out, PlatformShortPathServices());
}
