// Breaks every call of a real application, one at a time: each open, read, write, seek, resize,
// size query, position query, CRC and flush of both files and of the undo journal, and the
// journal's removal and folder sync, failing once, failing from then on, or moving only part of
// the bytes. Whatever breaks, the user sees exactly one message (or, where the user declined the
// CRC question, none), success is only ever claimed for a correctly patched target, every file
// is closed afterwards, and a failed application leaves the target byte for byte as it was (or,
// where undoing it failed too, says so, and the next application puts it back). Then the power
// is cut at every call instead, and recovery has to make the target whole again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "apply/application.h"
#include "apply/messages.h"
#include "crc/crc32.h"
#include "file/io_buffer.h"
#include "file/memory_file.h"
#include "file/velk_file.h"
#include "format/extension_block.h"
#include "format/summary.h"
#include "journal/set_journal.h"
#include "maker/patch_builder.h"
#include "maker/payload_writer.h"
#include "support/crash_disk.h"
#include "support/fault_file.h"
#include "support/test_support.h"

namespace {

using namespace velk_messages;

constexpr FaultOp kAllOps[] = {FaultOp::kOpen,  FaultOp::kRead,  FaultOp::kWrite,     FaultOp::kSeek,
                               FaultOp::kSetSize, FaultOp::kGetSize, FaultOp::kTell, FaultOp::kCrc32,
                               FaultOp::kFlush, FaultOp::kRemove, FaultOp::kSyncFolder};

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
        : CVELK_IPS_IN(owner), m_source(&source), m_target(&target)
    {
        if (streamMemory != 0) SetStreamMemoryLimit(streamMemory);
        // A verified result is derived from the changed ranges, as for a large image, so that
        // each of their reads is broken in turn.
        SetResultRangeCost(0);
    }
    // Every file on `disk`, nothing broken.
    WatchedApplier(CVELK_MessageOwner& owner, CrashDisk& disk, uint32_t streamMemory) : CVELK_IPS_IN(owner)
    {
        UseFileSystem(disk);
        if (streamMemory != 0) SetStreamMemoryLimit(streamMemory);
        SetResultRangeCost(0);
    }

protected:
    std::unique_ptr<CVELK_xFile> OpenFile(const NativeChar* path, int mode, int share) override
    {
        if (!m_source) return CVELK_IPS_IN::OpenFile(path, mode, share);
        CVELK_FaultSwitch& faults = m_opens++ == 0 ? *m_source : *m_target;
        if (faults.Next(FaultOp::kOpen) != FaultVerdict::kPass) return nullptr;
        std::unique_ptr<CVELK_xFile> file = CVELK_IPS_IN::OpenFile(path, mode, share);
        if (!file) return nullptr;
        return std::unique_ptr<CVELK_xFile>(new CVELK_FaultFile(std::move(file), faults));
    }

private:
    CVELK_FaultSwitch* m_source = nullptr;
    CVELK_FaultSwitch* m_target = nullptr;
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
    bool recordsResult = false;  // the payload's extension block: the result is read back and verified
    bool keepUndo = false;       // the block's flag: the journal is kept for undo

    std::vector<uint8_t> Payload() const
    {
        const VelkResultIdentity identity{Crc(Expected()), target.size(), keepUndo ? velk_extension::kFlagKeepUndo : 0};
        return BuildPayload(patchedSize, checkCrc ? Crc(target) : 0, records, u"说明\r\n",
                            recordsResult ? &identity : nullptr);
    }
    std::vector<uint8_t> Expected() const { return Patched(target, patchedSize, records); }
};

struct RunResult {
    bool applied = false;
    std::vector<std::u16string> messages;
    std::vector<std::u16string> questions;
    std::vector<int> openAtMessage;
    std::vector<uint8_t> target;
    std::vector<uint8_t> recovered;  // the target once a later application has recovered it
    RecoveryOutcome recovery = RecoveryOutcome::kNothingPending;
    bool kept = false;  // a journal kept for undo is left beside the target
    int liveAfter = 0;
    int filesMade = 0;
};

