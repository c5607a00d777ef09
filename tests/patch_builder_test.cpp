#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "apply/application.h"
#include "apply/messages.h"
#include "crc/crc32.h"
#include "file/io.h"
#include "file/memory_file.h"
#include "file/velk_file.h"
#include "format/extension_block.h"
#include "format/payload_format.h"
#include "format/summary.h"
#include "maker/patch_builder.h"
#include "support/fault_file.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// The smallest record bytes the format allows for bytes that must be written at `diffs`
// (sorted), found by a dynamic programme over the partition of the diff sequence into records:
// a record covering diffs i..j-1 costs 7 bytes plus the span from the first to the last. It does
// not know how the builder works; it only knows the format's costs.
uint64_t MinimumRecordBytes(const std::vector<uint64_t>& diffs)
{
    const size_t n = diffs.size();
    std::vector<int64_t> best(n + 1, 0);
    std::deque<size_t> window;  // candidate first diffs, best[i] - diffs[i] increasing
    for (size_t j = 1; j <= n; ++j) {
        const size_t i = j - 1;  // a record may start at diff i
        auto key = [&](size_t k) { return best[k] - static_cast<int64_t>(diffs[k]); };
        while (!window.empty() && key(window.back()) >= key(i)) window.pop_back();
        window.push_back(i);
        while (diffs[j - 1] - diffs[window.front()] >= velk_format::kMaxRecordData) window.pop_front();
        best[j] = static_cast<int64_t>(diffs[j - 1]) + 1 + velk_format::kRelativeRecordOverhead + key(window.front());
    }
    uint64_t total = static_cast<uint64_t>(best[n]);
    // A record more than 2^32 - 1 past the previous record's start must be absolute (4 bytes more).
    const uint64_t reach = 0xFFFFFFFFull + velk_format::kMaxRecordData - 1;
    for (size_t k = 0; k < n; ++k)
        if (diffs[k] - (k == 0 ? 0 : diffs[k - 1]) > reach) total += 4;
    return total;
}

uint64_t MinimumPayloadBytes(const std::vector<uint64_t>& diffs, size_t descriptionUnits)
{
    return velk_extension::kDataOffsetWithBlock + MinimumRecordBytes(diffs) + 1 +
           (descriptionUnits == 0 ? 0 : 2 * (descriptionUnits + 1));
}

// Bytes the patch must write: where the modified file differs from the original cut or
// zero-extended to the modified size.
std::vector<uint64_t> DiffPositions(const Bytes& original, const Bytes& modified)
{
    std::vector<uint64_t> diffs;
    for (size_t i = 0; i < modified.size(); ++i) {
        const uint8_t base = i < original.size() ? original[i] : 0;
        if (modified[i] != base) diffs.push_back(i);
    }
    return diffs;
}

uint32_t Crc(const Bytes& bytes)
{
    return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size());
}

struct Built {
    VelkBuildStatus status;
    Bytes payload;
    VelkBuildStats stats;
};

Built Build(const Bytes& original, const Bytes& modified, uint32_t block = CVELK_PatchBuilder::kDefaultBlockBytes,
            bool crc = true, const std::u16string& description = u"")
{
    CVELK_MemoryFile originalFile(original, kAccessRead), modifiedFile(modified, kAccessRead);
    CVELK_MemoryFile output(Bytes{});
    CVELK_PatchBuilder builder(originalFile, modifiedFile, block);
    builder.SetCheckCrc(crc);
    builder.SetDescription(description);
    Built built;
    built.status = builder.Build(output);
    built.payload = output.Bytes();
    built.stats = builder.Stats();
    return built;
}

// Applies the payload to the original, which then equals the modified file (its result checked
// against the extension block on the way), and applies it again: already patched, left alone.
// An original that already is the modified file is already patched the first time.
void ExpectRoundTrip(const Bytes& payload, const Bytes& original, const Bytes& modified)
{
    CVELK_MemoryFile source(payload, kAccessRead), target(original);
    RecordingOwner owner;
    CVELK_IPS_IN applier(owner);
    EXPECT_TRUE(applier.ApplyOpened(source, target, 0));
    EXPECT_TRUE(applier.ApplyOpened(source, target, 0));
    const std::u16string first = original == modified ? velk_messages::kAlreadyPatched : velk_messages::kSuccess;
    EXPECT_EQ(owner.messages, (std::vector<std::u16string>{first, velk_messages::kAlreadyPatched}));
    EXPECT_TRUE(owner.questions.empty());
    EXPECT_TRUE(target.Bytes() == modified);
}

