// Breaks every call of a real application, one at a time: each open, read, write, seek, resize,
// size query, position query and CRC of both files, failing once, failing from then on, or
// moving only part of the bytes. Whatever breaks, the user sees exactly one message (or, where
// the user declined the CRC question, none), success is only ever claimed for a correctly
// patched target, both files are closed afterwards, and the target keeps every byte unless its
// own resize, seek or write was what failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "file/crc32.h"
#include "file/fault_file.h"
#include "file/memory_file.h"
#include "file/velk_file.h"
#include "payload/drav_info.h"
#include "payload/ips_in.h"
#include "payload/messages.h"
#include "payload/payload_writer.h"
#include "support/test_support.h"

namespace {

using namespace velk_messages;

constexpr FaultOp kAllOps[] = {FaultOp::kOpen,    FaultOp::kRead, FaultOp::kWrite, FaultOp::kSeek,
                               FaultOp::kSetSize, FaultOp::kGetSize, FaultOp::kTell, FaultOp::kCrc32};

std::vector<FaultKind> KindsFor(FaultOp op)
{
    if (op == FaultOp::kRead || op == FaultOp::kWrite)
        return {FaultKind::kFailOnce, FaultKind::kFailFromThen, FaultKind::kShortOnce, FaultKind::kShortFromThen};
    return {FaultKind::kFailOnce, FaultKind::kFailFromThen};
}

const char* KindName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::kFailOnce: return "fails once";
    case FaultKind::kFailFromThen: return "fails from then on";
    case FaultKind::kShortOnce: return "short once";
    case FaultKind::kShortFromThen: return "short from then on";
    }
    return "?";
}

uint32_t Crc(const std::vector<uint8_t>& bytes)
{
    return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size());
}

// The target as a correct application leaves it, worked out without the engine.
std::vector<uint8_t> Patched(std::vector<uint8_t> target, int64_t patchedSize, const std::vector<VelkRecord>& records)
{
    target.resize(static_cast<size_t>(patchedSize));
    for (const VelkRecord& r : records) {
        const size_t end = static_cast<size_t>(r.position) + r.data.size();
        if (end > target.size()) target.resize(end);
        std::copy(r.data.begin(), r.data.end(), target.begin() + static_cast<ptrdiff_t>(r.position));
    }
    return target;
}

// Opens ApplyPatch's files through fault-injecting wrappers: the first open is the patch
// source, the second the target.
class WatchedApplier : public CVELK_IPS_IN {
public:
    WatchedApplier(CVELK_MessageOwner& owner, CVELK_FaultSwitch& source, CVELK_FaultSwitch& target,
                   uint32_t streamMemory)
        : CVELK_IPS_IN(owner), m_source(source), m_target(target)
    {
        if (streamMemory != 0) SetStreamMemoryLimit(streamMemory);
    }

protected:
    std::unique_ptr<CVELK_xFile> OpenFile(const NativeChar* path, int mode, int share) override
    {
        CVELK_FaultSwitch& faults = m_opens++ == 0 ? m_source : m_target;
        if (faults.Next(FaultOp::kOpen) != FaultVerdict::kPass) return nullptr;
        std::unique_ptr<CVELK_xFile> file = CVELK_IPS_IN::OpenFile(path, mode, share);
        if (!file) return nullptr;
        return std::unique_ptr<CVELK_xFile>(new CVELK_FaultFile(std::move(file), faults));
    }

private:
    CVELK_FaultSwitch& m_source;
    CVELK_FaultSwitch& m_target;
    int m_opens = 0;
};

// Records, with every message, how many of the application's files were open at that moment.
class WatchingOwner : public RecordingOwner {
public:
    WatchingOwner(bool answerOk, const CVELK_FaultSwitch& source, const CVELK_FaultSwitch& target)
        : RecordingOwner(answerOk), m_source(source), m_target(target)
    {
    }
    void ShowMessage(const char16_t* text) override
    {
        RecordingOwner::ShowMessage(text);
        openAtMessage.push_back(m_source.liveFiles + m_target.liveFiles);
    }
    std::vector<int> openAtMessage;

private:
    const CVELK_FaultSwitch& m_source;
    const CVELK_FaultSwitch& m_target;
};

struct WalkCase {
    const char* name;
    std::vector<uint8_t> target;
    int64_t patchedSize;
    bool checkCrc;
    bool answerOk;
    uint32_t streamMemory;  // 0: the engine's own limit
    std::vector<VelkRecord> records;
};

struct RunResult {
    bool applied = false;
    std::vector<std::u16string> messages;
    std::vector<std::u16string> questions;
    std::vector<int> openAtMessage;
    std::vector<uint8_t> target;
    int liveAfter = 0;
    int filesMade = 0;
};