// Runs an application on an in-memory disk: its two files broken through `source` and `target`,
// its journal and the journal's folder entries through `journal`; then, with nothing broken, the
// recovery that the next application would begin with.
RunResult RunApplication(const WalkCase& c, const std::vector<uint8_t>& payload, CVELK_FaultSwitch& source,
              CVELK_FaultSwitch& target, CVELK_FaultSwitch& journal)
{
    const NativeString sourcePath = VELK_NATIVE("patch.bin"), targetPath = VELK_NATIVE("image.iso");
    CrashDisk disk;
    disk.Put(sourcePath, payload);
    disk.Put(targetPath, c.target);
    CVELK_FaultFileSystem files(disk, journal);
    WatchingOwner owner(c.answerOk, source, target);
    RunResult r;
    {
        WatchedApplier applier(owner, source, target, c.streamMemory);
        applier.UseFileSystem(files);
        r.applied = applier.ApplyPatch(sourcePath.c_str(), targetPath.c_str(), 0);
    }
    r.messages = owner.messages;
    r.questions = owner.questions;
    r.openAtMessage = owner.openAtMessage;
    r.liveAfter = source.liveFiles + target.liveFiles + journal.liveFiles;
    r.filesMade = source.filesMade + target.filesMade;
    r.target = disk.Bytes(targetPath);

    RecordingOwner quiet;
    CVELK_IPS_IN recovery(quiet);
    recovery.UseFileSystem(disk);
    r.recovery = recovery.RecoverTarget(targetPath.c_str());
    r.recovered = disk.Bytes(targetPath);
    // Only a journal kept for undo stays, and only beside the patched file.
    r.kept = disk.Has(CVELK_UndoJournal::PathFor(targetPath.c_str()));
    if (r.kept) EXPECT_TRUE(c.keepUndo && r.recovery == RecoveryOutcome::kKept && r.recovered == c.Expected());
    return r;
}

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
    // A patched file is recognised by its size: here every record lies within it.
    const std::vector<VelkRecord> within(grow.begin(), grow.end() - 1);
    const std::vector<VelkRecord> shrink = {{7, PatternBytes(3, 21)}, {2990, PatternBytes(10, 22)}};
    return {
        {"grows, CRC checked, result verified", image, 90000, true, true, 0, within, true},
        {"grows, stream read twice", image, 90000, true, true, 16384, grow},
        {"shrinks, no CRC", image, 3000, false, true, 0, shrink},
        {"CRC question declined", image, 3000, true, false, 0, shrink},
        {"shrinks, kept for undo", image, 3000, true, true, 0, shrink, true, true},
    };
}

const char* SideName(int side)
{
    static const char* const names[] = {"source", "target", "journal"};
    return names[side];
}