// Changes one byte every `gap + 1` bytes from `start`, `count` times.
Bytes WithChanges(Bytes bytes, size_t start, size_t gap, size_t count)
{
    for (size_t k = 0, at = start; k < count && at < bytes.size(); ++k, at += gap + 1) bytes[at] ^= 0x5A;
    return bytes;
}

Bytes WithRun(Bytes bytes, size_t start, size_t length)
{
    for (size_t at = start; at < start + length && at < bytes.size(); ++at) bytes[at] = static_cast<uint8_t>(~bytes[at]);
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct RoundTripCase {
    std::string name;
    Bytes original;
    Bytes modified;
};

std::vector<RoundTripCase> RoundTripCases()
{
    const Bytes base = PatternBytes(300000, 1);
    std::vector<RoundTripCase> cases = {
        {"both empty", {}, {}},
        {"identical", base, base},
        {"from empty", {}, PatternBytes(5000, 2)},
        {"to empty", base, {}},
        {"shrinking", base, WithChanges(Bytes(base.begin(), base.begin() + 120000), 100, 300, 50)},
        {"growing by zeros", base, Concat(base, Bytes(70000, 0))},
        {"growing by zeros with a change inside", base,
         WithChanges(Concat(base, Bytes(70000, 0)), 290000, 20000, 4)},
        {"growing by data", base, Concat(base, PatternBytes(90000, 3))},
        {"growing by data ending in zeros", base, Concat(Concat(base, PatternBytes(1000, 4)), Bytes(5000, 0))},
        {"run of 65535", base, WithRun(base, 1000, 65535)},
        {"run of 65536", base, WithRun(base, 1000, 65536)},
        {"run of 200000", base, WithRun(base, 7, 200000)},
        {"whole file changed", base, WithRun(base, 0, base.size())},
        {"last byte", base, WithRun(base, base.size() - 1, 1)},
        {"first byte", base, WithRun(base, 0, 1)},
        {"runs around the record limit",
         base, WithRun(WithRun(WithRun(base, 0, 65530), 65533, 10), 65546, 70000)},
    };
    // Every gap length around a record's overhead, single bytes and short runs.
    for (size_t gap = 1; gap <= 12; ++gap) {
        cases.push_back({"single bytes, gap " + std::to_string(gap), base, WithChanges(base, 11, gap, 3000)});
        Bytes runs = base;
        for (size_t at = 50; at + 5 < runs.size(); at += 5 + gap) runs = WithRun(std::move(runs), at, 5);
        cases.push_back({"runs of 5, gap " + std::to_string(gap), base, runs});
    }
    // Scattered changes of random lengths and gaps.
    Bytes scattered = base;
    const Bytes noise = PatternBytes(40000, 77);
    for (size_t k = 0, at = 0; k + 1 < noise.size(); k += 2) {
        at += noise[k] % 32;
        const size_t length = 1 + noise[k + 1] % 12;
        if (at + length >= scattered.size()) break;
        scattered = WithRun(std::move(scattered), at, length);
        at += length;
    }
    cases.push_back({"scattered", base, scattered});
    return cases;
}

// Applying the created payload to the original gives the modified file exactly, and the payload
// is no larger than the format's minimum plus 1%, whatever the block size.
TEST(PatchBuilder, RoundTripsAtNearMinimalSize)
{
    for (const RoundTripCase& c : RoundTripCases()) {
        for (uint32_t block : {4096u, 65536u, CVELK_PatchBuilder::kDefaultBlockBytes}) {
            SCOPED_TRACE(c.name + ", block " + std::to_string(block));
            const Built built = Build(c.original, c.modified, block);
            ASSERT_EQ(built.status, VelkBuildStatus::kOk);
            ExpectRoundTrip(built.payload, c.original, c.modified);

            const std::vector<uint64_t> diffs = DiffPositions(c.original, c.modified);
            const uint64_t minimum = MinimumPayloadBytes(diffs, 0);
            EXPECT_GE(built.payload.size(), minimum) << "the minimum is wrong";
            EXPECT_LE(built.payload.size(), minimum + minimum / 100);
            EXPECT_EQ(built.stats.payloadBytes, built.payload.size());
            EXPECT_EQ(built.stats.changedBytes, diffs.size());
        }
    }
}

TEST(PatchBuilder, MinimumOfKnownLayouts)
{
    // The minimum itself, checked by hand on small layouts.
    EXPECT_EQ(MinimumRecordBytes({}), 0u);
    EXPECT_EQ(MinimumRecordBytes({5}), 8u);
    EXPECT_EQ(MinimumRecordBytes({5, 11}), 14u);    // gap 5: one record of 7 bytes
    EXPECT_EQ(MinimumRecordBytes({5, 13}), 16u);    // gap 7: two records cost the same as one
    EXPECT_EQ(MinimumRecordBytes({5, 20}), 16u);    // gap 14: two records
    std::vector<uint64_t> run(65536);
    for (size_t i = 0; i < run.size(); ++i) run[i] = i;
    EXPECT_EQ(MinimumRecordBytes(run), 65536u + 14);
    EXPECT_EQ(MinimumRecordBytes({1ull << 33}), 8u + 4);
}

TEST(PatchBuilder, HeaderCarriesSizeCrcAndDescription)
{
    const Bytes original = PatternBytes(10000, 8);
    const Bytes modified = WithRun(Bytes(original.begin(), original.begin() + 9000), 100, 10);
    const std::u16string description = u"汉化补丁 v1.0\r\n第二行\r\n";

    const Built withCrc = Build(original, modified, 4096, true, description);
    ASSERT_EQ(withCrc.status, VelkBuildStatus::kOk);
    CVELK_MemoryFile file(withCrc.payload, kAccessRead);
    CQM_DravInfo info;
    ASSERT_TRUE(info.ReadInfoFrom(file, 0));
    EXPECT_EQ(info.PatchedSize(), 9000);
    EXPECT_EQ(info.TargetCrc(), Crc(original));
    EXPECT_EQ(std::u16string(info.Description()), description);
    EXPECT_EQ(std::u16string(info.VersionText()), u"VELK-PATCH3.0");
    EXPECT_EQ(withCrc.payload.size(), MinimumPayloadBytes(DiffPositions(original, modified), description.size()));
    ExpectRoundTrip(withCrc.payload, original, modified);
    ASSERT_NE(info.ResultIdentity(), nullptr);
    EXPECT_EQ(info.ResultIdentity()->resultCrc, Crc(modified));
    EXPECT_EQ(info.ResultIdentity()->originalSize, original.size());

    // Without the check the block is still there: it tells a patched file from any other.
    const Built withoutCrc = Build(original, modified, 4096, false);
    CVELK_MemoryFile bare(withoutCrc.payload, kAccessRead);
    ASSERT_TRUE(info.ReadInfoFrom(bare, 0));
    EXPECT_EQ(info.TargetCrc(), 0u);
    EXPECT_EQ(info.Description()[0], 0);
    ASSERT_NE(info.ResultIdentity(), nullptr);
    EXPECT_EQ(info.ResultIdentity()->resultCrc, Crc(modified));

    // The CRC covers the whole original, also the part a shorter modified file drops, and an
    // original shorter than the modified file is not read past its end.
    const Bytes longer = Concat(original, PatternBytes(5000, 9));
    const Built growing = Build(original, longer, 4096, true);
    CVELK_MemoryFile grown(growing.payload, kAccessRead);
    ASSERT_TRUE(info.ReadInfoFrom(grown, 0));
    EXPECT_EQ(info.TargetCrc(), Crc(original));
}

TEST(PatchBuilder, PayloadFollowsWhatIsAlreadyInTheOutput)
{
    const Bytes original = PatternBytes(5000, 10), modified = WithChanges(original, 3, 40, 20);
    CVELK_MemoryFile originalFile(original, kAccessRead), modifiedFile(modified, kAccessRead);
    const Bytes stub = PatternBytes(777, 11);
    CVELK_MemoryFile output(stub);
    ASSERT_TRUE(output.Seek(777));
    CVELK_PatchBuilder builder(originalFile, modifiedFile);
    ASSERT_EQ(builder.Build(output), VelkBuildStatus::kOk);
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), output.Bytes().begin()));

    CVELK_MemoryFile source(output.Bytes(), kAccessRead), target(original);
    RecordingOwner owner;
    CVELK_IPS_IN applier(owner);
    EXPECT_TRUE(applier.ApplyOpened(source, target, 777));
    EXPECT_EQ(target.Bytes(), modified);
}

