#include "file/relative_path.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "file/utf8.h"

namespace {

// The lower case of the letters whose case file systems ignore in names of the Latin, Greek and
// Cyrillic scripts and of the full-width forms; every other code point is its own.
uint32_t Lower(uint32_t c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
    if (c == 0x178) return 0xFF;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;
    return c;
}

bool IsDeviceName(const char* part, size_t bytes)
{
    // Windows takes the name before the first dot, whatever follows: "nul.txt" is NUL too.
    size_t base = 0;
    while (base < bytes && part[base] != '.') ++base;
    char name[8] = {};
    if (base < 3 || base > 7) return false;
    for (size_t i = 0; i < base; ++i) name[i] = static_cast<char>(part[i] >= 'a' && part[i] <= 'z' ? part[i] - 32 : part[i]);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (std::strcmp(name, device) == 0) return true;
    }
    if (base == 4 && (std::memcmp(name, "COM", 3) == 0 || std::memcmp(name, "LPT", 3) == 0) && name[3] >= '0' &&
        name[3] <= '9')
        return true;
    // COM¹ and the like: a superscript digit in UTF-8.
    return base == 5 && (std::memcmp(name, "COM", 3) == 0 || std::memcmp(name, "LPT", 3) == 0) &&
           static_cast<unsigned char>(name[3]) == 0xC2 &&
           (static_cast<unsigned char>(name[4]) == 0xB9 || static_cast<unsigned char>(name[4]) == 0xB2 ||
            static_cast<unsigned char>(name[4]) == 0xB3);
}

bool IsSafePart(const char* part, size_t bytes)
{
    if (bytes == 0) return false;
    if ((bytes == 1 && part[0] == '.') || (bytes == 2 && part[0] == '.' && part[1] == '.')) return false;
    if (part[bytes - 1] == '.' || part[bytes - 1] == ' ') return false;
    return !IsDeviceName(part, bytes);
}

// '/' orders before every other byte, so that a folder's entries follow its own name at once.
int OrderOf(unsigned char c)
{
    return c == '/' ? -1 : c;
}

}  // namespace

bool IsSafeRelativePath(const char* path, size_t bytes, size_t limit)
{
    if (bytes == 0 || bytes > limit) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(path);
    size_t partStart = 0;
    for (size_t i = 0; i < bytes;) {
        uint32_t code = 0;
        size_t length = 0;
        if (!DecodeUtf8(p + i, bytes - i, &code, &length)) return false;
        if (code == '/') {
            if (!IsSafePart(path + partStart, i - partStart)) return false;
            partStart = i + 1;
        } else if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0) ||
                   (code < 0x80 && std::strchr("\\:<>\"|?*", static_cast<int>(code)) != nullptr)) {
            return false;  // controls, and what Windows keeps for itself: separators, drives, streams
        }
        i += length;
    }
    return IsSafePart(path + partStart, bytes - partStart);
}

size_t FoldRelativePath(const char* path, size_t bytes, char* out, size_t capacity)
{
    const auto* p = reinterpret_cast<const unsigned char*>(path);
    size_t written = 0;
    for (size_t i = 0; i < bytes;) {
        uint32_t code = 0;
        size_t length = 1;
        char encoded[4];
        size_t n;
        if (DecodeUtf8(p + i, bytes - i, &code, &length)) {
            n = EncodeUtf8(Lower(code), encoded);
        } else {
            encoded[0] = path[i];
            n = 1;
        }
        if (written + n > capacity) break;
        std::memcpy(out + written, encoded, n);
        written += n;
        i += length;
    }
    return written;
}

int CompareFoldedPaths(const char* a, size_t aBytes, const char* b, size_t bBytes)
{
    for (size_t i = 0; i < aBytes && i < bBytes; ++i) {
        const int x = OrderOf(static_cast<unsigned char>(a[i])), y = OrderOf(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return aBytes == bBytes ? 0 : aBytes < bBytes ? -1 : 1;
}