TEST(FaultWalk, EveryCallOfAnApplicationFails)
{
    size_t runs = 0;
    for (const WalkCase& c : WalkCases()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> payload = c.Payload(), expected = c.Expected();

        uint64_t cleanClock = 0;
        CVELK_FaultSwitch cleanSource(FaultPlan(), &cleanClock), cleanTarget(FaultPlan(), &cleanClock);
        CVELK_FaultSwitch cleanJournal(FaultPlan(), &cleanClock);
        const RunResult clean = RunApplication(c, payload, cleanSource, cleanTarget, cleanJournal);
        ASSERT_TRUE(clean.applied);
        ASSERT_EQ(clean.messages, std::vector<std::u16string>{kSuccess});
        ASSERT_TRUE(clean.target == expected);
        if (c.streamMemory == 0) {
            // A stream held in memory is not read again once the target has changed.
            EXPECT_LT(cleanSource.LastCallTime(), cleanTarget.ModifyTime());
        }

        for (int side = 0; side < 3; ++side) {
            const CVELK_FaultSwitch& counts = side == 0 ? cleanSource : side == 1 ? cleanTarget : cleanJournal;
            for (FaultOp op : kAllOps) {
                for (uint64_t n = 1; n <= counts.Calls(op); ++n) {
                    for (FaultKind kind : KindsFor(op)) {
                        std::ostringstream where;
                        where << SideName(side) << " " << FaultOpName(op) << " call " << n << " " << KindName(kind);
                        SCOPED_TRACE(where.str());
                        ++runs;
                        uint64_t clock = 0;
                        const FaultPlan plan{op, n, kind};
                        CVELK_FaultSwitch source(side == 0 ? plan : FaultPlan(), &clock);
                        CVELK_FaultSwitch target(side == 1 ? plan : FaultPlan(), &clock);
                        CVELK_FaultSwitch journal(side == 2 ? plan : FaultPlan(), &clock);
                        const RunResult r = RunApplication(c, payload, source, target, journal);
                        const CVELK_FaultSwitch& broken = side == 0 ? source : side == 1 ? target : journal;
                        ASSERT_TRUE(broken.Tripped());
                        // A read the platform splits is not a damaged payload.
                        const bool shortened = kind == FaultKind::kShortOnce || kind == FaultKind::kShortFromThen;
                        if (side == 0 && shortened) EXPECT_TRUE(r.applied);
                        // Nothing the journal meets stops an application that can go on without it.
                        if (side == 2) EXPECT_TRUE(r.applied);

                        EXPECT_EQ(r.liveAfter, 0);
                        const int opened = r.filesMade;
                        for (int open : r.openAtMessage) EXPECT_EQ(open, opened);
                        EXPECT_TRUE(r.recovery != RecoveryOutcome::kUnusable && r.recovery != RecoveryOutcome::kFailed);

                        if (r.applied) {
                            EXPECT_EQ(r.messages, std::vector<std::u16string>{kSuccess});
                            EXPECT_TRUE(r.target == expected) << "success claimed for a wrongly patched target";
                            EXPECT_TRUE(r.recovered == expected) << "a finished application undone";
                            continue;
                        }
                        const bool declined = r.messages.empty() && r.questions.size() == 1 && !c.answerOk;
                        if (!declined) {
                            ASSERT_EQ(r.messages.size(), 1u);
                            EXPECT_NE(r.messages[0], kSuccess);
                        }
                        // Whatever failed, the target is as it was; where undoing it failed too, the
                        // message says so and the next application's recovery puts it back.
                        const std::u16string lastLine = std::u16string(u"\n") + kRestoreNextTime;
                        const bool undoFailed = !declined && r.messages[0].size() > lastLine.size() &&
                                                r.messages[0].compare(r.messages[0].size() - lastLine.size(),
                                                                      lastLine.size(), lastLine) == 0;
                        // A fault that strikes once leaves the undoing to work; but after a
                        // failed flush of the target no one can tell what reached the disk, and
                        // the journal is kept for the next application to play.
                        const bool targetFlush = side == 1 && op == FaultOp::kFlush;
                        if (targetFlush) EXPECT_TRUE(undoFailed);
                        else if (kind == FaultKind::kFailOnce || kind == FaultKind::kShortOnce) EXPECT_FALSE(undoFailed);
                        if (!undoFailed) EXPECT_TRUE(r.target == c.target) << "target changed by a failed application";
                        EXPECT_TRUE(r.recovered == c.target) << "target not restored by the next application";
                    }
                }
            }
        }
    }
    // Enough calls were broken to mean something (each case has dozens of calls).
    EXPECT_GT(runs, 500u);
    std::printf("%zu broken applications\n", runs);
}

// After the power failed: the disk comes back, and recovery runs on what is left. `message` gets
// the message it showed, if any.
RecoveryOutcome RestartAndRecover(CrashDisk& disk, const NativeString& target, std::u16string* message)
{
    EXPECT_TRUE(disk.PowerFailed());
    disk.Restart();
    RecordingOwner owner;
    CVELK_IPS_IN recovery(owner);
    recovery.UseFileSystem(disk);
    const RecoveryOutcome outcome = recovery.RecoverTarget(target.c_str());
    if (!owner.messages.empty()) *message = owner.messages[0];
    return outcome;
}