class CancelAfter : public CVELK_BuildProgress {
public:
    explicit CancelAfter(int calls) : m_left(calls) {}
    bool OnProgress(int64_t done, int64_t total) override
    {
        EXPECT_LE(done, total);
        EXPECT_GE(done, last);
        last = done;
        return m_left-- > 0;
    }
    int64_t last = 0;

private:
    int m_left;
};

TEST(PatchBuilder, ProgressRisesToTheTotalAndCanCancel)
{
    const Bytes original = PatternBytes(100000, 12), modified = WithRun(original, 500, 100);
    CVELK_MemoryFile originalFile(original, kAccessRead), modifiedFile(modified, kAccessRead);
    {
        CVELK_MemoryFile output(Bytes{});
        CVELK_PatchBuilder builder(originalFile, modifiedFile, 4096);
        CancelAfter progress(1000);
        builder.SetProgress(&progress);
        EXPECT_EQ(builder.Build(output), VelkBuildStatus::kOk);
        EXPECT_EQ(progress.last, 100000);
    }
    CVELK_MemoryFile output(Bytes{});
    CVELK_PatchBuilder builder(originalFile, modifiedFile, 4096);
    CancelAfter progress(3);
    builder.SetProgress(&progress);
    EXPECT_EQ(builder.Build(output), VelkBuildStatus::kCancelled);
}

