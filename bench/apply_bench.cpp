// Applying a payload of 620,000 small records (about 6.7 MB) to a 64 MiB target (dense) and
// spread over a 4 GiB sparse target (sparse). Side by side on the same files:
//   literal reference  four unbuffered reads per record on the patch source, then one seek and
//                      one write on the target, all through CVELK_File;
//   positioned writes  the record stream read through CVELK_ReadAhead, one positioned write
//                      per record;
//   engine             CVELK_IPS_IN::ApplyPatch, as the programs run it (opening, header, the
//                      checking pass, the resize, the write-back window).
//   velk_bench_apply [--records=620000] [--reps=5] [--reference-reps=3] [--case=dense|sparse|both]
//                    [--dir=FOLDER] [--files-only=yes]
//   velk_bench_apply --case=image [--reps=5] [--dir=FOLDER]   the undo journal's cost on a disc image,
//                    and the cost of keeping it for undo
//   velk_bench_apply --once=literal|positioned|unjournaled|engine --patch=P --target=T   one application
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "apply/application.h"
#include "apply/messages.h"
#include "bench/bench_engine.h"
#include "bench/bench_harness.h"
#include "crc/crc32.h"
#include "file/io.h"
#include "file/velk_file.h"
#include "format/payload_format.h"
#include "format/record_stream.h"
#include "maker/payload_writer.h"
#include "support/test_support.h"