// Cuts the power at every call of an application in turn, with several ways for the disk's cache
// to have fared (kept, lost, or write by write kept, torn or lost), on the journal and the target
// alike. When the disk comes back, recovery runs on what is left, and the target is either the
// original or the patched file byte for byte, with no journal left beside it. Where it is the
// original, the same application then goes through without the CRC question.
TEST(PowerLossWalk, EveryCallOfAnApplication)
{
    const NativeString source = VELK_NATIVE("patch.bin"), target = VELK_NATIVE("image.iso");
    const NativeString journal = CVELK_UndoJournal::PathFor(target.c_str());
    struct Pattern {
        LossPattern loss;
        uint32_t seed;
    };
    const Pattern patterns[] = {{LossPattern::kKeepAll, 0}, {LossPattern::kLoseAll, 0}, {LossPattern::kRandom, 1},
                                {LossPattern::kRandom, 2},  {LossPattern::kRandom, 3},  {LossPattern::kRandom, 4}};
    size_t crashes = 0;
    for (const WalkCase& c : WalkCases()) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> payload = c.Payload(), expected = c.Expected();
        auto apply = [&](CrashDisk& disk, RecordingOwner& owner) {
            WatchedApplier applier(owner, disk, c.streamMemory);
            return applier.ApplyPatch(source.c_str(), target.c_str(), 0);
        };

        CrashDisk clean;
        clean.Put(source, payload);
        clean.Put(target, c.target);
        RecordingOwner cleanOwner(c.answerOk);
        ASSERT_TRUE(apply(clean, cleanOwner));
        ASSERT_TRUE(clean.Bytes(target) == expected);
        const uint64_t calls = clean.Calls();

        for (uint64_t n = 1; n <= calls; ++n) {
            for (const Pattern& pattern : patterns) {
                SCOPED_TRACE("power fails at call " + std::to_string(n) + " of " + std::to_string(calls) +
                             ", pattern " + std::to_string(static_cast<int>(pattern.loss)) + "/" +
                             std::to_string(pattern.seed));
                ++crashes;
                CrashDisk disk;
                disk.Put(source, payload);
                disk.Put(target, c.target);
                disk.PlanPowerFailure(n, pattern.loss, pattern.seed);
                RecordingOwner crashed(c.answerOk);
                apply(disk, crashed);
                std::u16string message;
                const RecoveryOutcome outcome = RestartAndRecover(disk, target, &message);
                ASSERT_TRUE(outcome != RecoveryOutcome::kUnusable && outcome != RecoveryOutcome::kFailed)
                    << Printable(message);
                const std::vector<uint8_t> after = disk.Bytes(target);
                const bool original = after == c.target, patched = after == expected;
                ASSERT_TRUE(original || patched) << "a mixed target after recovery";
                // A journal kept for undo is there exactly when the patched file came through.
                EXPECT_EQ(disk.Has(journal), c.keepUndo && patched);
                if (c.keepUndo && patched) {
                    RecordingOwner undone;
                    WatchedApplier undo(undone, disk, 0);
                    EXPECT_TRUE(undo.UndoPatch(source.c_str(), target.c_str(), 0));
                    EXPECT_TRUE(disk.Bytes(target) == c.target);
                    EXPECT_FALSE(disk.Has(journal));
                    continue;
                }
                // Run again, the application goes through without the CRC question; where the
                // target came through patched and the payload knows its result, it says so.
                if (!original && !c.recordsResult) continue;
                RecordingOwner again(false);
                EXPECT_TRUE(apply(disk, again));
                EXPECT_TRUE(again.questions.empty());
                EXPECT_EQ(again.messages, std::vector<std::u16string>{original ? kSuccess : kAlreadyPatched});
                EXPECT_TRUE(disk.Bytes(target) == expected);
            }
        }
    }
    // Thousands of power failures.
    EXPECT_GT(crashes, 1000u);
    std::printf("%zu power failures\n", crashes);
}