TEST(PatchBuilder, ReportsTheInputThatCannotBeRead)
{
    CVELK_MemoryFile readable(PatternBytes(100, 1), kAccessRead), closed;
    CVELK_MemoryFile output(Bytes{});
    CVELK_PatchBuilder missingOriginal(closed, readable);
    EXPECT_EQ(missingOriginal.Build(output), VelkBuildStatus::kOriginalReadFailed);
    CVELK_PatchBuilder missingModified(readable, closed);
    EXPECT_EQ(missingModified.Build(output), VelkBuildStatus::kModifiedReadFailed);
    CVELK_MemoryFile readOnlyOutput(Bytes{}, kAccessRead);
    CVELK_MemoryFile other(PatternBytes(100, 2), kAccessRead);
    CVELK_PatchBuilder builder(readable, other);
    EXPECT_EQ(builder.Build(readOnlyOutput), VelkBuildStatus::kOutputWriteFailed);

    // The original is read ahead on a thread of its own: a read that fails there, in the part
    // both files have or in the longer original's tail, is still the original's failure.
    const Bytes longer = PatternBytes(10 * 4096 + 5, 3), shorter(longer.begin(), longer.begin() + 3 * 4096 + 1);
    for (uint64_t failing : {2, 5}) {
        CVELK_MemoryFile originalFile(longer, kAccessRead), modifiedFile(shorter, kAccessRead), out(Bytes{});
        CVELK_FaultSwitch faults(FaultPlan{FaultOp::kRead, failing, FaultKind::kFailOnce});
        CVELK_FaultFile original(originalFile, faults);
        EXPECT_EQ(CVELK_PatchBuilder(original, modifiedFile, 4096).Build(out), VelkBuildStatus::kOriginalReadFailed)
            << failing;
    }
}

// A file whose size says less than it holds: a /proc file (size 0), or one still being written.
class UnderstatedFile : public CVELK_MemoryFile {
public:
    UnderstatedFile(std::vector<uint8_t> bytes, int64_t size) : CVELK_MemoryFile(std::move(bytes), kAccessRead), m_size(size) {}
    int64_t GetSize() override { return m_size; }

private:
    int64_t m_size;
};

TEST(PatchBuilder, RefusesAnInputThatHoldsMoreThanItsSize)
{
    const Bytes bytes = PatternBytes(5000, 3);
    CVELK_MemoryFile plain(bytes, kAccessRead);
    for (int64_t size : {0, 4999}) {
        SCOPED_TRACE(size);
        UnderstatedFile understated(bytes, size);
        CVELK_MemoryFile output(Bytes{});
        EXPECT_EQ(CVELK_PatchBuilder(plain, understated).Build(output), VelkBuildStatus::kModifiedChanged);
        EXPECT_EQ(CVELK_PatchBuilder(understated, plain).Build(output), VelkBuildStatus::kOriginalChanged);
    }
    // Without the CRC check the original is read only as far as the modified file goes; its
    // end is checked all the same.
    UnderstatedFile original(bytes, 4000);
    CVELK_MemoryFile modified(Bytes(bytes.begin(), bytes.begin() + 100), kAccessRead), output(Bytes{});
    CVELK_PatchBuilder builder(original, modified);
    builder.SetCheckCrc(false);
    EXPECT_EQ(builder.Build(output), VelkBuildStatus::kOriginalChanged);
}

