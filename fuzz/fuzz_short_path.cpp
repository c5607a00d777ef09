// The short path retry: the portable algorithm over a made-up file system whose answers the
// input decides (including short forms that do not fit), and, on POSIX, over the real stand-in
// that asks the file system. Every result must fit the 260-unit buffer, NUL included, and a
// failure must leave it empty.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "file/short_path.h"
#include "fuzz/fuzz_support.h"

namespace {

// Answers from a hash of the path and a seed: some paths are missing, some are folders, and
// short forms come truncated per name, unchanged, or too long for the caller's buffer.
template <class Char>
class MadeUpFileSystem : public ShortPathServices<Char> {
public:
    explicit MadeUpFileSystem(uint64_t seed) : m_seed(seed) {}

    uint32_t ShortName(const Char* path, Char* out, uint32_t capacity) const override
    {
        if (Attributes(path) == kInvalidFileAttributes) return 0;
        std::basic_string<Char> shortForm;
        const uint64_t h = Hash(path) >> 8;
        if (h % 5 == 0) return capacity + static_cast<uint32_t>(h % 7);  // does not fit
        size_t nameLength = 0;
        for (const Char* p = path; *p; ++p) {
            nameLength = *p == Char('\\') ? 0 : nameLength + 1;
            if (h % 5 == 1 || nameLength <= 8) shortForm.push_back(*p);
        }
        if (h % 5 == 2) shortForm.append(h % 300, Char('~'));  // a long answer
        if (shortForm.size() + 1 > capacity) return static_cast<uint32_t>(shortForm.size() + 1);
        std::memcpy(out, shortForm.c_str(), (shortForm.size() + 1) * sizeof(Char));
        return static_cast<uint32_t>(shortForm.size());
    }
    uint32_t Attributes(const Char* path) const override
    {
        switch (Hash(path) % 4) {
        case 0: return kInvalidFileAttributes;
        case 1: return kFileAttributeDirectory;
        default: return 0x80u;
        }
    }

private:
    uint64_t Hash(const Char* path) const
    {
        uint64_t h = m_seed ^ 0xCBF29CE484222325ull;
        for (const Char* p = path; *p; ++p) h = (h ^ static_cast<uint64_t>(*p)) * 0x100000001B3ull;
        return h;
    }
    uint64_t m_seed;
};

template <class Char>
void Check(const Char* path, int which, const ShortPathServices<Char>& services)
{
    // Exactly the buffer size the callers have, on the heap, so a unit past it is caught.
    std::unique_ptr<Char[]> out(new Char[kMaxPathUnits]);
    std::fill(out.get(), out.get() + kMaxPathUnits, Char('#'));
    bool done = false;
    switch (which % 4) {
    case 0: done = ToShortPath(path, out.get(), services); break;
    case 1: done = ToShortFolderPath(path, out.get(), services); break;
    case 2: done = GetRetryPath(path, kDispositionOpenExisting, out.get(), services); break;
    default: done = GetRetryPath(path, kDispositionCreating, out.get(), services); break;
    }
    bool terminated = false;
    for (int i = 0; i < kMaxPathUnits && !terminated; ++i) terminated = out[i] == 0;
    VELK_FUZZ_CHECK(terminated);
    if (!done) VELK_FUZZ_CHECK(out[0] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const int which = static_cast<int>(input.Take(1));
    const uint64_t seed = input.Take(2);
    const std::vector<uint8_t> rest = input.Rest();

    std::string narrow;
    for (uint8_t b : rest)
        if (b != 0) narrow.push_back(static_cast<char>(b));
    std::u16string wide;
    for (size_t i = 0; i + 1 < rest.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(rest[i] | rest[i + 1] << 8);
        if (unit != 0) wide.push_back(unit);
    }

    Check(narrow.c_str(), which, MadeUpFileSystem<char>(seed));
    Check(wide.c_str(), which, MadeUpFileSystem<char16_t>(seed));
#ifndef _WIN32
    // The POSIX stand-in asks the real file system (stat only; nothing is changed).
    Check(narrow.c_str(), which, PlatformShortPathServices());
#endif
    return 0;
}