// A set on the in-memory disk: two files modified (the first the anchor), one created in a folder
// the set makes, one removed.
class SetOnDisk {
public:
    using Snapshot = std::map<NativeString, std::vector<uint8_t>>;  // a folder's name ends in a separator

    SetOnDisk()
    {
        a1 = a0;
        a1.resize(9000, 3);
        for (size_t i = 10; i < 400; ++i) a1[i] ^= 0x33;
        set = MakeSetBytes({{velk_set::Kind::kModify, "a.bin", a0, a1},
                            {velk_set::Kind::kModify, "sub/b.bin", b0, b1},
                            {velk_set::Kind::kCreate, "text/c.txt", {}, c1},
                            {velk_set::Kind::kDelete, "old.dat", d0, {}}},
                           "a.bin");
    }
    static NativeString At(const std::string& relative)
    {
        NativeString path = Native("game");
        for (char c : "/" + relative) path.push_back(c == '/' ? kPathSeparator : static_cast<NativeChar>(c));
        return path;
    }
    static NativeString Folder(const std::string& relative) { return At(relative) + kPathSeparator; }
    NativeString Anchor() const { return At("a.bin"); }
    NativeString Source() const { return Native("set.velk"); }

    void PutBefore(CrashDisk& disk) const
    {
        disk.Put(Source(), set);
        disk.PutFolder(Native("game"));
        disk.PutFolder(At("sub"));
        disk.Put(At("a.bin"), a0);
        disk.Put(At("sub/b.bin"), b0);
        disk.Put(At("old.dat"), d0);
    }
    Snapshot Before() const
    {
        return {{Native("game") + kPathSeparator, {}}, {Folder("sub"), {}}, {At("a.bin"), a0}, {At("sub/b.bin"), b0}, {At("old.dat"), d0}};
    }
    Snapshot After() const
    {
        return {{Native("game") + kPathSeparator, {}}, {Folder("sub"), {}}, {Folder("text"), {}},
                {At("a.bin"), a1}, {At("sub/b.bin"), b1}, {At("text/c.txt"), c1}};
    }
    Snapshot WithoutSetJournal(Snapshot snapshot) const
    {
        snapshot.erase(Anchor() + kSetJournalSuffix);
        return snapshot;
    }
    Snapshot Taken(const CrashDisk& disk) const
    {
        Snapshot snapshot;
        for (const NativeString& name : disk.Names()) {
            if (disk.HasFolder(name)) snapshot[name + kPathSeparator];
            else if (name != Source()) snapshot[name] = disk.Bytes(name);
        }
        return snapshot;
    }

    std::vector<uint8_t> a0 = PatternBytes(7000, 21), a1, b0 = PatternBytes(3000, 22), b1 = PatternBytes(2000, 25);
    std::vector<uint8_t> c1 = PatternBytes(1500, 23), d0 = PatternBytes(800, 24);
    std::vector<uint8_t> set;
};

// Recovery where the anchor is, with nothing broken, as the next application begins.
RecoveryOutcome RecoverSet(CrashDisk& disk, const SetOnDisk& w)
{
    RecordingOwner quiet;
    CVELK_IPS_IN recovery(quiet);
    recovery.UseFileSystem(disk);
    return recovery.RecoverTarget(w.Anchor().c_str());
}