class FaultWalk : public ::testing::Test {
protected:
    RunResult Run(const WalkCase& c, const std::vector<uint8_t>& payload, CVELK_FaultSwitch& source,
                  CVELK_FaultSwitch& target)
    {
        const NativeString sourcePath = dir.Path("patch.bin"), targetPath = dir.Path("image.iso");
        EXPECT_TRUE(WriteWholeFile(sourcePath, payload));
        EXPECT_TRUE(WriteWholeFile(targetPath, c.target));
        WatchingOwner owner(c.answerOk, source, target);
        RunResult r;
        {
            WatchedApplier applier(owner, source, target, c.streamMemory);
            r.applied = applier.ApplyPatch(sourcePath.c_str(), targetPath.c_str(), 0);
        }
        r.messages = owner.messages;
        r.questions = owner.questions;
        r.openAtMessage = owner.openAtMessage;
        r.liveAfter = source.liveFiles + target.liveFiles;
        r.filesMade = source.filesMade + target.filesMade;
        r.target = ReadWholeFile(targetPath);
        // Nothing of the application still holds either file: an open that shares nothing works.
        for (const NativeString* path : {&sourcePath, &targetPath}) {
            CVELK_File probe;
            EXPECT_TRUE(probe.OpenFile(path->c_str(), kModeReadWriteExisting, kShareNone));
        }
        return r;
    }

    TempDir dir;
};

std::vector<WalkCase> WalkCases()
{
    const std::vector<uint8_t> image = PatternBytes(6000, 3);
    const std::vector<VelkRecord> grow = {
        {0, PatternBytes(10, 11)},
        {100, PatternBytes(300, 12)},
        {50, PatternBytes(80, 13)},        // backwards and overlapping: an absolute record
        {4000, PatternBytes(5000, 14)},    // past the old end
        {20000, PatternBytes(65535, 15)},  // the longest record there is
        {89990, PatternBytes(20, 16)},     // reaches past the patched size
    };
    const std::vector<VelkRecord> shrink = {{7, PatternBytes(3, 21)}, {2990, PatternBytes(10, 22)}};
    return {
        {"grows, CRC checked", image, 90000, true, true, 0, grow},
        {"grows, stream read twice", image, 90000, true, true, 16384, grow},
        {"shrinks, no CRC", image, 3000, false, true, 0, shrink},
        {"CRC question declined", image, 3000, true, false, 0, shrink},
    };
}

TEST_F(FaultWalk, EveryCallOfAnApplicationFails)
{
    size_t runs = 0;
    for (const WalkCase& c : WalkCases()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> payload =
            BuildPayload(c.patchedSize, c.checkCrc ? Crc(c.target) : 0, c.records, u"说明\r\n");
        const std::vector<uint8_t> expected = Patched(c.target, c.patchedSize, c.records);

        uint64_t cleanClock = 0;
        CVELK_FaultSwitch cleanSource(FaultPlan(), &cleanClock), cleanTarget(FaultPlan(), &cleanClock);
        const RunResult clean = Run(c, payload, cleanSource, cleanTarget);
        ASSERT_TRUE(clean.applied);
        ASSERT_EQ(clean.messages, std::vector<std::u16string>{kSuccess});
        ASSERT_TRUE(clean.target == expected);
        if (c.streamMemory == 0) {
            // A stream held in memory is not read again once the target has changed.
            EXPECT_LT(cleanSource.LastCallTime(), cleanTarget.ModifyTime());
        }

        for (int side = 0; side < 2; ++side) {
            const bool onSource = side == 0;
            const CVELK_FaultSwitch& counts = onSource ? cleanSource : cleanTarget;
            for (FaultOp op : kAllOps) {
                for (uint64_t n = 1; n <= counts.Calls(op); ++n) {
                    for (FaultKind kind : KindsFor(op)) {
                        std::ostringstream where;
                        where << (onSource ? "source " : "target ") << FaultOpName(op) << " call " << n << " "
                              << KindName(kind);
                        SCOPED_TRACE(where.str());
                        ++runs;
                        uint64_t clock = 0;
                        const FaultPlan plan{op, n, kind};
                        CVELK_FaultSwitch source(onSource ? plan : FaultPlan(), &clock);
                        CVELK_FaultSwitch target(onSource ? FaultPlan() : plan, &clock);
                        const RunResult r = Run(c, payload, source, target);
                        const CVELK_FaultSwitch& broken = onSource ? source : target;
                        ASSERT_TRUE(broken.Tripped());
                        // A read the platform splits is not a damaged payload.
                        const bool shortened = kind == FaultKind::kShortOnce || kind == FaultKind::kShortFromThen;
                        if (onSource && shortened) EXPECT_TRUE(r.applied);

                        EXPECT_EQ(r.liveAfter, 0);
                        const int opened = r.filesMade;
                        for (int open : r.openAtMessage) EXPECT_EQ(open, opened);

                        if (r.applied) {
                            EXPECT_EQ(r.messages, std::vector<std::u16string>{kSuccess});
                            EXPECT_TRUE(r.target == expected) << "success claimed for a wrongly patched target";
                            continue;
                        }
                        const bool declined = r.messages.empty() && r.questions.size() == 1 && !c.answerOk;
                        if (!declined) {
                            ASSERT_EQ(r.messages.size(), 1u);
                            EXPECT_NE(r.messages[0], kSuccess);
                        }
                        // Only the target's own resize, seek or write may leave it changed; or, for
                        // a stream too long to keep in memory, a source read after writing began.
                        const bool targetIo = !onSource && (op == FaultOp::kSetSize || op == FaultOp::kSeek ||
                                                            op == FaultOp::kWrite);
                        const bool afterWritingBegan =
                            onSource && target.ModifyTime() != 0 && target.ModifyTime() < source.TripTime();
                        if (c.streamMemory == 0) EXPECT_FALSE(afterWritingBegan);
                        if (!targetIo && !afterWritingBegan)
                            EXPECT_TRUE(r.target == c.target) << "target changed by a failure that was not its own";
                    }
                }
            }
        }
    }
    // Enough calls were broken to mean something (each case has dozens of calls).
    EXPECT_GT(runs, 200u);
}

