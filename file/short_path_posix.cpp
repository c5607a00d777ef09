// POSIX has no short names: the stand-in answers the path itself when it exists, so every rule
// of the retry holds and a retry simply repeats the first attempt.
#include <sys/stat.h>

#include <cstring>

#include "file/short_path.h"

namespace {

class PosixShortPathServices : public ShortPathServices<char> {
public:
    uint32_t ShortName(const char* path, char* out, uint32_t capacity) const override
    {
        struct stat info;
        if (stat(path, &info) != 0) return 0;
        const size_t n = std::strlen(path);
        if (n + 1 > capacity) return static_cast<uint32_t>(n + 1);
        std::memcpy(out, path, n + 1);
        return static_cast<uint32_t>(n);
    }
    uint32_t Attributes(const char* path) const override
    {
        struct stat info;
        if (stat(path, &info) != 0) return kInvalidFileAttributes;
        return S_ISDIR(info.st_mode) ? kFileAttributeDirectory : 0x80u;  // FILE_ATTRIBUTE_NORMAL
    }
};

}  // namespace

const ShortPathServices<char>& PlatformShortPathServices()
{
    static const PosixShortPathServices services;
    return services;
}