// Every call of a set's application broken in turn, on every file and the file system alike. A
// set that fails is put back whole, or says that the next application will put it back; one
// that succeeds is whole; and the next application's recovery leaves every file original or every
// file patched, nothing between.
TEST(FaultWalk, EveryCallOfASetsApplicationFails)
{
    const SetOnDisk w;
    const auto run = [&](CVELK_FaultSwitch& faults, CrashDisk& disk, RecordingOwner& owner) {
        w.PutBefore(disk);
        CVELK_FaultFileSystem files(disk, faults, true);
        WatchedApplier applier(owner, disk, 0);
        applier.UseFileSystem(files);
        return applier.ApplyPatch(w.Source().c_str(), w.Anchor().c_str(), 0);
    };
    CVELK_FaultSwitch counts;
    {
        CrashDisk disk;
        RecordingOwner owner;
        ASSERT_TRUE(run(counts, disk, owner));
        ASSERT_TRUE(w.Taken(disk) == w.After());
    }
    const std::u16string lastLine = std::u16string(u"\n") + kRestoreNextTime;
    size_t runs = 0;
    for (FaultOp op : kAllOps) {
        for (uint64_t n = 1; n <= counts.Calls(op); ++n) {
            for (FaultKind kind : KindsFor(op)) {
                SCOPED_TRACE(std::string(FaultOpName(op)) + " call " + std::to_string(n) + " " + KindName(kind));
                ++runs;
                CVELK_FaultSwitch faults(FaultPlan{op, n, kind});
                CrashDisk disk;
                RecordingOwner owner;
                const bool applied = run(faults, disk, owner);
                EXPECT_EQ(faults.liveFiles, 0);
                const SetOnDisk::Snapshot left = w.Taken(disk);
                const RecoveryOutcome recovery = RecoverSet(disk, w);
                EXPECT_TRUE(recovery != RecoveryOutcome::kUnusable && recovery != RecoveryOutcome::kFailed);
                const SetOnDisk::Snapshot recovered = w.Taken(disk);
                if (applied) {
                    EXPECT_EQ(owner.messages, std::vector<std::u16string>{kSuccess});
                    // What the set kept for undoing may be left for the next application to remove.
                    for (const auto& [name, bytes] : w.After()) EXPECT_TRUE(left.count(name) && left.at(name) == bytes);
                    EXPECT_TRUE(recovered == w.After()) << "a finished set undone";
                    continue;
                }
                // A question the user declined, where a read was cut short, says nothing more.
                if (owner.messages.empty() && owner.questions.size() == 1) {
                    EXPECT_TRUE(left == w.Before());
                    continue;
                }
                ASSERT_EQ(owner.messages.size(), 1u);
                EXPECT_NE(owner.messages[0], kSuccess);
                const std::u16string& message = owner.messages[0];
                const bool undoFailed = message.size() > lastLine.size() &&
                                        message.compare(message.size() - lastLine.size(), lastLine.size(), lastLine) == 0;
                if (kind == FaultKind::kFailOnce && op != FaultOp::kFlush) EXPECT_FALSE(undoFailed) << Printable(message);
                // Where no file had changed yet, a set journal that could not be removed may be
                // left: the next application removes it.
                if (!undoFailed) EXPECT_TRUE(w.WithoutSetJournal(left) == w.Before()) << "a failed set left changed: " << Printable(message);
                EXPECT_TRUE(recovered == w.Before()) << "a failed set not put back";
            }
        }
    }
    EXPECT_GT(runs, 300u);
    std::printf("%zu broken applications of a set\n", runs);
}

