// What verifying a patched disc image costs: the result's CRC-32 derived from the verified CRC of
// the original and the bytes the records change (CVELK_ResultCheck), against reading the whole
// patched file again. A pattern image of --mib MiB with --edits scattered runs of 1 to 64 bytes,
// grown by --grow-mib MiB (zeros, then a record at the end), all in the page cache. Side by side:
//   the check alone   full re-read: CRC-32 of the whole patched file (CVELK_File::GetCrc32);
//                     derived: the ranges noted, their old bytes taken from the original as the
//                     CRC check's read shows it (here from memory: the application reads it for
//                     its CRC check anyway), their new bytes and the grown part read from the
//                     patched file, combined;
//   the application   CVELK_IPS_IN::ApplyPatch (journal and flushes included) of the same records
//                     without the extension block, with it (result verified), and without it
//                     followed by a full re-read of the target.
//   velk_bench_result_check [--mib=320] [--edits=10000] [--grow-mib=0] [--reps=7] [--dir=FOLDER]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "apply/application.h"
#include "apply/messages.h"
#include "apply/result_check.h"
#include "bench/bench_engine.h"
#include "bench/bench_harness.h"
#include "crc/crc32.h"
#include "file/velk_file.h"
#include "format/extension_block.h"
#include "maker/payload_writer.h"
#include "support/test_support.h"

namespace {

uint32_t Crc(const std::vector<uint8_t>& bytes)
{
    return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace velk_bench;
    const int64_t originalBytes = std::stoll(Option(argc, argv, "mib", "320")) << 20;
    const int64_t patchedBytes = originalBytes + (std::stoll(Option(argc, argv, "grow-mib", "0")) << 20);
    const uint32_t edits = static_cast<uint32_t>(std::stoul(Option(argc, argv, "edits", "10000")));
    const int reps = std::stoi(Option(argc, argv, "reps", "7"));
    const std::string folder = Option(argc, argv, "dir", "");

    // Names of this run's own: other benchmarks may be using the same folder at the same time.
    TempDir dir;
    const std::string prefix = folder + "/velk-result-check-" + std::to_string(ProcessNumber()) + "-";
    auto path = [&](const char* name) { return folder.empty() ? dir.Path(name) : Native(prefix + name); };
    const NativeString originalPath = path("original.img"), patchedPath = path("patched.img"),
                       targetPath = path("target.img"), plainPath = path("plain.bin"), blockPath = path("block.bin");

    const std::vector<uint8_t> original = PatternBytes(static_cast<size_t>(originalBytes), 11);
    std::vector<VelkRecord> records = ScatteredEdits(originalBytes, edits);
    // The growth's last bytes lie past every edit of the original.
    if (patchedBytes > originalBytes) records.push_back({static_cast<uint64_t>(patchedBytes - 16), PatternBytes(16, 3)});
    std::vector<uint8_t> patched = original;
    patched.resize(static_cast<size_t>(patchedBytes), 0);
    for (const VelkRecord& r : records) std::copy(r.data.begin(), r.data.end(), patched.begin() + static_cast<long>(r.position));

    const uint32_t originalCrc = Crc(original), patchedCrc = Crc(patched);
    const VelkResultIdentity identity{patchedCrc, static_cast<uint64_t>(originalBytes)};
    if (!WriteWholeFile(originalPath, original) || !WriteWholeFile(patchedPath, patched) ||
        !WriteWholeFile(targetPath, original) || !WriteWholeFile(plainPath, BuildPayload(patchedBytes, originalCrc, records)) ||
        !WriteWholeFile(blockPath, BuildPayload(patchedBytes, originalCrc, records, u"", &identity))) {
        std::fprintf(stderr, "cannot write the files\n");
        return 1;
    }
    patched.clear();
    patched.shrink_to_fit();

    int64_t derivedBytes = 0;
    std::vector<Contender> check = {
        {"full re-read", nullptr, [&] { return CrcOf(patchedPath) == patchedCrc; }, reps},
        {"derived", nullptr,
         [&] {
             CVELK_File after;
             if (!after.OpenFile(patchedPath.c_str(), kModeReadExisting, kShareRead)) return false;
             CVELK_ResultCheck result(originalBytes, patchedBytes);
             for (const VelkRecord& r : records) result.Note(static_cast<int64_t>(r.position), static_cast<int64_t>(r.data.size()));
             _m_CRC32 sum;
             uint32_t before = 0;
             for (int64_t at = 0; at < originalBytes; at += CVELK_StretchReader::kChunkBytes) {
                 const auto n = static_cast<uint32_t>(std::min<int64_t>(CVELK_StretchReader::kChunkBytes, originalBytes - at));
                 result.Chunk(at, original.data() + at, n, before);
                 before = sum.Update(original.data() + at, n);
             }
             uint32_t crc = 0;
             const bool ok = result.ReadAfter(after, &crc) && crc == patchedCrc;
             derivedBytes = result.BytesRead();
             return ok;
         },
         reps},
    };
    // Before every application the target is put back to the original and flushed (untimed).
    auto restore = [&] {
        CVELK_File file;
        if (!file.OpenFile(targetPath.c_str(), kModeReadWriteExisting, kShareRead)) return;
        file.SetSize(originalBytes);
        for (const VelkRecord& r : records) {
            if (r.position >= static_cast<uint64_t>(originalBytes)) continue;
            file.Seek(static_cast<int64_t>(r.position));
            file.Write(original.data() + r.position, static_cast<uint32_t>(r.data.size()));
        }
        file.Flush();
    };
    std::vector<Contender> apply = {
        {"apply, no block", restore, [&] { return ApplyWithEngine(plainPath, targetPath); }, reps},
        {"apply, result verified", restore, [&] { return ApplyWithEngine(blockPath, targetPath); }, reps},
        {"apply, then full re-read", restore,
         [&] { return ApplyWithEngine(plainPath, targetPath) && CrcOf(targetPath) == patchedCrc; }, reps},
    };
    const bool ok = RunAll(check) && RunAll(apply);
    for (const NativeString* p : {&originalPath, &patchedPath, &targetPath, &plainPath, &blockPath})
        std::remove(std::string(p->begin(), p->end()).c_str());
    if (!ok) return 1;

    const std::string title = std::to_string(originalBytes >> 20) + " MiB image, " + std::to_string(edits) +
                              " scattered edits" +
                              (patchedBytes > originalBytes ? ", grown by " + std::to_string((patchedBytes - originalBytes) >> 20) + " MiB" : "");
    PrintTable("the check alone: " + title, check, static_cast<double>(patchedBytes), "full re-read");
    PrintTable("the application: " + title, apply, static_cast<double>(patchedBytes), "apply, no block");
    const double base = MedianOf(apply, "apply, no block");
    std::printf("\n| ratio | value |\n|---|---|\n");
    std::printf("| bytes the derived check reads / file size | %.4f |\n",
                static_cast<double>(derivedBytes) / static_cast<double>(patchedBytes));
    std::printf("| derived check / full re-read (time) | %.3f |\n",
                MedianOf(check, "derived") / MedianOf(check, "full re-read"));
    std::printf("| added to the application: result verified | %+.1f%% |\n",
                100 * (MedianOf(apply, "apply, result verified") / base - 1));
    std::printf("| added to the application: full re-read | %+.1f%% |\n",
                100 * (MedianOf(apply, "apply, then full re-read") / base - 1));
    return 0;
}