// One applier used twice: what the first application left in its buffers plays no part in the
// second. Here a magic text cut short after "VELK-PATCH3." would read as version 3.0 if the
// record data of the first application still followed it.
TEST(ReusedApplier, ForgetsThePreviousPayload)
{
    RecordingOwner owner;
    CVELK_IPS_IN applier(owner);
    std::vector<uint8_t> data(16, '0');
    CVELK_MemoryFile first(BuildPayload(32, 0, {{0, data}}), kAccessRead), target(PatternBytes(32, 1));
    ASSERT_TRUE(applier.ApplyOpened(first, target, 0));

    const char cut[] = "VELK-PATCH3.";
    CVELK_MemoryFile second(std::vector<uint8_t>(cut, cut + 12), kAccessRead);
    EXPECT_FALSE(applier.ApplyOpened(second, target, 0));
    EXPECT_EQ(owner.messages, (std::vector<std::u16string>{kSuccess, kInvalidPatch}));
}

// The summary reader under the same faults: it refuses, or it reads exactly what a clean read
// reads; it never shows a mixture.
TEST(FaultWalkSummary, EveryCallOfTheSummaryReadFails)
{
    const std::vector<uint8_t> payload =
        BuildPayload(123456789, 0xCAFEF00Du, {{5, {1, 2, 3}}}, u"补丁说明: 汉化版\r\n");
    std::vector<uint8_t> patch = PatternBytes(512, 2);
    patch.insert(patch.end(), payload.begin(), payload.end());

    CVELK_MemoryFile cleanFile(patch, kAccessRead);
    CVELK_FaultSwitch counts;
    CVELK_FaultFile cleanWrapped(cleanFile, counts);
    CQM_DravInfo clean;
    ASSERT_TRUE(clean.ReadInfoFrom(cleanWrapped, 512));
    const std::u16string summary = clean.FormatSummary();
    const std::u16string description = clean.Description();
    ASSERT_EQ(description, u"补丁说明: 汉化版\r\n");

    for (FaultOp op : kAllOps) {
        for (uint64_t n = 1; n <= counts.Calls(op); ++n) {
            for (FaultKind kind : KindsFor(op)) {
                SCOPED_TRACE(std::string(FaultOpName(op)) + " call " + std::to_string(n) + " " + KindName(kind));
                CVELK_MemoryFile file(patch, kAccessRead);
                CVELK_FaultSwitch faults(FaultPlan{op, n, kind});
                CVELK_FaultFile wrapped(file, faults);
                CQM_DravInfo info;
                const bool read = info.ReadInfoFrom(wrapped, 512);
                if (kind == FaultKind::kShortOnce || kind == FaultKind::kShortFromThen) {
                    EXPECT_TRUE(read);
                    EXPECT_EQ(info.Description(), description);
                }
                if (read) {
                    EXPECT_EQ(info.FormatSummary(), summary);
                    // A failed seek to the description leaves none; a broken read may cut it short.
                    const std::u16string got = info.Description();
                    EXPECT_EQ(got, description.substr(0, got.size()));
                } else {
                    EXPECT_EQ(info.PatchedSize(), 0);
                    EXPECT_EQ(info.TargetCrc(), 0u);
                    EXPECT_EQ(info.VersionText()[0], 0);
                    EXPECT_EQ(info.Description()[0], 0);
                }
            }
        }
    }
}

}  // namespace