// The power cut at every call of a set's application, the disk's cache faring each way: after
// recovery every file is original or every file patched, and nothing of the set's is left.
TEST(PowerLossWalk, EveryCallOfASetsApplication)
{
    const SetOnDisk w;
    const auto apply = [&](CrashDisk& disk) {
        RecordingOwner owner;
        WatchedApplier applier(owner, disk, 0);
        return applier.ApplyPatch(w.Source().c_str(), w.Anchor().c_str(), 0);
    };
    CrashDisk clean;
    w.PutBefore(clean);
    ASSERT_TRUE(apply(clean));
    const uint64_t calls = clean.Calls();
    const std::pair<LossPattern, uint32_t> patterns[] = {{LossPattern::kKeepAll, 0}, {LossPattern::kLoseAll, 0},
                                                         {LossPattern::kRandom, 1},  {LossPattern::kRandom, 2},
                                                         {LossPattern::kRandom, 3},  {LossPattern::kRandom, 4}};
    size_t crashes = 0, original = 0;
    for (uint64_t n = 1; n <= calls; ++n) {
        for (const auto& [loss, seed] : patterns) {
            SCOPED_TRACE("power fails at call " + std::to_string(n) + " of " + std::to_string(calls) + ", pattern " +
                         std::to_string(static_cast<int>(loss)) + "/" + std::to_string(seed));
            ++crashes;
            CrashDisk disk;
            w.PutBefore(disk);
            disk.PlanPowerFailure(n, loss, seed);
            apply(disk);
            ASSERT_TRUE(disk.PowerFailed());
            disk.Restart();
            const RecoveryOutcome outcome = RecoverSet(disk, w);
            ASSERT_TRUE(outcome != RecoveryOutcome::kUnusable && outcome != RecoveryOutcome::kFailed);
            const SetOnDisk::Snapshot after = w.Taken(disk);
            ASSERT_TRUE(after == w.Before() || after == w.After()) << "a mixed folder after recovery";
            if (after == w.After()) continue;
            ++original;
            EXPECT_TRUE(apply(disk));
            EXPECT_TRUE(w.Taken(disk) == w.After());
        }
    }
    EXPECT_GT(crashes, 1000u);
    EXPECT_GT(original, 0u);
    std::printf("%zu power failures during a set, %zu put back\n", crashes, original);
}

// Cuts the power at every call of an undo (the kept journal played back onto the patched file)
// in the same ways. Recovery then leaves the patched file with its kept journal, as before the
// undo, or gives the original without a journal; a second undo finishes what the first began.
TEST(PowerLossWalk, EveryCallOfAnUndo)
{
    const NativeString source = VELK_NATIVE("patch.bin"), target = VELK_NATIVE("image.iso");
    const NativeString journal = CVELK_UndoJournal::PathFor(target.c_str());
    const WalkCase c = WalkCases().back();
    ASSERT_TRUE(c.keepUndo);
    const std::vector<uint8_t> payload = c.Payload(), expected = c.Expected();
    // A disk with the patched file and its kept journal; the calls of an undo counted from there.
    auto kept = [&](CrashDisk& disk) {
        disk.Put(source, payload);
        disk.Put(target, c.target);
        RecordingOwner owner;
        WatchedApplier applier(owner, disk, 0);
        ASSERT_TRUE(applier.ApplyPatch(source.c_str(), target.c_str(), 0));
        ASSERT_TRUE(disk.Has(journal));
    };
    auto undo = [&](CrashDisk& disk) {
        RecordingOwner owner;
        WatchedApplier applier(owner, disk, 0);
        return applier.UndoPatch(source.c_str(), target.c_str(), 0);
    };
    CrashDisk clean;
    kept(clean);
    clean.PlanPowerFailure(0, LossPattern::kKeepAll, 0);
    ASSERT_TRUE(undo(clean));
    ASSERT_TRUE(clean.Bytes(target) == c.target);
    const uint64_t calls = clean.Calls();
    size_t crashes = 0, restored = 0;
    for (uint64_t n = 1; n <= calls; ++n) {
        for (uint32_t seed : {0u, 1u, 2u, 3u}) {
            const LossPattern loss = seed == 0 ? LossPattern::kLoseAll : LossPattern::kRandom;
            SCOPED_TRACE("power fails at call " + std::to_string(n) + " of " + std::to_string(calls) + ", seed " +
                         std::to_string(seed));
            ++crashes;
            CrashDisk disk;
            kept(disk);
            disk.PlanPowerFailure(n, loss, seed);
            undo(disk);
            std::u16string message;
            const RecoveryOutcome outcome = RestartAndRecover(disk, target, &message);
            const std::vector<uint8_t> after = disk.Bytes(target);
            if (after == c.target) {
                ++restored;
                EXPECT_FALSE(disk.Has(journal));
                EXPECT_TRUE(outcome != RecoveryOutcome::kUnusable && outcome != RecoveryOutcome::kFailed);
                continue;
            }
            ASSERT_TRUE(after == expected) << "a mixed target after recovery";
            EXPECT_EQ(outcome, RecoveryOutcome::kKept);
            EXPECT_TRUE(undo(disk));
            EXPECT_TRUE(disk.Bytes(target) == c.target);
            EXPECT_FALSE(disk.Has(journal));
        }
    }
    EXPECT_GT(restored, 0u);
    EXPECT_LT(restored, crashes);
    std::printf("%zu power failures during an undo\n", crashes);
}

