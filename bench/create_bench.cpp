// Creating a patch from a 1 GiB pair with scattered changes, against reading both files once.
// Side by side on the same cached files:
//   read both once     CVELK_File read loops over the original and the modified file;
//   patch builder      CVELK_PatchBuilder, the engine of `velkpatch create`, with the CRC check;
//   velkpatch create   the program itself (when --velkpatch=PATH is given), process start included.
//   velk_bench_create [--mib=1024] [--changes=20000] [--reps=5] [--velkpatch=PATH]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "bench/bench_harness.h"
#include "file/memory_file.h"
#include "file/velk_file.h"
#include "maker/patch_builder.h"
#include "support/test_support.h"

namespace {

bool MakePair(const NativeString& original, const NativeString& modified, int64_t bytes, uint32_t changes)
{
    CVELK_File a, b;
    if (!a.OpenFile(original.c_str(), kModeCreateTruncate, kShareRead)) return false;
    if (!b.OpenFile(modified.c_str(), kModeCreateTruncate, kShareRead)) return false;
    std::mt19937 random(1);
    const uint32_t block = 4u << 20;
    const double changesPerByte = static_cast<double>(changes) / static_cast<double>(bytes);
    std::vector<uint8_t> data = PatternBytes(block, 2);
    for (int64_t at = 0; at < bytes; at += block) {
        data[0] = static_cast<uint8_t>(at >> 22);
        if (a.Write(data.data(), block) != block) return false;
        std::vector<uint8_t> changed = data;
        // Runs of 1 to 64 changed bytes at random places.
        const auto count = static_cast<uint32_t>(changesPerByte * block + 0.5);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t where = random() % (block - 64), length = 1 + random() % 64;
            for (uint32_t k = 0; k < length; ++k) changed[where + k] ^= static_cast<uint8_t>(1 + random() % 255);
        }
        if (b.Write(changed.data(), block) != block) return false;
    }
    return true;
}

bool ReadWhole(const NativeString& path, std::vector<uint8_t>& buffer)
{
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareRead)) return false;
    uint64_t sum = 0;
    for (;;) {
        const uint32_t n = file.Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
        if (n == 0) break;
        sum += buffer[n - 1];
    }
    velk_bench::Keep(sum);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace velk_bench;
    const int64_t bytes = std::stoll(Option(argc, argv, "mib", "1024")) << 20;
    const auto changes = static_cast<uint32_t>(std::stoul(Option(argc, argv, "changes", "20000")));
    const int reps = std::stoi(Option(argc, argv, "reps", "5"));
    const std::string velkpatch = Option(argc, argv, "velkpatch", "");

    TempDir dir;
    const NativeString original = dir.Path("original.img"), modified = dir.Path("modified.img");
    const NativeString output = dir.Path("patch.bin");
    if (!MakePair(original, modified, bytes, changes)) {
        std::fprintf(stderr, "cannot write the test files\n");
        return 1;
    }
    std::vector<uint8_t> buffer(2u << 20);
    ReadWhole(original, buffer);  // both into the page cache
    ReadWhole(modified, buffer);

    uint64_t payloadBytes = 0, records = 0;
    std::vector<Contender> contenders = {
        {"read both once", nullptr, [&] { return ReadWhole(original, buffer) && ReadWhole(modified, buffer); }, reps},
        {"patch builder", nullptr, [&] {
             CVELK_File a, b, out;
             if (!a.OpenFile(original.c_str(), kModeReadExisting, kShareRead) ||
                 !b.OpenFile(modified.c_str(), kModeReadExisting, kShareRead) ||
                 !out.OpenFile(output.c_str(), kModeCreateTruncate, kShareRead))
                 return false;
             CVELK_PatchBuilder builder(a, b);
             if (builder.Build(out) != VelkBuildStatus::kOk) return false;
             payloadBytes = builder.Stats().payloadBytes;
             records = builder.Stats().records;
             return true;
         }, reps},
    };
    if (!velkpatch.empty()) {
        const std::string command = velkpatch + " create '" + std::string(original.begin(), original.end()) + "' '" +
                                    std::string(modified.begin(), modified.end()) + "' --payload-only -o '" +
                                    std::string(output.begin(), output.end()) + ".cli' >/dev/null 2>&1";
        contenders.push_back({"velkpatch create", nullptr, [command] { return std::system(command.c_str()) == 0; }, reps});
    }
    if (!RunAll(contenders)) return 1;
    PrintTable("create: " + std::to_string(bytes >> 20) + " MiB pair, " + std::to_string(records) +
                   " records, payload " + std::to_string(payloadBytes) + " bytes (MB/s: both inputs)",
               contenders, 2.0 * static_cast<double>(bytes), "read both once");
    return 0;
}