#ifndef _WIN32
// A sparse pair past 4 GiB: deltas above 32 bits need absolute records, a change right at the
// end of a zero-grown tail is found, and memory stays bounded while the files are streamed.
TEST(PatchBuilderOnDisk, SparsePairBeyondFourGiB)
{
    TempDir dir;
    const NativeString originalPath = dir.Path("original.img"), modifiedPath = dir.Path("modified.img"),
                       payloadPath = dir.Path("patch.bin"), targetPath = dir.Path("target.img");
    const int64_t originalSize = (4ll << 30) + 1000, modifiedSize = (4ll << 30) + 300017;
    struct Change {
        uint64_t position;
        Bytes data;
    };
    const std::vector<Change> inOriginal = {{12, {1, 2, 3}}, {(1ull << 32) + 500, {9}}};
    const std::vector<Change> inModified = {
        {12, {1, 7, 3}},                                          // one byte changed
        {(1ull << 32) + 500, {9}},                                // unchanged
        {(1ull << 32) + 90000, PatternBytes(70000, 5)},            // run longer than a record
        {static_cast<uint64_t>(modifiedSize) - 1, {0xEE}},        // last byte of the grown tail
    };
    auto make = [](const NativeString& path, int64_t size, const std::vector<Change>& changes) {
        ASSERT_TRUE(MakeSparseFile(path, size));
        CVELK_File file;
        ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadWriteExisting, kShareRead));
        for (const Change& c : changes) {
            ASSERT_TRUE(file.Seek(static_cast<int64_t>(c.position)));
            ASSERT_EQ(file.Write(c.data.data(), static_cast<uint32_t>(c.data.size())), c.data.size());
        }
    };
    make(originalPath, originalSize, inOriginal);
    make(modifiedPath, modifiedSize, inModified);
    make(targetPath, originalSize, inOriginal);

    VelkBuildStats stats;
    {
        CVELK_File original, modified, payload;
        ASSERT_TRUE(original.OpenFile(originalPath.c_str(), kModeReadExisting, kShareRead));
        ASSERT_TRUE(modified.OpenFile(modifiedPath.c_str(), kModeReadExisting, kShareRead));
        ASSERT_TRUE(payload.OpenFile(payloadPath.c_str(), kModeReadWriteOpenAlways, kShareRead));
        CVELK_PatchBuilder builder(original, modified);
        builder.SetCheckCrc(false);
        ASSERT_EQ(builder.Build(payload), VelkBuildStatus::kOk);
        stats = builder.Stats();
    }
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "KiB at the peak";

    std::vector<uint64_t> diffs = {13};
    for (uint64_t i = 0; i < 70000; ++i)
        if (inModified[2].data[i] != 0) diffs.push_back((1ull << 32) + 90000 + i);
    diffs.push_back(static_cast<uint64_t>(modifiedSize) - 1);
    EXPECT_EQ(stats.changedBytes, diffs.size());
    EXPECT_EQ(stats.originalCrc, 0u) << "a patch that checks no CRC reports none";
    const Bytes payload = ReadWholeFile(payloadPath);
    const uint64_t minimum = MinimumPayloadBytes(diffs, 0);
    EXPECT_GE(payload.size(), minimum);
    EXPECT_LE(payload.size(), minimum + minimum / 100);

    RecordingOwner owner;
    CVELK_IPS_IN applier(owner);
    EXPECT_TRUE(applier.ApplyPatch(payloadPath.c_str(), targetPath.c_str(), 0));
    // Reading both files whole again would double the test's time; every written region and the
    // stretches around them are compared instead.
    CVELK_File target, modified;
    ASSERT_TRUE(target.OpenFile(targetPath.c_str(), kModeReadExisting, kShareRead));
    ASSERT_TRUE(modified.OpenFile(modifiedPath.c_str(), kModeReadExisting, kShareRead));
    ASSERT_EQ(target.GetSize(), modifiedSize);
    for (const Change& c : inModified) {
        const int64_t from = std::max<int64_t>(0, static_cast<int64_t>(c.position) - 4096);
        const uint32_t length = static_cast<uint32_t>(c.data.size()) + 8192;
        Bytes expected(length), actual(length);
        ASSERT_TRUE(target.Seek(from) && modified.Seek(from));
        const uint32_t got = velk_io::ReadFully(modified, expected.data(), length);
        ASSERT_EQ(velk_io::ReadFully(target, actual.data(), length), got);
        EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + got, actual.begin())) << c.position;
    }
}
#endif

}  // namespace