// Every read and write of a page or more that the engine makes (the CRC check on its reading
// thread, the record stream, the result check, the journal written and played back, the target's
// writes, and create) goes to or from memory in phase with the file: a buffer from the one
// page-aligned allocator, holding each byte at its file position's offset within a page, which
// the kernel copies to and from the page cache at full speed (file/io_buffer.h).
TEST(IoBuffers, EveryTransferIsInPhaseWithTheFile)
{
    uint64_t transfers = 0;
    std::vector<std::string> outOfPhase;
    const auto watch = [&](const char* file) {
        return [&, file](const void* memory, int64_t position, uint32_t count) {
            if (count < CVELK_IoBuffer::kPageBytes) return;
            ++transfers;
            if ((reinterpret_cast<uintptr_t>(memory) - static_cast<uint64_t>(position)) % CVELK_IoBuffer::kPageBytes != 0)
                outOfPhase.push_back(std::string(file) + " at " + std::to_string(position));
        };
    };
    // A 3 MiB image (the CRC check reads ahead): scattered records, a dense run, the longest
    // record; applied with its result verified, then once more with a result it does not give,
    // which the journal rolls back.
    WalkCase c{"", PatternBytes((3u << 20) + 5, 4), (3 << 20) + 9000, true, true, 0, {}, true};
    for (uint64_t at = 100; at < (3u << 20); at += 40009) c.records.push_back({at, PatternBytes(1 + at % 61, 5)});
    for (uint64_t at = (1 << 20) + 1234; at < (1 << 20) + 300000; at += 90) c.records.push_back({at, PatternBytes(7, 6)});
    c.records.push_back({2u << 20, PatternBytes(65535, 7)});
    const VelkResultIdentity wrong{Crc(c.Expected()) ^ 1, c.target.size()};
    for (const std::vector<uint8_t>& payload :
         {c.Payload(), BuildPayload(c.patchedSize, Crc(c.target), c.records, u"", &wrong)}) {
        CVELK_FaultSwitch source, target, journal;
        source.watch = watch("source");
        target.watch = watch("target");
        journal.watch = watch("journal");
        const RunResult r = RunApplication(c, payload, source, target, journal);
        EXPECT_EQ(r.messages.size(), 1u);
        EXPECT_TRUE(r.target == (r.applied ? c.Expected() : c.target));
    }
    // create: both inputs read (the original on a thread of its own, whose transfers are looked
    // at once it is done), the payload written.
    CVELK_MemoryFile original(c.target), modified(c.Expected()), output(std::vector<uint8_t>{});
    CVELK_FaultSwitch originalSwitch, modifiedSwitch, written;
    std::vector<std::pair<uintptr_t, int64_t>> originalReads;
    originalSwitch.watch = [&](const void* memory, int64_t position, uint32_t count) {
        if (count >= CVELK_IoBuffer::kPageBytes) originalReads.push_back({reinterpret_cast<uintptr_t>(memory), position});
    };
    modifiedSwitch.watch = watch("modified");
    written.watch = watch("payload");
    CVELK_FaultFile a(original, originalSwitch), b(modified, modifiedSwitch), out(output, written);
    EXPECT_EQ(CVELK_PatchBuilder(a, b).Build(out), VelkBuildStatus::kOk);
    for (const auto& read : originalReads) watch("original")(reinterpret_cast<const void*>(read.first), read.second, 4096);

    EXPECT_GT(transfers, 20u);
    EXPECT_EQ(outOfPhase, std::vector<std::string>());
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
