// The CRC check of a file in the page cache against a plain read of the same file, side by side:
//   aligned read              1 MiB reads into a page-aligned buffer: the baseline, the floor of
//                             any check that must read the file;
//   read at page + N         the same into a buffer N bytes past a page boundary: glibc's malloc
//                             and new[] hand out blocks of 128 KiB and more at page + 16;
//   read, then CRC            each chunk read and then summed, one after the other, one thread;
//   CRC check                 StretchCrc as the application runs it (CVELK_File::GetCrc32 too):
//                             the next chunk read on a thread of its own while one is summed;
//                             also with other chunk sizes.
//   velk_bench_file_crc [--mib=1024] [--path=/tmp/velk-bench-crc.bin] [--reps=7] [--keep=1]
#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/bench_harness.h"
#include "crc/crc32.h"
#include "file/io_buffer.h"
#include "file/stretch_reader.h"
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

// Reads the whole file in `chunk`-byte reads into `buffer`; the CRC of it when `crc` is set.
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
    const int64_t bytes = std::stoll(Option(argc, argv, "mib", "1024")) << 20;
    const std::string pathText = Option(argc, argv, "path", "/tmp/velk-bench-crc.bin");
    const NativeString path = Native(pathText);
    const int reps = std::stoi(Option(argc, argv, "reps", "7"));

    if (!MakeFile(path, bytes)) {
        std::fprintf(stderr, "cannot write the test file\n");
        return 1;
    }
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareRead)) return 1;
    const uint32_t mib = 1u << 20;
    CVELK_IoBuffer aligned(mib), shifted(mib + 64);
    uint32_t unused = 0;
    ReadLoop(file, aligned.Data(), mib, false, &unused);  // into the page cache

    const uint32_t expected = file.GetCrc32();
    bool agree = expected != 0;
    std::vector<Contender> contenders = {
        {"aligned read", nullptr, [&] { return ReadLoop(file, aligned.Data(), mib, false, &unused); }, reps},
        {"read at page + 8", nullptr, [&] { return ReadLoop(file, shifted.Data() + 8, mib, false, &unused); }, reps},
        {"read at page + 16", nullptr, [&] { return ReadLoop(file, shifted.Data() + 16, mib, false, &unused); }, reps},
        {"read at page + 64", nullptr, [&] { return ReadLoop(file, shifted.Data() + 64, mib, false, &unused); }, reps},
        {"read, then CRC", nullptr, [&] {
             uint32_t crc = 0;
             const bool ok = ReadLoop(file, aligned.Data(), mib, true, &crc);
             agree &= crc == expected;
             return ok;
         }, reps},
    };
    for (uint32_t kib : {2048u, 1024u, 4096u, 8192u}) {
        const std::string name = kib == CVELK_StretchReader::kChunkBytes >> 10
                                     ? "CRC check"
                                     : "CRC check, " + std::to_string(kib) + " KiB chunks";
        contenders.push_back({name, nullptr, [&, kib] {
                                  uint32_t crc = 0;
                                  const bool ok = StretchCrc(file, 0, bytes, nullptr, &crc, nullptr, kib << 10) ==
                                                  StretchCrcVerdict::kComputed;
                                  agree &= crc == expected;
                                  return ok;
                              }, reps});
    }
    const bool ran = RunAll(contenders);
    file.Close();
    if (Option(argc, argv, "keep", "0") != "1") std::remove(pathText.c_str());
    if (!ran) return 1;

    PrintTable("CRC check of a " + std::to_string(bytes >> 20) + " MiB cached file", contenders,
               static_cast<double>(bytes), "aligned read");
    if (!agree) {
        std::printf("\nCRC VALUES DISAGREE\n");
        return 1;
    }
    return 0;
}