namespace {

struct Case {
    const char* name;
    int64_t targetBytes;
    bool sparse;
};

bool MakePayload(const NativeString& path, const Case& c, uint32_t records, uint64_t* payloadBytes)
{
    CVELK_File file;
    if (!file.OpenFile(path.c_str(), kModeCreateTruncate, kShareRead)) return false;
    CVELK_PayloadWriter writer(file);
    if (!writer.Begin(c.targetBytes, 0)) return false;
    std::mt19937 random(620000);
    const uint64_t spacing = static_cast<uint64_t>(c.targetBytes) / records;
    uint64_t position = 0;
    uint8_t data[8];
    for (uint32_t i = 0; i < records; ++i) {
        position += random() % (2 * spacing);
        const uint32_t length = 1 + random() % 8;
        if (position + length > static_cast<uint64_t>(c.targetBytes)) break;
        for (uint32_t k = 0; k < length; ++k) data[k] = static_cast<uint8_t>(random());
        if (!writer.AddRecord(position, data, length)) return false;
    }
    if (!writer.Finish(u"")) return false;
    *payloadBytes = writer.Size();
    return true;
}

bool MakeTarget(const NativeString& path, const Case& c)
{
    if (c.sparse) return MakeSparseFile(path, c.targetBytes);
    static const std::vector<uint8_t> bytes = PatternBytes(static_cast<size_t>(c.targetBytes), 9);
    return WriteWholeFile(path, bytes);
}

// What both baselines do before their records: open the two files, size the target as the
// header says and put the source at the record stream.
bool OpenResizedAtStream(const NativeString& sourcePath, const NativeString& targetPath, CVELK_File& source,
                         CVELK_File& target)
{
    if (!source.OpenFile(sourcePath.c_str(), kModeReadExisting, kShareRead)) return false;
    if (!target.OpenFile(targetPath.c_str(), kModeReadWriteExisting, kShareRead)) return false;
    uint8_t header[velk_format::kHeaderBytes];
    if (source.Read(header, sizeof header) != sizeof header) return false;
    const auto patchedSize = static_cast<int64_t>(velk_io::LoadLE(header + 16, 8));
    const int64_t dataOffset = static_cast<int64_t>(velk_io::LoadLE(header + 28, 4));
    if (!target.SetSize(patchedSize) || !source.Seek(dataOffset)) return false;
    return true;
}

// Four reads on the source, one seek and one write on the target per record, no buffering.
bool ApplyLiterally(const NativeString& sourcePath, const NativeString& targetPath)
{
    CVELK_File source, target;
    if (!OpenResizedAtStream(sourcePath, targetPath, source, target)) return false;
    static uint8_t work[65536];
    uint64_t position = 0;
    for (;;) {
        uint8_t type = 0, field[8] = {}, length[2] = {};
        if (source.Read(&type, 1) == 0) return false;
        if (type == 0xFF) return true;
        if (type == 0x01) {
            if (source.Read(field, 4) == 0) return false;
            position += velk_io::LoadLE(field, 4);
        } else {
            if (source.Read(field, 8) == 0) return false;
            position = velk_io::LoadLE(field, 8);
        }
        if (source.Read(length, 2) == 0) return false;
        const auto n = static_cast<uint32_t>(velk_io::LoadLE(length, 2));
        if (source.Read(work, n) == 0) return false;
        if (!target.Seek(static_cast<int64_t>(position))) return false;
        if (target.Write(work, n) != n) return false;
    }
}

// The record stream through the read-ahead buffer, one positioned write per record.
bool ApplyWithPositionedWrites(const NativeString& sourcePath, const NativeString& targetPath)
{
    CVELK_File source, target;
    if (!OpenResizedAtStream(sourcePath, targetPath, source, target)) return false;
    static uint8_t work[65536];
    CVELK_ReadAhead input(source, CVELK_ReadAhead::kDefaultCapacity, source.Tell());
    CVELK_RecordReader reader(input, work);
    for (;;) {
        switch (reader.Next(true)) {
        case RecordStatus::kEnd: return true;
        case RecordStatus::kFault: return false;
        case RecordStatus::kRecord: break;
        }
        if (target.WriteAt(static_cast<int64_t>(reader.Position()), work, reader.Delivered()) != reader.Delivered())
            return false;
    }
}

// A file of the benchmark: in a fresh temporary folder, or in `folder` (a tmpfs, say) under a name
// that no other run of the benchmark there uses at the same time, unless the caller owns the
// folder and wants fixed names (files-only mode).
NativeString InFolder(const TempDir& dir, const std::string& folder, const std::string& name, bool fixedName)
{
    if (folder.empty()) return dir.Path(name);
    const std::string unique = fixedName ? "" : std::to_string(velk_bench::ProcessNumber()) + "-";
    return Native(folder + "/velk-bench-" + unique + name);
}

int RunCase(const Case& c, uint32_t records, int reps, int referenceReps, const std::string& folder, bool filesOnly)
{
    using namespace velk_bench;
    TempDir dir;
    const NativeString payload = InFolder(dir, folder, "patch.bin", filesOnly);
    const NativeString target = InFolder(dir, folder, "target.img", filesOnly);
    struct Cleanup {
        std::vector<NativeString> paths;
        ~Cleanup()
        {
            for (const NativeString& p : paths) MakeSparseFile(p, 0), std::remove(std::string(p.begin(), p.end()).c_str());
        }
    } cleanup{{payload, target}};
    uint64_t payloadBytes = 0;
    if (!MakePayload(payload, c, records, &payloadBytes)) {
        std::fprintf(stderr, "cannot write the payload\n");
        return 1;
    }
    auto prepare = [&] { MakeTarget(target, c); };
    if (filesOnly) {
        prepare();
        cleanup.paths.clear();
        std::printf("payload %s, target %s\n", std::string(payload.begin(), payload.end()).c_str(),
                    std::string(target.begin(), target.end()).c_str());
        return 0;
    }
    std::vector<Contender> contenders = {
        {"literal reference", prepare, [&] { return ApplyLiterally(payload, target); }, referenceReps},
        {"positioned writes", prepare, [&] { return ApplyWithPositionedWrites(payload, target); }, reps},
        {"engine, no journal", prepare, [&] { return ApplyWithEngine(payload, target, false); }, reps},
        {"engine", prepare, [&] { return ApplyWithEngine(payload, target); }, reps},
    };
    if (!RunAll(contenders)) return 1;

    // All must leave the same file.
    uint32_t crcs[4];
    for (int i = 0; i < 4; ++i) {
        prepare();
        if (!contenders[i].run()) return 1;
        crcs[i] = CrcOf(target);
    }
    PrintTable(std::string(c.name) + ": " + std::to_string(records) + " records, payload " +
                   std::to_string(payloadBytes) + " bytes, target " + std::to_string(c.targetBytes >> 20) +
                   " MiB (MB/s: payload bytes)",
               contenders, static_cast<double>(payloadBytes), "literal reference");
    std::printf("\n| ratio | value |\n|---|---|\n");
    std::printf("| engine speed / literal reference | %.1f |\n",
                MedianOf(contenders, "literal reference") / MedianOf(contenders, "engine"));
    std::printf("| engine speed / positioned writes | %.2f |\n",
                MedianOf(contenders, "positioned writes") / MedianOf(contenders, "engine"));
    std::printf("| journal's share of the engine's time | %.2f |\n",
                1 - MedianOf(contenders, "engine, no journal") / MedianOf(contenders, "engine"));
    const bool same = crcs[0] == crcs[1] && crcs[1] == crcs[2] && crcs[2] == crcs[3];
    std::printf("| resulting files identical (CRC) | %s |\n", same ? "yes" : "NO");
    if (!same) std::printf("CRCs: %08x %08x %08x %08x\n", crcs[0], crcs[1], crcs[2], crcs[3]);
    std::fflush(stdout);
    return same ? 0 : 1;
}

// A disc image as patches meet it: 320 MiB, 10,000 edits of 1 to 64 bytes scattered through it,
// the CRC checked. The engine with and without its journal (and the flushes that come with it),
// and with the journal kept for undo. Before every run the edited bytes are put back, a kept
// journal removed and the file flushed (untimed), so that all start from a clean, cached file.
int RunImageCase(int reps, const std::string& folder)
{
    using namespace velk_bench;
    constexpr int64_t kImageBytes = 320ll << 20;
    constexpr uint32_t kEdits = 10000;
    TempDir dir;
    const NativeString payload = InFolder(dir, folder, "patch.bin", false);
    const NativeString target = InFolder(dir, folder, "image.img", false);
    const NativeString kept = target + VELK_NATIVE(".velk-undo");
    const std::vector<uint8_t> image = PatternBytes(static_cast<size_t>(kImageBytes), 11);
    const std::vector<VelkRecord> records = ScatteredEdits(kImageBytes, kEdits);
    const uint32_t crc = ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, image.data(), image.size());
    if (!WriteWholeFile(payload, BuildPayload(kImageBytes, crc, records)) || !WriteWholeFile(target, image)) return 1;
    auto restore = [&] {
        CVELK_File file;
        if (!file.OpenFile(target.c_str(), kModeReadWriteExisting, kShareRead)) return;
        for (const VelkRecord& r : records) {
            file.Seek(static_cast<int64_t>(r.position));
            file.Write(image.data() + r.position, static_cast<uint32_t>(r.data.size()));
        }
        file.Flush();
        file.Close();
        std::remove(std::string(kept.begin(), kept.end()).c_str());
    };
    std::vector<Contender> contenders = {
        {"engine, no journal", restore, [&] { return ApplyWithEngine(payload, target, false); }, reps},
        {"engine", restore, [&] { return ApplyWithEngine(payload, target); }, reps},
        {"engine, journal kept", restore, [&] { return ApplyWithEngine(payload, target, true, true); }, reps},
    };
    bool ok = RunAll(contenders);
    // What keeping leaves on the disk: the bytes the records overwrote, with the journal's own.
    restore();
    ok = ok && ApplyWithEngine(payload, target, true, true);
    CVELK_File journal;
    const int64_t keptBytes = journal.OpenFile(kept.c_str(), kModeReadExisting, kShareRead) ? journal.GetSize() : -1;
    journal.Close();
    uint64_t overwritten = 0;
    for (const VelkRecord& r : records) overwritten += r.data.size();
    restore();
    std::remove(std::string(payload.begin(), payload.end()).c_str());
    std::remove(std::string(target.begin(), target.end()).c_str());
    if (!ok) return 1;
    PrintTable("image: 320 MiB, 10,000 scattered edits, CRC checked", contenders, static_cast<double>(kImageBytes),
               "engine, no journal");
    std::printf("\n| ratio | value |\n|---|---|\n| journal and flushes' share of the engine's time | %.2f |\n",
                1 - MedianOf(contenders, "engine, no journal") / MedianOf(contenders, "engine"));
    std::printf("| time with the journal kept / engine | %.2f |\n",
                MedianOf(contenders, "engine, journal kept") / MedianOf(contenders, "engine"));
    std::printf("| kept journal, bytes (the records overwrite %llu) | %lld |\n",
                static_cast<unsigned long long>(overwritten), static_cast<long long>(keptBytes));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    using velk_bench::ApplyWithEngine;
    using velk_bench::Option;
    // One application of one contender to files that exist, for timing the whole process from
    // outside (bench/apply_on_disk.sh): --once=literal|positioned|unjournaled|engine --patch=P --target=T.
    const std::string once = Option(argc, argv, "once", "");
    if (!once.empty()) {
        const NativeString patch = Native(Option(argc, argv, "patch", "")), target = Native(Option(argc, argv, "target", ""));
        const bool ok = once == "literal"      ? ApplyLiterally(patch, target)
                        : once == "positioned"  ? ApplyWithPositionedWrites(patch, target)
                        : once == "unjournaled" ? ApplyWithEngine(patch, target, false)
                                                : ApplyWithEngine(patch, target);
        return ok ? 0 : 1;
    }
    const auto records = static_cast<uint32_t>(std::stoul(Option(argc, argv, "records", "620000")));
    const int reps = std::stoi(Option(argc, argv, "reps", "5"));
    const int referenceReps = std::stoi(Option(argc, argv, "reference-reps", "3"));
    const std::string which = Option(argc, argv, "case", "both");
    // Where the files go (default: a fresh folder in the system's temporary folder).
    const std::string folder = Option(argc, argv, "dir", "");
    int failed = 0;
    // Only writes the case's payload and target into --dir, for timing from outside.
    const bool filesOnly = Option(argc, argv, "files-only", "no") == "yes";
    if (which == "image") return RunImageCase(reps, folder);
    if (which != "sparse") failed |= RunCase({"dense", 64ll << 20, false}, records, reps, referenceReps, folder, filesOnly);
    if (which != "dense") failed |= RunCase({"sparse", 4ll << 30, true}, records, reps, referenceReps, folder, filesOnly);
    return failed;
}
