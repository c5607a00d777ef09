// Whole-file CRC of a file in the page cache: CVELK_File::GetCrc32 against a plain read loop over
// the same file, and the CRC loop with chunks of 1 to 32 MiB (how GetCrc32's chunk was chosen).
//   velk_bench_file_crc [--mib=2048] [--path=/tmp/velk-bench-crc.bin] [--reps=5]
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/bench_harness.h"
#include "crc/crc32.h"
#include "file/velk_file.h"
#include "support/test_support.h"

namespace {

bool MakeFile(const NativeString& path, int64_t bytes)
{
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeCreateTruncate, kShareRead)) return false;
    std::vector<uint8_t> block = PatternBytes(4u << 20, 1);
    for (int64_t done = 0; done < bytes; done += static_cast<int64_t>(block.size())) {
        block[0] = static_cast<uint8_t>(done >> 22);
        if (file.Write(block.data(), static_cast<uint32_t>(block.size())) != block.size()) return false;
    }
    return true;
}

// Reads the whole file in `chunk`-byte reads; the CRC of it when `crc` is set.
bool ReadLoop(CVELK_File& file, uint8_t* buffer, uint32_t chunk, bool crc, uint32_t* value)
{
    if (!file.Seek(0)) return false;
    _m_CRC32 accumulator;
    uint64_t sum = 0;
    for (;;) {
        const uint32_t n = file.Read(buffer, chunk);
        if (n == 0) break;
        if (crc)
            *value = accumulator.Update(buffer, n);
        else
            sum += buffer[n - 1];  // the data must be looked at, or nothing forces the copy
    }
    velk_bench::Keep(sum);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace velk_bench;
    const int64_t bytes = std::stoll(Option(argc, argv, "mib", "2048")) << 20;
    const NativeString path = Native(Option(argc, argv, "path", "/tmp/velk-bench-crc.bin"));
    const int reps = std::stoi(Option(argc, argv, "reps", "5"));

    if (!MakeFile(path, bytes)) {
        std::fprintf(stderr, "cannot write the test file\n");
        return 1;
    }
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareRead)) return 1;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[32u << 20]);
    uint32_t warm = 0;
    ReadLoop(file, buffer.get(), 4u << 20, false, &warm);  // into the page cache

    uint32_t expected = 0;
    bool agree = true;
    std::vector<Contender> contenders;
    for (uint32_t mib : {1u, 4u})
        contenders.push_back({"read loop, " + std::to_string(mib) + " MiB reads", nullptr, [&, mib] {
                                  uint32_t unused = 0;
                                  return ReadLoop(file, buffer.get(), mib << 20, false, &unused);
                              }, reps});
    contenders.push_back({"GetCrc32", nullptr, [&] {
                              const uint32_t crc = file.GetCrc32();
                              if (expected == 0) expected = crc;
                              agree &= crc == expected;
                              return crc != 0;
                          }, reps});
    for (uint32_t mib : {1u, 2u, 4u, 8u, 32u})
        contenders.push_back({"CRC loop, " + std::to_string(mib) + " MiB chunks", nullptr, [&, mib] {
                                  uint32_t crc = 0;
                                  const bool ok = ReadLoop(file, buffer.get(), mib << 20, true, &crc);
                                  agree &= crc == expected;
                                  return ok;
                              }, reps});
    const bool ran = RunAll(contenders);
    file.Close();
    if (Option(argc, argv, "keep", "0") != "1") std::remove(Option(argc, argv, "path", "/tmp/velk-bench-crc.bin").c_str());
    if (!ran) return 1;

    const std::string baseline = MedianOf(contenders, contenders[0].name) <= MedianOf(contenders, contenders[1].name)
                                     ? contenders[0].name
                                     : contenders[1].name;
    PrintTable("Whole-file CRC of a " + std::to_string(bytes >> 20) + " MiB cached file (chunk of GetCrc32: " +
                   std::to_string(CVELK_File::kCrcChunkBytes >> 20) + " MiB)",
               contenders, static_cast<double>(bytes), baseline);
    if (!agree) {
        std::printf("\nCRC VALUES DISAGREE\n");
        return 1;
    }
    return 0;
}
