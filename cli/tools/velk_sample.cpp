// Writes a deterministic pair of sample disc images: an original and a modified one, the way a
// translation or a fix changes a game image. The same arguments always give the same bytes.
//
//   velk_sample ORIGINAL MODIFIED [--size MIB] [--seed N]
//
// The original mixes what real images hold: zero padding, compressible tables, text and
// incompressible data. The modified image changes text in place (short runs a few bytes
// apart), patches single bytes and small fields all over, replaces a few larger blocks, and
// grows by some data followed by zero padding.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    // Below a size of this machine: it fits a size_t.
    size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

private:
    uint64_t m_state;
};

constexpr size_t kSector = 2048;

void FillOriginal(std::vector<uint8_t>& image, Random& random)
{
    static const char kWords[] = "the quick brown fox jumps over a lazy dog while the hero opens the gate ";
    for (size_t at = 0; at < image.size();) {
        const size_t length = std::min<size_t>(image.size() - at, kSector * (1 + random.Below(64)));
        switch (random.Below(4)) {
        case 0:  // padding
            std::memset(&image[at], 0, length);
            break;
        case 1:  // tables: slowly rising values
            for (size_t i = 0; i < length; ++i) image[at + i] = static_cast<uint8_t>((at + i) / 64 + i % 7);
            break;
        case 2:  // text
            for (size_t i = 0; i < length; ++i) image[at + i] = static_cast<uint8_t>(kWords[(at + i) % (sizeof kWords - 1)]);
            break;
        default:  // compressed data
            for (size_t i = 0; i < length; ++i) image[at + i] = static_cast<uint8_t>(random.Next() >> 32);
            break;
        }
        at += length;
    }
}

void Modify(std::vector<uint8_t>& image, size_t originalSize, Random& random)
{
    const size_t size = originalSize;
    // Text edited in place: short runs a few bytes apart, a few hundred bytes per place.
    for (int k = 0, places = static_cast<int>(size / (256 * 1024)); k < places; ++k) {
        size_t at = random.Below(size - 4096);
        const size_t end = at + 64 + random.Below(512);
        while (at < end) {
            const size_t run = 1 + random.Below(12);
            for (size_t i = 0; i < run; ++i) image[at + i] = static_cast<uint8_t>(0xA0 + random.Below(0x5F));
            at += run + random.Below(16);
        }
    }
    // Single bytes and small fields (pointers, counters) everywhere.
    for (size_t k = 0, count = size / 4096; k < count; ++k) {
        const size_t at = random.Below(size - 8);
        const size_t width = size_t(1) << random.Below(3);
        for (size_t i = 0; i < width; ++i) image[at + i] ^= static_cast<uint8_t>(1 + random.Below(255));
    }
    // A few replaced files: whole blocks of new data, longer than one record.
    for (int k = 0; k < 4; ++k) {
        const size_t length = 32 * 1024 + random.Below(160 * 1024);
        const size_t at = random.Below(size - length);
        for (size_t i = 0; i < length; ++i) image[at + i] = static_cast<uint8_t>(random.Next() >> 40);
    }
}

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

int Usage()
{
    std::fprintf(stderr, "usage: velk_sample ORIGINAL MODIFIED [--size MIB] [--seed N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return Usage();
    uint64_t mib = 48, seed = 1;
    for (int i = 3; i < argc; ++i) {
        if (i + 1 < argc && std::strcmp(argv[i], "--size") == 0)
            mib = std::strtoull(argv[++i], nullptr, 10);
        else if (i + 1 < argc && std::strcmp(argv[i], "--seed") == 0)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else
            return Usage();
    }
    if (mib == 0 || mib > (1u << 16)) return Usage();

    Random random(seed);
    const size_t size = static_cast<size_t>(mib) << 20;
    std::vector<uint8_t> image(size);
    FillOriginal(image, random);
    if (!WriteFile(argv[1], image)) {
        std::fprintf(stderr, "velk_sample: cannot write %s\n", argv[1]);
        return 1;
    }
    // The modified image grows by a new file and zero padding up to the next 64 KiB.
    const size_t grown = size + 300000;
    image.resize((grown + 0xFFFF) & ~size_t(0xFFFF), 0);
    for (size_t i = size; i < grown; ++i) image[i] = static_cast<uint8_t>(random.Next() >> 24);
    Modify(image, size, random);
    if (!WriteFile(argv[2], image)) {
        std::fprintf(stderr, "velk_sample: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
