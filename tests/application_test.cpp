#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>

#include "apply/application.h"
#include "apply/messages.h"
#include "apply/mismatch_reason.h"
#include "file/io.h"
#include "crc/crc32.h"
#include "file/memory_file.h"
#include "file/stretch_reader.h"
#include "file/velk_file.h"
#include "journal/journal_format.h"
#include "maker/payload_writer.h"
#include "support/crash_disk.h"
#include "support/fault_file.h"
#include "support/payload_builder.h"
#include "support/test_support.h"

namespace {

using namespace velk_messages;

struct Outcome {
    bool applied;
    std::vector<std::u16string> messages;
    std::vector<std::u16string> questions;
    std::vector<uint8_t> target;
};

Outcome Apply(const std::vector<uint8_t>& payload, std::vector<uint8_t> target, bool answerOk = false,
              size_t prefix = 0)
{
    std::vector<uint8_t> source = PatternBytes(prefix, 9);
    source.insert(source.end(), payload.begin(), payload.end());
    CVELK_MemoryFile sourceFile(source, kAccessRead);
    CVELK_MemoryFile targetFile(std::move(target));
    RecordingOwner owner(answerOk);
    CVELK_IPS_IN applier(owner);
    Outcome out;
    out.applied = applier.ApplyOpened(sourceFile, targetFile, static_cast<int64_t>(prefix));
    out.messages = owner.messages;
    out.questions = owner.questions;
    out.target = targetFile.Bytes();
    return out;
}

uint32_t Crc(const std::vector<uint8_t>& bytes)
{
    return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size());
}

const std::vector<uint8_t> kTarget = PatternBytes(64, 5);

// An application through ApplyPatch on an in-memory disk, which keeps the undo journal beside
// the target as a real disk would. Set the owner, the applier or the disk up before Run.
struct DiskApplication {
    DiskApplication(const std::vector<uint8_t>& payload, const std::vector<uint8_t>& image) : applier(owner)
    {
        disk.Put(source, payload);
        disk.Put(target, image);
        applier.UseFileSystem(disk);
    }
    bool Run() { return applier.ApplyPatch(source.c_str(), target.c_str(), 0); }
    std::vector<uint8_t> Target() const { return disk.Bytes(target); }
    bool JournalLeft() const { return disk.Has(CVELK_UndoJournal::PathFor(target.c_str())); }

    const NativeString source = VELK_NATIVE("patch.bin"), target = VELK_NATIVE("image.iso");
    CrashDisk disk;
    RecordingOwner owner;
    CVELK_IPS_IN applier;
};

// The payload from the format's documentation, as literal bytes.
const std::vector<uint8_t> kMinimalPayload = {
    'V', 'E', 'L', 'K', '-', 'P', 'A', 'T', 'C', 'H', '3', '.', '0', 0, 0, 0,  // magic
    16, 0, 0, 0, 0, 0, 0, 0,                                                     // patched size
    0, 0, 0, 0,                                                                  // target CRC
    40, 0, 0, 0,                                                                 // data offset
    0, 0, 0, 0, 0, 0, 0, 0,                                                      // description offset
    0x01, 0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0xAA, 0xBB,                        // record
    0xFF,                                                                        // end
};

TEST(Apply, MinimalPayload)
{
    ASSERT_EQ(kMinimalPayload.size(), 50u);
    for (size_t prefix : {0u, 104u * 1024u}) {
        const Outcome out = Apply(kMinimalPayload, kTarget, false, prefix);
        EXPECT_TRUE(out.applied);
        EXPECT_EQ(out.messages, std::vector<std::u16string>{kSuccess});
        std::vector<uint8_t> expected(kTarget.begin(), kTarget.begin() + 16);
        expected[5] = 0xAA;
        expected[6] = 0xBB;
        EXPECT_EQ(out.target, expected);
    }
}

struct FailureCase {
    const char* name;
    std::vector<uint8_t> payload;
    const char16_t* message;
};

// Every damaged or refused payload: exactly one message, and the target byte for byte as it was.
TEST(Apply, DamagedPayloadsShowTheirMessageAndLeaveTheTargetAlone)
{
    const std::vector<uint8_t> data = {1, 2, 3};
    const FailureCase cases[] = {
        {"empty payload", {}, kInvalidPatch},
        {"wrong magic", PayloadBytes().Header(8, 0, 0, 40, "DRAV-PATCH3.0").End().bytes, kInvalidPatch},
        {"no minor", PayloadBytes().Header(8, 0, 0, 40, "VELK-PATCH3").End().bytes, kInvalidPatch},
        {"older 2.0", PayloadBytes().Header(8, 0, 0, 40, "VELK-PATCH2.0").End().bytes, kOlderVersion},
        {"older 1.5", PayloadBytes().Header(8, 0, 0, 40, "VELK-PATCH1.5").End().bytes, kOlderVersion},
        {"unknown 3.1", PayloadBytes().Header(8, 0, 0, 40, "VELK-PATCH3.1").End().bytes, kUnknownVersion},
        {"unknown 7.0", PayloadBytes().Header(8, 0, 0, 40, "VELK-PATCH7.0").End().bytes, kUnknownVersion},
        {"cut after the magic", PayloadBytes().Magic("VELK-PATCH3.0").bytes, kDamaged1},
        {"cut after the size", PayloadBytes().Magic("VELK-PATCH3.0").U64(8).bytes, kDamaged2},
        {"cut after the CRC", PayloadBytes().Magic("VELK-PATCH3.0").U64(8).U32(0).bytes, kDamaged3},
        {"data offset 39", PayloadBytes().Header(8, 0, 0, 39).End().bytes, kDamaged4},
        {"data offset at the payload's end", PayloadBytes().Header(8, 0, 0, 41).End().bytes, kDamaged4},
        {"no end record", PayloadBytes().Header(8, 0).Relative(1, data).bytes, kDamaged5},
        {"cut after a type 1", PayloadBytes().Header(8, 0).Relative(1, data).U8(1).bytes, kDamaged6_1},
        {"cut after a type 2", PayloadBytes().Header(8, 0).U8(2).bytes, kDamaged6_2},
        {"unknown record type", PayloadBytes().Header(8, 0).Relative(1, data).U8(3).End().bytes, kInvalidRecordType},
        {"type 0", PayloadBytes().Header(8, 0).U8(0).End().bytes, kInvalidRecordType},
        {"cut before the length", PayloadBytes().Header(8, 0).U8(1).U32(0).bytes, kDamaged7},
        {"length 0", PayloadBytes().Header(8, 0).Relative(1, data).Relative(1, {}).End().bytes, kDamaged8},
        {"cut before the data", PayloadBytes().Header(8, 0).U8(1).U32(0).U16(3).bytes, kDamaged8},
        {"data cut short", PayloadBytes().Header(8, 0).U8(1).U32(0).U16(9).U8(7).bytes, kDamaged5},
        {"negative position", PayloadBytes().Header(8, 0).Relative(1, data).Absolute(0x8000000000000000ull, data).End().bytes,
         kTargetSeekFailed},
        {"deltas that wrap negative",
         PayloadBytes().Header(8, 0).Absolute(0x7FFFFFFFFFFFFFF0ull, data).Relative(0x20, data).End().bytes,
         kTargetSeekFailed},
        // The first fault wins, even when a later one would be reported differently.
        {"fault after a good record", PayloadBytes().Header(8, 0).Relative(2, data).U8(9).bytes, kInvalidRecordType},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = Apply(c.payload, kTarget, false, 33);
        EXPECT_FALSE(out.applied);
        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_EQ(Printable(out.messages[0]), Printable(c.message));
        EXPECT_EQ(out.target, kTarget);
    }
}

TEST(Apply, DataOffsetOneBeforeThePayloadsEndPasses)
{
    // Data offset 40 with a 41-byte payload: the stream is the end record alone.
    const Outcome out = Apply(PayloadBytes().Header(3, 0).End().bytes, kTarget);
    EXPECT_EQ(out.messages, std::vector<std::u16string>{kSuccess});
    EXPECT_EQ(out.target, std::vector<uint8_t>(kTarget.begin(), kTarget.begin() + 3));
}

TEST(Apply, BytesBetweenHeaderAndDataOffsetAreSkipped)
{
    const std::vector<uint8_t> payload =
        PayloadBytes().Header(4, 0, 0, 48).U64(0xFFFFFFFFFFFFFFFFull).Relative(1, {9}).End().bytes;
    const Outcome out = Apply(payload, {0, 0, 0, 0});
    EXPECT_EQ(out.messages, std::vector<std::u16string>{kSuccess});
    EXPECT_EQ(out.target, (std::vector<uint8_t>{0, 9, 0, 0}));
}

struct CrcCase {
    const char* name;
    uint32_t recordedCrc;
    bool answerOk;
    bool asked;
    bool applied;
};

TEST(Apply, CrcCheck)
{
    const uint32_t actual = Crc(kTarget);
    const CrcCase cases[] = {
        {"no CRC recorded", 0, false, false, true},
        {"matching CRC", actual, false, false, true},
        {"mismatch, Cancel", actual ^ 1, false, true, false},
        {"mismatch, OK", actual ^ 1, true, true, true},
    };
    for (const CrcCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = Apply(PayloadBytes().Header(70, c.recordedCrc).Relative(2, {7}).End().bytes, kTarget, c.answerOk);
        EXPECT_EQ(out.applied, c.applied);
        EXPECT_EQ(out.questions.size(), c.asked ? 1u : 0u);
        if (c.asked) EXPECT_EQ(out.questions[0], kCrcQuestion);
        if (c.applied) {
            EXPECT_EQ(out.messages, std::vector<std::u16string>{kSuccess});
            EXPECT_EQ(out.target.size(), 70u);
            EXPECT_EQ(out.target[2], 7);
        } else {
            EXPECT_TRUE(out.messages.empty());  // a declined question ends silently
            EXPECT_EQ(out.target, kTarget);
        }
    }
}

// Where the CRC check fails, the question gains a line above it with what is known of why: one
// row per reason, and one where two apply (the file's kind wins over its size). The reasons that
// need the original's size come only from a payload with an extension block.
TEST(Apply, CrcQuestionSaysWhyTheFileIsNotTheOriginal)
{
    const uint64_t large = 700000000;  // a CD image
    auto withBlock = [](uint64_t originalSize) {
        return PayloadBytes().Header(70, 1, 0, 72).Block(2, originalSize).Relative(2, {7}).End().bytes;
    };
    const std::vector<uint8_t> noBlock = PayloadBytes().Header(70, 1).Relative(2, {7}).End().bytes;
    auto startingWith = [](const char* magic, size_t magicBytes, size_t size) {
        std::vector<uint8_t> file = PatternBytes(size, 31);
        std::copy(magic, magic + magicBytes, file.begin());
        return file;
    };
    const std::string cue = "FILE \"game.bin\" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n";
    const std::vector<uint8_t> cueSheet(cue.begin(), cue.end());
    std::vector<uint8_t> patchProgram = MakePe({{0x400, 0x200}}, 0x400);
    const std::vector<uint8_t> payload = BuildPayload(8, 0, {{0, {1}}});
    patchProgram.insert(patchProgram.end(), payload.begin(), payload.end());
    auto archiveLine = [](const char16_t* name) {
        std::u16string line(kWhyArchive);
        return line.replace(line.find(u'%'), 1, name);
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> payload, target;
        std::u16string reason;  // empty: the question as it always was
    } const cases[] = {
        {"other bytes, the size the original's", withBlock(1000), PatternBytes(1000, 32), u""},
        {"a size of its own", withBlock(large), PatternBytes(1000, 32), u"目标文件大小(1,000字节)与原文件(700,000,000字节)不同"},
        {"a size of its own, no block", noBlock, PatternBytes(1000, 32), u""},
        {"zip", noBlock, startingWith("PK\x03\x04", 4, 3000), archiveLine(u"zip")},
        {"7z", noBlock, startingWith("7z\xBC\xAF\x27\x1C", 6, 3000), archiveLine(u"7z")},
        {"rar", noBlock, startingWith("Rar!\x1A\x07\x01\x00", 8, 3000), archiveLine(u"rar")},
        {"gzip", noBlock, startingWith("\x1F\x8B\x08", 3, 3000), archiveLine(u"gzip")},
        {"xz", noBlock, startingWith("\xFD" "7zXZ\x00", 6, 3000), archiveLine(u"xz")},
        {"zip of a size of its own: two reasons, the kind wins", withBlock(large), startingWith("PK\x03\x04", 4, 3000),
         archiveLine(u"zip")},
        {"a bare payload", noBlock, payload, kWhyPatch},
        {"a patch program", withBlock(large), patchProgram, kWhyPatch},
        {"a program without a payload", withBlock(large), MakePe({{0x400, 0x200}}, 0x400),
         u"目标文件大小(1,536字节)与原文件(700,000,000字节)不同"},
        {"a cue sheet", withBlock(large), cueSheet, kWhyText},
        {"a cue sheet, no block", noBlock, cueSheet, u""},
        {"a text file where the original is small: its size", withBlock(5000), cueSheet,
         u"目标文件大小(" + std::u16string(VelkGroupedNumber(cue.size()).units) + u"字节)与原文件(5,000字节)不同"},
        {"empty", noBlock, {}, kWhyEmpty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = Apply(c.payload, c.target, false);
        ASSERT_EQ(out.questions.size(), 1u);
        const std::u16string expected = c.reason.empty() ? kCrcQuestion : c.reason + u"\n" + kCrcQuestion;
        EXPECT_EQ(Printable(out.questions[0]), Printable(expected));
        EXPECT_TRUE(out.target == c.target);
    }
}

// The reason costs a few KiB of reading, whatever the file: here a 1 MiB archive, and a program
// whose headers claim 65535 sections.
TEST(Apply, ReasonReadsOnlyTheStartOfTheFile)
{
    std::vector<uint8_t> zip = PatternBytes(1 << 20, 33), program = MakePe({{0x400, 0x200}}, 0x400);
    zip[0] = 'P', zip[1] = 'K', zip[2] = 3, zip[3] = 4;
    program.resize(1 << 20, 0);
    velk_io::StoreLE(&program[0x86], 0xFFFF, 2);
    for (const std::vector<uint8_t>* file : {&zip, &program}) {
        CVELK_MemoryFile inner(*file);
        CVELK_FaultSwitch reads;
        uint64_t bytes = 0;
        reads.watch = [&](const void*, int64_t, uint32_t count) { bytes += count; };
        CVELK_FaultFile target(inner, reads);
        const VelkResultIdentity identity{1, 5};
        CVELK_MessageText line;
        ExplainMismatch(target, static_cast<int64_t>(file->size()), &identity, line);
        EXPECT_FALSE(line.Empty());
        EXPECT_LE(bytes, 8192u);
    }
}

// A target that cannot be read through is reported as such, even where the question would be
// answered OK: it is not a file that failed the check. The first read fails, or one halfway.
TEST(Apply, UnreadableTargetIsReportedNotQuestioned)
{
    const std::vector<uint8_t> image = PatternBytes(2 * CVELK_StretchReader::kChunkBytes + 5, 6);
    const std::vector<uint8_t> payload = PayloadBytes().Header(70, Crc(image)).Relative(2, {7}).End().bytes;
    for (uint64_t failingRead : {1, 2}) {
        for (bool answerOk : {false, true}) {
            SCOPED_TRACE("read " + std::to_string(failingRead) + (answerOk ? ", answer OK" : ", answer Cancel"));
            CVELK_MemoryFile source(payload, kAccessRead), inner(image);
            CVELK_FaultSwitch faults(FaultPlan{FaultOp::kRead, failingRead, FaultKind::kFailOnce});
            CVELK_FaultFile target(inner, faults);
            RecordingOwner owner(answerOk);
            CVELK_IPS_IN applier(owner);
            EXPECT_FALSE(applier.ApplyOpened(source, target, 0));
            EXPECT_EQ(owner.messages, std::vector<std::u16string>{kTargetReadFailed});
            EXPECT_TRUE(owner.questions.empty());
            EXPECT_TRUE(inner.Bytes() == image);
        }
    }
}

// The check reports its progress chunk by chunk and looks for a stop request between chunks; a
// stop there ends the application with nothing changed, no question and no message.
TEST(Apply, CrcCheckReportsProgressAndStops)
{
    const std::vector<uint8_t> image = PatternBytes(2 * CVELK_StretchReader::kChunkBytes + 5, 7);
    const int64_t size = static_cast<int64_t>(image.size());
    const std::vector<uint8_t> payload = PayloadBytes().Header(70, Crc(image) ^ 1).Relative(2, {7}).End().bytes;
    for (int stopAfter : {-1, 0, 2}) {
        SCOPED_TRACE("stop after poll " + std::to_string(stopAfter));
        CVELK_MemoryFile source(payload, kAccessRead), target(image);
        RecordingOwner owner(false);
        owner.stopAfterPolls = stopAfter;
        CVELK_IPS_IN applier(owner);
        EXPECT_FALSE(applier.ApplyOpened(source, target, 0));
        EXPECT_EQ(applier.Stopped(), stopAfter >= 0);
        EXPECT_TRUE(owner.messages.empty());
        EXPECT_EQ(owner.questions.size(), stopAfter >= 0 ? 0u : 1u);
        EXPECT_TRUE(target.Bytes() == image);

        std::vector<int64_t> done;
        for (const ProgressReport& p : owner.progress) {
            EXPECT_EQ(p.stage, VelkProgressStage::kCrc);
            EXPECT_EQ(p.total, size);
            done.push_back(p.done);
        }
        const int64_t chunk = CVELK_StretchReader::kChunkBytes;
        const std::vector<int64_t> all = {0, chunk, 2 * chunk, size};
        const size_t reports = stopAfter < 0 ? all.size() : static_cast<size_t>(stopAfter) + 1;
        EXPECT_EQ(done, std::vector<int64_t>(all.begin(), all.begin() + reports));
    }
}

// A stop request is also looked for every few hundred records while the journal is written and
// while the records are: either way the target ends as it was, with no message and no journal.
TEST(Apply, StopWhileSavingOrWriting)
{
    PayloadBytes payload;
    payload.Header(4000, 0);
    for (int i = 0; i < 2000; ++i) payload.Relative(i == 0 ? 0 : 2, {static_cast<uint8_t>(i)});
    // The saving pass looks at records 0, 256, ..., 1792; then comes the look just before the
    // first change; then the writing pass.
    for (int stopAfter : {0, 8, 10}) {
        SCOPED_TRACE(stopAfter == 0 ? "while saving" : stopAfter == 8 ? "before the first change" : "while writing");
        DiskApplication run(payload.End().bytes, kTarget);
        run.owner.stopAfterPolls = stopAfter;
        EXPECT_FALSE(run.Run());
        EXPECT_TRUE(run.applier.Stopped());
        EXPECT_TRUE(run.owner.messages.empty());
        EXPECT_EQ(run.owner.stopPolls, stopAfter + 1);
        EXPECT_EQ(run.Target(), kTarget);
        EXPECT_FALSE(run.JournalLeft());
    }
}

// Asks to stop while the CRC question is open (the exit confirmed meanwhile), then answers it OK.
class StopAtTheQuestionOwner : public RecordingOwner {
public:
    StopAtTheQuestionOwner() : RecordingOwner(true) {}
    bool AskOkCancel(const char16_t* text) override
    {
        asked = true;
        return RecordingOwner::AskOkCancel(text);
    }
    bool StopRequested() override { return asked; }
    bool asked = false;
};

// A patch of fewer records than lie between two looks at the stop request: the look before the
// first change sees it, with a journal or without, and nothing is written.
TEST(Apply, StopAskedAtTheCrcQuestionIsHonoured)
{
    const std::vector<uint8_t> payload = PayloadBytes().Header(70, Crc(kTarget) ^ 1).Relative(2, {7}).Relative(9, {8}).End().bytes;
    for (bool journal : {true, false}) {
        SCOPED_TRACE(journal ? "with a journal" : "without");
        DiskApplication run(payload, kTarget);
        StopAtTheQuestionOwner owner;
        CVELK_IPS_IN applier(owner);
        applier.UseFileSystem(run.disk);
        applier.SetUndoJournal(journal);
        EXPECT_FALSE(applier.ApplyPatch(run.source.c_str(), run.target.c_str(), 0));
        EXPECT_TRUE(applier.Stopped());
        EXPECT_EQ(owner.questions.size(), 1u);
        EXPECT_TRUE(owner.messages.empty());
        EXPECT_EQ(run.Target(), kTarget);
        EXPECT_FALSE(run.JournalLeft());
    }
}

// With a journal the records are gone through twice, to save what they overwrite and to write
// them: the records stage rises through both passes once, without running back, to its end.
TEST(Apply, RecordsProgressRunsThroughBothPasses)
{
    PayloadBytes payload;
    const int records = 40000;  // more than two progress intervals
    payload.Header(2 * records + 10, 0);
    for (int i = 0; i < records; ++i) payload.Relative(i == 0 ? 0 : 1, {static_cast<uint8_t>(i)});
    const std::vector<uint8_t> bytes = payload.End().bytes;
    for (const bool journal : {true, false}) {
        SCOPED_TRACE(journal ? "with a journal" : "without");
        DiskApplication run(bytes, kTarget);
        run.applier.SetUndoJournal(journal);
        ASSERT_TRUE(run.Run());

        std::vector<ProgressReport> shown;
        for (const ProgressReport& p : run.owner.progress)
            if (p.stage == VelkProgressStage::kRecords) shown.push_back(p);
        ASSERT_FALSE(shown.empty());
        const int64_t total = shown.front().total;
        const int64_t stream = static_cast<int64_t>(bytes.size()) - velk_format::kHeaderBytes;
        EXPECT_EQ(total, journal ? 2 * stream : stream);
        EXPECT_EQ(shown.front().done, 0);
        EXPECT_EQ(shown.back().done, total);
        // Each pass reports on its way, not only at its ends.
        std::vector<int> insidePass(total / stream, 0);
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].total, total);
            if (i > 0) EXPECT_GE(shown[i].done, shown[i - 1].done);
            if (shown[i].done % stream != 0) ++insidePass[shown[i].done / stream];
        }
        for (int inside : insidePass) EXPECT_GE(inside, 2);
    }
}

TEST(Apply, CrcQuestionComesBeforeTheDataOffsetCheck)
{
    // Declining the question ends the application before the damaged data offset is noticed.
    const Outcome out = Apply(PayloadBytes().Header(8, 1, 0, 39).End().bytes, kTarget, false);
    EXPECT_EQ(out.questions.size(), 1u);
    EXPECT_TRUE(out.messages.empty());
}

// ---- Payloads that record their result -------------------------------------------------------

const std::vector<uint8_t> kOriginal = PatternBytes(5000, 21);

// Two records and a growth to 6000 bytes: what they make of `target`.
std::vector<uint8_t> Patched(std::vector<uint8_t> target)
{
    target.resize(6000, 0);
    target[100] = 0xA1;
    target[101] = 0xA2;
    target[5500] = 0xB1;
    return target;
}

// A header recording `targetCrc`, a block (or, with `block` false, the bytes a block would take)
// and the records that make Patched(); `tamper` spoils the block in one of the ways that make it
// not count.
enum class Tamper { kNone, kOwnCrc, kShortLength, kPastDataOffset };

std::vector<uint8_t> ResultPayload(uint32_t targetCrc, uint32_t resultCrc, Tamper tamper = Tamper::kNone,
                                   int64_t patchedSize = 6000)
{
    PayloadBytes p;
    switch (tamper) {
    case Tamper::kNone: p.Header(patchedSize, targetCrc, 0, 72).Block(resultCrc, 5000); break;
    case Tamper::kOwnCrc: p.Header(patchedSize, targetCrc, 0, 72).Block(resultCrc, 5000, 32, true); break;
    case Tamper::kShortLength: p.Header(patchedSize, targetCrc, 0, 72).Block(resultCrc, 5000, 28).U32(0); break;
    case Tamper::kPastDataOffset:
        // A whole block whose records start at 71, on the last byte of its own CRC: an original
        // size is chosen that makes that byte the first record's type, which the records share.
        for (uint64_t size = 5000; p.bytes.empty() || p.bytes.back() != velk_format::kRecordRelative; ++size)
            p = PayloadBytes().Header(patchedSize, targetCrc, 0, 71).Block(resultCrc, size);
        p.bytes.pop_back();
        break;
    }
    if (patchedSize == 6000) p.Relative(100, {0xA1, 0xA2}).Relative(5400, {0xB1});
    return p.End().bytes;
}

// Small files are read whole to check the result; `derived` makes the applier read only the
// changed ranges, as it does for a large image.
class ResultApplier : public CVELK_IPS_IN {
public:
    ResultApplier(CVELK_MessageOwner& owner, bool derived) : CVELK_IPS_IN(owner)
    {
        if (derived) SetResultRangeCost(0);
    }
};

struct ResultCase {
    const char* name;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> target;
    bool answerOk;
    std::vector<std::u16string> messages;
    size_t questions;
    std::vector<uint8_t> after;
};

// Through ApplyPatch, with an undo journal: "already patched" writes nothing and asks nothing; a
// result that is not the block's is rolled back; blocks that do not count change nothing.
TEST(Apply, PayloadsThatRecordTheirResult)
{
    const std::vector<uint8_t> result = Patched(kOriginal), other = PatternBytes(5000, 22);
    const uint32_t originalCrc = Crc(kOriginal), resultCrc = Crc(result);
    const std::vector<uint8_t> damagedStream =
        PayloadBytes().Header(6000, originalCrc, 0, 72).Block(resultCrc, 5000).Relative(100, {0xA1}).U8(1).bytes;
    const ResultCase cases[] = {
        {"the original: result verified", ResultPayload(originalCrc, resultCrc), kOriginal, false, {kSuccess}, 0, result},
        {"already patched", ResultPayload(originalCrc, resultCrc), result, false, {kAlreadyPatched}, 0, result},
        {"already patched, no CRC recorded", ResultPayload(0, resultCrc), result, false, {kAlreadyPatched}, 0, result},
        {"original and result one file", ResultPayload(originalCrc, originalCrc, Tamper::kNone, 5000), kOriginal,
         false, {kAlreadyPatched}, 0, kOriginal},
        {"wrong result CRC: rolled back", ResultPayload(originalCrc, resultCrc ^ 1), kOriginal, false,
         {kResultCrcFailed}, 0, kOriginal},
        {"wrong result CRC, another file accepted: not checked", ResultPayload(originalCrc, resultCrc ^ 1), other,
         true, {kSuccess}, 1, Patched(other)},
        {"wrong result CRC, no CRC recorded: not checked", ResultPayload(0, resultCrc ^ 1), kOriginal, false,
         {kSuccess}, 0, result},
        {"bad own CRC: no block", ResultPayload(originalCrc, resultCrc ^ 1, Tamper::kOwnCrc), kOriginal, false,
         {kSuccess}, 0, result},
        {"bad own CRC: patched file questioned", ResultPayload(originalCrc, resultCrc, Tamper::kOwnCrc), result, false,
         {}, 1, result},
        {"short length: no block", ResultPayload(originalCrc, resultCrc ^ 1, Tamper::kShortLength), kOriginal, false,
         {kSuccess}, 0, result},
        {"short length: patched file questioned", ResultPayload(originalCrc, resultCrc, Tamper::kShortLength), result,
         false, {}, 1, result},
        {"length past the data offset: no block", ResultPayload(originalCrc, resultCrc ^ 1, Tamper::kPastDataOffset),
         kOriginal, false, {kSuccess}, 0, result},
        {"length past the data offset: patched file questioned",
         ResultPayload(originalCrc, resultCrc, Tamper::kPastDataOffset), result, false, {}, 1, result},
        // With a block the data offset is checked before the CRC step.
        {"block: damaged (4) before the question", PayloadBytes().Header(6000, originalCrc, 0, 72).Block(resultCrc, 5000).bytes,
         other, false, {kDamaged4}, 0, other},
        // With a block the records are gone through before the CRC step, but a damaged stream is
        // reported in its turn: after the question, and not at all where the file is already
        // patched or the question is declined.
        {"block, damaged stream: the original", damagedStream, kOriginal, false, {kDamaged6_1}, 0, kOriginal},
        {"block, damaged stream: another file accepted", damagedStream, other, true, {kDamaged6_1}, 1, other},
        {"block, damaged stream: another file declined", damagedStream, other, false, {}, 1, other},
        {"block, damaged stream: already patched", damagedStream, result, false, {kAlreadyPatched}, 0, result},
    };
    const NativeString source = VELK_NATIVE("patch.bin"), target = VELK_NATIVE("image.iso");
    for (const ResultCase& c : cases) {
        for (bool derived : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (derived ? ", result derived from the ranges" : ", whole file read"));
            CrashDisk disk;
            disk.Put(source, c.payload);
            disk.Put(target, c.target);
            RecordingOwner owner(c.answerOk);
            ResultApplier applier(owner, derived);
            applier.UseFileSystem(disk);
            const bool applied = applier.ApplyPatch(source.c_str(), target.c_str(), 0);
            EXPECT_EQ(applied, c.messages.size() == 1 && (c.messages[0] == kSuccess || c.messages[0] == kAlreadyPatched));
            EXPECT_EQ(owner.messages, c.messages);
            EXPECT_EQ(owner.questions.size(), c.questions);
            EXPECT_TRUE(disk.Bytes(target) == c.after);
            EXPECT_FALSE(disk.Has(CVELK_UndoJournal::PathFor(target.c_str())));
        }
    }
}

// A stop asked for while the result is read back (the last look at the stop request) puts the
// target back as it was, with no message.
TEST(Apply, StopWhileTheResultIsReadBack)
{
    const std::vector<uint8_t> payload = ResultPayload(Crc(kOriginal), Crc(Patched(kOriginal)));
    int polls = 0;
    for (int stopAfter : {1000, -1}) {
        DiskApplication run(payload, kOriginal);
        RecordingOwner& owner = run.owner;
        // First counted without stopping, then stopped at the last look.
        owner.stopAfterPolls = stopAfter < 0 ? polls - 1 : stopAfter;
        const bool applied = run.Run();
        if (stopAfter >= 0) {
            ASSERT_TRUE(applied);
            polls = owner.stopPolls;
            // The whole patched file is read back in one chunk: the last look is just before it.
            ASSERT_EQ(owner.progress.back().stage, VelkProgressStage::kCrc);
            continue;
        }
        EXPECT_FALSE(applied);
        EXPECT_TRUE(run.applier.Stopped());
        EXPECT_TRUE(owner.messages.empty());
        // The records had been written when the stop came.
        EXPECT_TRUE(std::any_of(owner.progress.begin(), owner.progress.end(),
                                [](const ProgressReport& p) { return p.stage == VelkProgressStage::kRecords; }));
        EXPECT_TRUE(run.Target() == kOriginal);
        EXPECT_FALSE(run.JournalLeft());
    }
}

// Without a journal a mismatched result cannot be put back, and the message does not claim it was.
TEST(Apply, MismatchedResultWithoutAJournalIsReportedAsItIs)
{
    const std::vector<uint8_t> result = Patched(kOriginal);
    const Outcome out = Apply(ResultPayload(Crc(kOriginal), Crc(result) ^ 1), kOriginal);
    EXPECT_FALSE(out.applied);
    EXPECT_EQ(out.messages, std::vector<std::u16string>{kResultCrcFailedKept});
    EXPECT_EQ(out.target, result);
}

// The target's CRC-32 is computed once, and with no CRC recorded only when its size is the
// patched size.
TEST(Apply, TargetCrcComputedOnlyWhereNeeded)
{
    const std::vector<uint8_t> result = Patched(kOriginal);
    struct Case {
        const char* name;
        uint32_t targetCrc;
        std::vector<uint8_t> target;
        size_t crcStarts;
    } const cases[] = {
        {"CRC recorded", Crc(kOriginal), kOriginal, 1},
        {"CRC recorded, already patched", Crc(kOriginal), result, 1},
        {"no CRC, other size", 0, kOriginal, 0},
        {"no CRC, patched size", 0, PatternBytes(6000, 23), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CVELK_MemoryFile source(ResultPayload(c.targetCrc, Crc(result)), kAccessRead), target(c.target);
        RecordingOwner owner;
        CVELK_IPS_IN applier(owner);
        applier.ApplyOpened(source, target, 0);
        size_t starts = 0;
        for (const ProgressReport& p : owner.progress) starts += p.stage == VelkProgressStage::kCrc && p.done == 0;
        EXPECT_EQ(starts, c.crcStarts);
    }
}

struct RecordCase {
    const char* name;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> expected;
};

TEST(Apply, RecordPositions)
{
    const std::vector<uint8_t> zeros(24, 0);
    auto with = [&](std::vector<std::pair<size_t, uint8_t>> changes, size_t size = 24) {
        std::vector<uint8_t> v(size, 0);
        for (auto [at, value] : changes) v[at] = value;
        return v;
    };
    const RecordCase cases[] = {
        {"deltas are measured from the previous record, not its end",
         PayloadBytes().Header(24, 0).Relative(10, {1, 1, 1, 1}).Relative(10, {2, 2, 2, 2}).End().bytes,
         with({{10, 1}, {11, 1}, {12, 1}, {13, 1}, {20, 2}, {21, 2}, {22, 2}, {23, 2}})},
        {"an absolute record resets the position for the next delta",
         PayloadBytes().Header(24, 0).Relative(20, {1}).Absolute(3, {2}).Relative(4, {3}).End().bytes,
         with({{20, 1}, {3, 2}, {7, 3}})},
        {"later records overwrite earlier ones",
         PayloadBytes().Header(24, 0).Relative(4, {1, 1, 1}).Relative(1, {2}).End().bytes,
         with({{4, 1}, {5, 2}, {6, 1}})},
        {"a record past the patched size makes the file longer",
         PayloadBytes().Header(24, 0).Relative(25, {5, 6}).End().bytes, with({{25, 5}, {26, 6}}, 27)},
        {"only the end record: just the size", PayloadBytes().Header(24, 0).End().bytes, zeros},
        {"bytes after the end record are not read", PayloadBytes().Header(24, 0).End().U8(0x77).Relative(1, {1}).bytes, zeros},
    };
    for (const RecordCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = Apply(c.payload, {});
        EXPECT_EQ(out.messages, std::vector<std::u16string>{kSuccess});
        EXPECT_EQ(out.target, c.expected);
    }
}

TEST(Apply, LongestRecordAndManyRecords)
{
    const std::vector<uint8_t> big = PatternBytes(65535, 4);
    PayloadBytes payload;
    payload.Header(200000, 0).Relative(0, big);
    for (int i = 0; i < 5000; ++i) payload.Relative(i == 0 ? 65535 : 13, {static_cast<uint8_t>(i)});
    const Outcome out = Apply(payload.End().bytes, {});
    ASSERT_EQ(out.messages, std::vector<std::u16string>{kSuccess});
    ASSERT_EQ(out.target.size(), 200000u);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), out.target.begin()));
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(out.target[65535 + 13 * i], static_cast<uint8_t>(i)) << i;
}

TEST(Apply, ResizeFailures)
{
    // A negative patched size fails at the resize, before anything is written.
    Outcome out = Apply(PayloadBytes().Header(-1, 0).Relative(0, {1}).End().bytes, kTarget);
    EXPECT_EQ(out.messages, std::vector<std::u16string>{kResizeFailed});
    EXPECT_EQ(out.target, kTarget);

    // A full disk (the in-memory file's limit is 256 MiB).
    out = Apply(PayloadBytes().Header(1ll << 40, 0).Relative(0, {1}).End().bytes, kTarget);
    EXPECT_EQ(out.messages, std::vector<std::u16string>{kResizeFailed});
    EXPECT_EQ(out.target, kTarget);

    // The same with the journal: the same message, no journal left.
    for (int64_t size : {int64_t(-1), int64_t(1) << 45}) {
        DiskApplication run(PayloadBytes().Header(size, 0).Relative(0, {1}).End().bytes, kTarget);
        EXPECT_FALSE(run.Run());
        EXPECT_EQ(run.owner.messages, std::vector<std::u16string>{kResizeFailed});
        EXPECT_EQ(run.Target(), kTarget);
        EXPECT_FALSE(run.JournalLeft());
    }
}

TEST(Apply, WriteFailureIsReported)
{
    // The record lies past what the "disk" can hold: the resize succeeds, the write does not.
    const Outcome out = Apply(PayloadBytes().Header(8, 0).Absolute(1ll << 40, {1}).End().bytes, kTarget);
    EXPECT_EQ(out.messages, std::vector<std::u16string>{kWriteFailed});
}

// A record far beyond the largest file the file system allows (2^44 on ext4) fails after the
// resize and the records before it; with the journal the target ends as it was.
TEST(Apply, RecordPastTheLargestFileIsUndone)
{
    DiskApplication run(PayloadBytes().Header(100, 0).Relative(3, {7, 7}).Absolute(1ll << 44, {1}).End().bytes,
                        kTarget);
    run.disk.SetSizeLimit((1ll << 44) - 4096);
    EXPECT_FALSE(run.Run());
    EXPECT_EQ(run.owner.messages, std::vector<std::u16string>{kWriteFailed});
    EXPECT_EQ(run.Target(), kTarget);
    EXPECT_FALSE(run.JournalLeft());
}

TEST(Apply, NegativePayloadOffsetIsSilent)
{
    CVELK_MemoryFile source(kMinimalPayload), target(kTarget);
    RecordingOwner owner;
    CVELK_IPS_IN applier(owner);
    EXPECT_FALSE(applier.ApplyOpened(source, target, -1));
    EXPECT_TRUE(owner.messages.empty());
    TempDir dir;
    EXPECT_FALSE(applier.ApplyPatch(dir.Path("a").c_str(), dir.Path("b").c_str(), -1));
    EXPECT_TRUE(owner.messages.empty());
}

// The disk-file entry: opening, the patch's own file as target, and closing on every path.
class ApplyFromDisk : public ::testing::Test {
protected:
    std::vector<std::u16string> Run(const NativeString& source, const NativeString& target, int64_t offset)
    {
        RecordingOwner owner;
        CVELK_IPS_IN applier(owner);
        applier.ApplyPatch(source.c_str(), target.c_str(), offset);
        // Both files are closed again: an open that shares nothing succeeds.
        for (const NativeString* path : {&source, &target}) {
            CVELK_File probe;
            if (std::filesystem::is_regular_file(std::filesystem::path(*path)))
                EXPECT_TRUE(probe.OpenFile(path->c_str(), kModeReadWriteExisting, kShareNone));
        }
        return owner.messages;
    }
    TempDir dir;
};

TEST_F(ApplyFromDisk, OpenFailuresAndTheSelfTarget)
{
    std::vector<uint8_t> patch = PatternBytes(1000, 1);
    patch.insert(patch.end(), kMinimalPayload.begin(), kMinimalPayload.end());
    const NativeString source = dir.Path("patch.exe"), target = dir.Path("game.iso");
    ASSERT_TRUE(WriteWholeFile(source, patch));
    ASSERT_TRUE(WriteWholeFile(target, kTarget));

    EXPECT_EQ(Run(dir.Path("missing.exe"), target, 1000), std::vector<std::u16string>{kPatchOpenFailed});
    EXPECT_EQ(Run(source, dir.Path("missing.iso"), 1000), std::vector<std::u16string>{kTargetOpenFailed});
    EXPECT_EQ(Run(source, dir.Root(), 1000), std::vector<std::u16string>{kTargetOpenFailed});
    // The patch's own file is already open as the source, sharing only reading.
    EXPECT_EQ(Run(source, source, 1000), std::vector<std::u16string>{kTargetOpenFailed});
    EXPECT_EQ(ReadWholeFile(source), patch);
    // A target another holder has open for writing.
    {
        CVELK_File holder;
        ASSERT_TRUE(holder.OpenFile(target.c_str(), kModeReadWriteExisting, kShareReadWrite));
        RecordingOwner owner;
        CVELK_IPS_IN applier(owner);
        EXPECT_FALSE(applier.ApplyPatch(source.c_str(), target.c_str(), 1000));
        EXPECT_EQ(owner.messages, std::vector<std::u16string>{kTargetOpenFailed});
    }
    EXPECT_EQ(ReadWholeFile(target), kTarget);

    EXPECT_EQ(Run(source, target, 1000), std::vector<std::u16string>{kSuccess});
    EXPECT_EQ(ReadWholeFile(target).size(), 16u);
}

// A journal as an interrupted application leaves it: the power is cut at the first call after
// which the disk holds a complete journal and a target that is no longer the original.
struct Interrupted {
    std::vector<uint8_t> target, journal;
};

// Cuts the power of `run` at the first call after which it leaves that; false when none does.
bool Interrupt(const std::vector<uint8_t>& payload, const std::vector<uint8_t>& image,
               std::unique_ptr<DiskApplication>* interrupted)
{
    for (uint64_t n = 1; n < 1000; ++n) {
        std::unique_ptr<DiskApplication> run(new DiskApplication(payload, image));
        run->disk.PlanPowerFailure(n, LossPattern::kKeepAll, 0);
        run->Run();
        run->disk.Restart();
        if (run->JournalLeft() && run->Target() != image) {
            *interrupted = std::move(run);
            return true;
        }
    }
    ADD_FAILURE() << "no call leaves an interrupted application";
    return false;
}

Interrupted InterruptApplication(const std::vector<uint8_t>& payload, const std::vector<uint8_t>& image)
{
    std::unique_ptr<DiskApplication> run;
    if (!Interrupt(payload, image, &run)) return {};
    return {run->Target(), run->disk.Bytes(CVELK_UndoJournal::PathFor(run->target.c_str()))};
}

// Records that make `to` of a file, from `from` on, in chunks of the longest record.
std::vector<VelkRecord> RecordsFrom(const std::vector<uint8_t>& to, size_t from)
{
    std::vector<VelkRecord> records;
    for (size_t at = from; at < to.size(); at += 65535) {
        const size_t end = std::min(to.size(), at + 65535);
        records.push_back({at, std::vector<uint8_t>(to.begin() + static_cast<ptrdiff_t>(at), to.begin() + static_cast<ptrdiff_t>(end))});
    }
    return records;
}

// A journal is played only onto the file it was written for, with evidence that no patch can
// switch off: one that inserts 4 KiB near the start (and so writes nearly every byte after it),
// and one from an empty original. Another file put at the name is a file of another identity;
// another file's bytes written into the target itself disagree with the samples. Either way the
// journal is left alone, reported, and the file stays as it is.
TEST(Apply, JournalIsNeverPlayedOntoAnotherFile)
{
    const std::vector<uint8_t> image = PatternBytes(256 << 10, 51);
    std::vector<uint8_t> inserted(image);
    const std::vector<uint8_t> block = PatternBytes(4096, 52);
    inserted.insert(inserted.begin() + 1000, block.begin(), block.end());
    const std::vector<uint8_t> made = PatternBytes(500000, 53);
    struct Case {
        const char* name;
        std::vector<uint8_t> image, payload;
    } cases[] = {
        {"4 KiB inserted near the start", image,
         BuildPayload(static_cast<int64_t>(inserted.size()), 0, RecordsFrom(inserted, 1000))},
        {"from an empty original", {}, BuildPayload(static_cast<int64_t>(made.size()), 0, RecordsFrom(made, 0))},
    };
    for (const Case& c : cases) {
        for (bool sameFile : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (sameFile ? ", bytes written into the target" : ", a file put at its name"));
            std::unique_ptr<DiskApplication> run;
            ASSERT_TRUE(Interrupt(c.payload, c.image, &run));
            const std::vector<uint8_t> other = PatternBytes(sameFile ? 500000 : c.image.size() + 1, 54);
            if (sameFile) {
                const std::unique_ptr<CVELK_xFile> file = run->disk.Open(run->target.c_str(), kModeReadWriteExisting, kShareRead);
                ASSERT_TRUE(file && file->SetSize(0) && file->Write(other.data(), static_cast<uint32_t>(other.size())) == other.size());
            } else {
                run->disk.Put(run->target, other);
            }
            RecordingOwner owner;
            CVELK_IPS_IN applier(owner);
            applier.UseFileSystem(run->disk);
            EXPECT_EQ(applier.RecoverTarget(run->target.c_str()), RecoveryOutcome::kUnusable);
            EXPECT_EQ(owner.messages, std::vector<std::u16string>{kJournalUnusable});
            EXPECT_TRUE(run->Target() == other);
            EXPECT_TRUE(run->JournalLeft());
        }
        // The interrupted target itself is put back.
        std::unique_ptr<DiskApplication> run;
        ASSERT_TRUE(Interrupt(c.payload, c.image, &run));
        EXPECT_EQ(run->applier.RecoverTarget(run->target.c_str()), RecoveryOutcome::kRestored);
        EXPECT_TRUE(run->Target() == c.image);
    }
}

struct JournalCase {
    const char* name;
    // What stands beside the target, and the target itself.
    std::function<void(const NativeString& journal, const NativeString& target)> make;
    RecoveryOutcome outcome;
    bool patches;  // whether an application then goes through
};

// The journal's header rewritten: another state, and the identity of the file at `target` (the
// journals here are made on an in-memory disk, whose files are not the disk's).
std::vector<uint8_t> Restated(std::vector<uint8_t> journal, velk_journal::State state, const NativeString& target)
{
    velk_journal::Header header;
    EXPECT_TRUE(velk_journal::DecodeHeader(journal.data(), static_cast<uint32_t>(journal.size()), &header));
    CVELK_File file;
    VelkFileFacts facts;
    EXPECT_TRUE(file.OpenFile(target.c_str(), kModeReadExisting, kShareReadWrite) && file.Describe(&facts));
    header.state = state;
    header.volume = facts.volume;
    header.index = facts.index;
    velk_journal::EncodeHeader(header, journal.data());
    return journal;
}

// Whatever an application finds beside its target under the journal's name: played back only
// when it is a whole, sealed, trusted journal of that very target; removed when it provably
// undoes nothing (never sealed, or done); kept with a message when it is a journal of the target
// damaged after it was sealed; and otherwise left alone with a message, the target untouched.
TEST_F(ApplyFromDisk, WhatLiesBesideTheTarget)
{
    using velk_journal::State;
    const std::vector<uint8_t> image = PatternBytes(20000, 41), other = PatternBytes(20000, 42);
    const std::vector<uint8_t> payload =
        BuildPayload(30000, 0, {{100, PatternBytes(900, 43)}, {15000, PatternBytes(2000, 44)}, {29000, {1}}});
    const Interrupted interrupted = InterruptApplication(payload, image);
    ASSERT_FALSE(interrupted.journal.empty());
    // The target's own journal in a state, written beside it; `change` spoils it after that.
    auto own = [&](State state, std::function<void(std::vector<uint8_t>&)> change = nullptr) {
        return [&, state, change](const NativeString& journal, const NativeString& target) {
            std::vector<uint8_t> bytes = Restated(interrupted.journal, state, target);
            if (change) change(bytes);
            ASSERT_TRUE(WriteWholeFile(journal, bytes));
        };
    };
    auto put = [](const std::vector<uint8_t>& bytes) {
        return [bytes](const NativeString& journal, const NativeString&) { ASSERT_TRUE(WriteWholeFile(journal, bytes)); };
    };
    std::vector<uint8_t> zerosFirst = PatternBytes(1 << 20, 45);
    std::fill(zerosFirst.begin(), zerosFirst.begin() + (32 << 10), 0);
    std::vector<JournalCase> cases = {
        {"nothing", [](const NativeString&, const NativeString&) {}, RecoveryOutcome::kNothingPending, true},
        {"an empty file", put({}), RecoveryOutcome::kDiscarded, true},
        {"the start of the magic", put({'V', 'E', 'L', 'K', '-', 'U', 'N'}), RecoveryOutcome::kDiscarded, true},
        {"a journal still being written", own(State::kWriting), RecoveryOutcome::kDiscarded, true},
        {"a journal of an application that completed", own(State::kDone), RecoveryOutcome::kDiscarded, true},
        {"someone's notes", put({'m', 'y', ' ', 'n', 'o', 't', 'e', 's', '\n'}), RecoveryOutcome::kUnusable, false},
        {"a megabyte that begins with 32 KiB of zeros", put(zerosFirst), RecoveryOutcome::kUnusable, false},
        {"a folder",
         [](const NativeString& journal, const NativeString&) { ASSERT_TRUE(std::filesystem::create_directory(journal)); },
         RecoveryOutcome::kUnusable, false},
        {"a whole journal of the target",
         [&](const NativeString& journal, const NativeString& target) {
             ASSERT_TRUE(WriteWholeFile(target, interrupted.target));
             own(State::kSealed)(journal, target);
         },
         RecoveryOutcome::kRestored, true},
        {"a whole journal, the target not yet touched", own(State::kSealed), RecoveryOutcome::kRestored, true},
        {"a journal of the target, another file's bytes put in it",
         [&](const NativeString& journal, const NativeString& target) {
             ASSERT_TRUE(WriteWholeFile(target, other));
             own(State::kSealed)(journal, target);
         },
         RecoveryOutcome::kUnusable, false},
        {"a journal of another file", put(interrupted.journal), RecoveryOutcome::kUnusable, false},
        {"a sealed journal cut short", own(State::kSealed, [](std::vector<uint8_t>& b) { b.resize(b.size() - 100); }),
         RecoveryOutcome::kDamaged, false},
        {"a sealed journal with bytes appended",
         own(State::kSealed, [](std::vector<uint8_t>& b) { b.insert(b.end(), 10, 'x'); }), RecoveryOutcome::kDamaged,
         false},
        {"a sealed journal whose trailer was damaged",
         own(State::kSealed, [](std::vector<uint8_t>& b) { b[b.size() - 200] ^= 0x08; }), RecoveryOutcome::kDamaged,
         false},
        {"a sealed journal whose block was damaged",
         own(State::kSealed, [](std::vector<uint8_t>& b) { b[velk_journal::kHeaderBytes + 8 + 20] ^= 0x40; }),
         RecoveryOutcome::kDamaged, false},
        {"a journal whose header was damaged", own(State::kSealed, [](std::vector<uint8_t>& b) { b[20] ^= 0x40; }),
         RecoveryOutcome::kUnusable, false},
#ifndef _WIN32
        {"a link to a whole journal",
         [&](const NativeString& journal, const NativeString& target) {
             ASSERT_TRUE(WriteWholeFile(target, interrupted.target));
             own(State::kSealed)(journal + ".real", target);
             std::filesystem::create_symlink(journal + ".real", journal);
         },
         RecoveryOutcome::kUnusable, false},
        {"a whole journal that others may write",
         [&](const NativeString& journal, const NativeString& target) {
             ASSERT_TRUE(WriteWholeFile(target, interrupted.target));
             own(State::kSealed)(journal, target);
             ASSERT_EQ(chmod(journal.c_str(), 0666), 0);
         },
         RecoveryOutcome::kUnusable, false},
        {"a whole journal that others may write, beside a target they may write too",
         [&](const NativeString& journal, const NativeString& target) {
             ASSERT_TRUE(WriteWholeFile(target, interrupted.target));
             own(State::kSealed)(journal, target);
             ASSERT_EQ(chmod(journal.c_str(), 0666), 0);
             ASSERT_EQ(chmod(target.c_str(), 0666), 0);
         },
         RecoveryOutcome::kRestored, true},
#endif
    };
#ifndef _WIN32
    // Planted by another user (in a folder both may write, such as /tmp): only the superuser can
    // give a file away to make one here.
    if (geteuid() == 0) {
        cases.push_back({"a whole journal of another user's",
                         [&](const NativeString& journal, const NativeString& target) {
                             ASSERT_TRUE(WriteWholeFile(target, interrupted.target));
                             own(State::kSealed)(journal, target);
                             ASSERT_EQ(chown(journal.c_str(), 65534, 65534), 0);
                         },
                         RecoveryOutcome::kUnusable, false});
    }
#endif
    const NativeString source = dir.Path("patch.bin"), target = dir.Path("image.iso");
    const NativeString journal = CVELK_UndoJournal::PathFor(target.c_str());
    ASSERT_TRUE(WriteWholeFile(source, payload));
    for (const JournalCase& c : cases) {
        for (bool applying : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (applying ? ", then applying" : ", recovering"));
            ASSERT_TRUE(WriteWholeFile(target, image));
#ifndef _WIN32
            ASSERT_EQ(chmod(target.c_str(), 0644), 0);
#endif
            c.make(journal, target);
            const std::vector<uint8_t> before = ReadWholeFile(target);
            RecordingOwner owner;
            CVELK_IPS_IN applier(owner);
            if (applying) {
                EXPECT_EQ(applier.ApplyPatch(source.c_str(), target.c_str(), 0), c.patches);
            } else {
                EXPECT_EQ(applier.RecoverTarget(target.c_str()), c.outcome);
            }
            const bool usable = c.outcome != RecoveryOutcome::kUnusable && c.outcome != RecoveryOutcome::kDamaged;
            if (usable) {
                EXPECT_FALSE(FileExists(journal));
                EXPECT_EQ(owner.notices.size(), applying && c.outcome == RecoveryOutcome::kRestored ? 1u : 0u);
                if (applying) EXPECT_EQ(owner.messages, std::vector<std::u16string>{kSuccess});
                else EXPECT_TRUE(owner.messages.empty());
                if (!applying) EXPECT_TRUE(ReadWholeFile(target) == image);
            } else {
                EXPECT_TRUE(FileExists(journal));
                const char16_t* message = c.outcome == RecoveryOutcome::kDamaged ? kJournalDamaged : kJournalUnusable;
                EXPECT_EQ(owner.messages, std::vector<std::u16string>{message});
                EXPECT_TRUE(ReadWholeFile(target) == before);
            }
            std::error_code ignored;
            std::filesystem::remove(journal, ignored);
            std::filesystem::remove(journal + VELK_NATIVE(".real"), ignored);
        }
    }
}

// Saving the tail a shrink cuts off may take most of the journal pass, and playing a large
// journal back most of a recovery: both show their progress on the way, not only at their ends.
TEST(Apply, ProgressThroughTheTailAndThroughRecovery)
{
    const std::vector<uint8_t> image = PatternBytes(4 << 20, 34);
    const std::vector<uint8_t> payload = PayloadBytes().Header(4096, 0).Relative(10, {1, 2, 3}).End().bytes;
    DiskApplication run(payload, image);
    ASSERT_TRUE(run.Run());
    // The journal pass is the first half of the records stage.
    std::vector<int64_t> saving;
    for (const ProgressReport& p : run.owner.progress)
        if (p.stage == VelkProgressStage::kRecords && 2 * p.done < p.total) saving.push_back(p.done);
    EXPECT_GE(saving.size(), 4u);
    EXPECT_TRUE(std::is_sorted(saving.begin(), saving.end()));

    std::unique_ptr<DiskApplication> interrupted;
    ASSERT_TRUE(Interrupt(payload, image, &interrupted));
    RecordingOwner owner;
    CVELK_IPS_IN recovery(owner);
    recovery.UseFileSystem(interrupted->disk);
    EXPECT_EQ(recovery.RecoverTarget(interrupted->target.c_str()), RecoveryOutcome::kRestored);
    ASSERT_GE(owner.progress.size(), 8u);
    for (size_t i = 1; i < owner.progress.size(); ++i) EXPECT_GE(owner.progress[i].done, owner.progress[i - 1].done);
    EXPECT_GT(owner.progress.back().done, owner.progress.back().total / 2);
}

// ---- Taking an application back -------------------------------------------------------------

// Applications to one target on an in-memory disk, one after another, each answering its
// questions with `ok`.
struct Keeper {
    explicit Keeper(const std::vector<uint8_t>& image) { disk.Put(target, image); }
    bool Run(const std::vector<uint8_t>& payload, bool ok, VelkKeptUndo use = VelkKeptUndo::kAsk, bool keep = false)
    {
        disk.Put(source, payload);
        owner = RecordingOwner(ok);
        CVELK_IPS_IN applier(owner);
        applier.UseFileSystem(disk);
        applier.SetKeepUndo(keep);
        applier.SetKeptUndo(use);
        return use == VelkKeptUndo::kRestore ? applier.UndoPatch(source.c_str(), target.c_str(), 0)
                                             : applier.ApplyPatch(source.c_str(), target.c_str(), 0);
    }
    bool Undo(const std::vector<uint8_t>& payload) { return Run(payload, false, VelkKeptUndo::kRestore); }
    std::vector<uint8_t> Target() const { return disk.Bytes(target); }
    // Changes a byte of the target in place: the same file, other bytes.
    void Flip(int64_t at)
    {
        std::vector<uint8_t> bytes = Target();
        const uint8_t flipped = bytes[static_cast<size_t>(at)] ^ 1;
        const std::unique_ptr<CVELK_xFile> file = disk.Open(target.c_str(), kModeReadWriteExisting, kShareRead);
        ASSERT_TRUE(file && file->Seek(at) && file->Write(&flipped, 1) == 1);
    }
    // The journal beside the target: none, or the state its header is in.
    int Journal() const
    {
        const NativeString journal = CVELK_UndoJournal::PathFor(target.c_str());
        if (!disk.Has(journal)) return 0;
        const std::vector<uint8_t> bytes = disk.Bytes(journal);
        velk_journal::Header header;
        EXPECT_TRUE(velk_journal::DecodeHeader(bytes.data(), static_cast<uint32_t>(bytes.size()), &header));
        return static_cast<int>(header.state);
    }

    const NativeString source = VELK_NATIVE("patch.bin"), target = VELK_NATIVE("image.iso");
    CrashDisk disk;
    RecordingOwner owner;
};

constexpr int kNoJournal = 0, kKeptJournal = static_cast<int>(velk_journal::State::kKept);

// A patch marked for keeping (ResultPayload's records, with the flags given), growing kOriginal
// to 6000 bytes or shrinking it to 3000.
std::vector<uint8_t> KeepingPayload(bool shrink, uint32_t flags = velk_extension::kFlagKeepUndo)
{
    const int64_t size = shrink ? 3000 : 6000;
    std::vector<uint8_t> result = kOriginal;
    result.resize(static_cast<size_t>(size), 0);
    result[100] = 0xA1;
    result[101] = 0xA2;
    result[2900] = 0xB1;
    return PayloadBytes()
        .Header(size, Crc(kOriginal), 0, 72)
        .Block(Crc(result), kOriginal.size(), 32, false, "VELKEXT1", flags)
        .Relative(100, {0xA1, 0xA2})
        .Relative(2800, {0xB1})
        .End()
        .bytes;
}

// A patch marked for keeping leaves its journal beside the target, kept; applied again, it asks
// whether to restore the original: OK restores it and removes the journal, Cancel leaves both.
// Round trips: apply, take back, apply again; the same through undo; and a shrink's tail.
TEST(Apply, KeptUndoRoundTrips)
{
    for (bool shrink : {false, true}) {
        SCOPED_TRACE(shrink ? "a shrink" : "a growth");
        const std::vector<uint8_t> payload = KeepingPayload(shrink);
        Keeper k(kOriginal);
        ASSERT_TRUE(k.Run(payload, false));
        EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kSuccess});
        const std::vector<uint8_t> result = k.Target();
        EXPECT_EQ(result.size(), shrink ? 3000u : 6000u);
        EXPECT_EQ(k.Journal(), kKeptJournal);

        EXPECT_FALSE(k.Run(payload, false));  // Cancel
        EXPECT_EQ(k.owner.questions, std::vector<std::u16string>{kRestoreQuestion});
        EXPECT_TRUE(k.owner.messages.empty());
        EXPECT_TRUE(k.Target() == result);
        EXPECT_EQ(k.Journal(), kKeptJournal);

        ASSERT_TRUE(k.Run(payload, true));  // OK
        EXPECT_EQ(k.owner.questions, std::vector<std::u16string>{kRestoreQuestion});
        EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kRestored});
        EXPECT_TRUE(k.Target() == kOriginal);
        EXPECT_EQ(k.Journal(), kNoJournal);

        ASSERT_TRUE(k.Run(payload, false));
        EXPECT_TRUE(k.owner.questions.empty());
        EXPECT_TRUE(k.Target() == result);
        ASSERT_TRUE(k.Undo(payload));
        EXPECT_TRUE(k.owner.questions.empty());
        EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kRestored});
        EXPECT_TRUE(k.Target() == kOriginal);
        EXPECT_EQ(k.Journal(), kNoJournal);

        // Nothing left to take back.
        EXPECT_FALSE(k.Undo(payload));
        EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kNoKeptUndo});
        EXPECT_TRUE(k.Target() == kOriginal);
    }
}

// velkpatch apply --keep-undo keeps the journal of any patch, here one without a block, applied
// with OK at the CRC question to a file that is not its original: undo gives that file back.
TEST(Apply, KeepUndoForAnyPatch)
{
    const std::vector<uint8_t> other = PatternBytes(5000, 35);
    const std::vector<uint8_t> payload = BuildPayload(4000, Crc(kOriginal), {{10, {1, 2, 3}}, {3990, PatternBytes(10, 36)}});
    Keeper k(other);
    ASSERT_TRUE(k.Run(payload, true, VelkKeptUndo::kReport, true));
    EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kSuccess});
    EXPECT_EQ(k.Journal(), kKeptJournal);
    ASSERT_TRUE(k.Undo(payload));
    EXPECT_TRUE(k.Target() == other);
    EXPECT_EQ(k.Journal(), kNoJournal);
}

// A kept journal is never played onto a target that has changed since, and it stands in the way
// of every other patch; either way the user is told, and nothing changes. A damaged one is
// refused as unusable.
TEST(Apply, KeptUndoRefusedWhereItDoesNotFit)
{
    const std::vector<uint8_t> payload = KeepingPayload(false);
    Keeper k(kOriginal);
    ASSERT_TRUE(k.Run(payload, false));
    k.Flip(4000);
    const std::vector<uint8_t> changed = k.Target();
    for (VelkKeptUndo use : {VelkKeptUndo::kAsk, VelkKeptUndo::kRestore}) {
        EXPECT_FALSE(k.Run(payload, true, use));
        EXPECT_TRUE(k.owner.questions.empty());
        EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kKeptUndoStale});
        EXPECT_TRUE(k.Target() == changed);
        EXPECT_EQ(k.Journal(), kKeptJournal);
    }
    k.Flip(4000);
    const std::vector<uint8_t> result = k.Target();
    // Another patch: one that makes something else of the same original.
    const std::vector<uint8_t> another = BuildPayload(6000, Crc(kOriginal), {{50, {9}}});
    EXPECT_FALSE(k.Run(another, true));
    EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kKeptUndoOther});
    EXPECT_TRUE(k.Target() == result);
    EXPECT_EQ(k.Journal(), kKeptJournal);

    const NativeString journal = CVELK_UndoJournal::PathFor(k.target.c_str());
    std::vector<uint8_t> damaged = k.disk.Bytes(journal);
    damaged[velk_journal::kHeaderBytes + 30] ^= 0x10;
    k.disk.Put(journal, damaged);
    EXPECT_FALSE(k.Undo(payload));
    EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kJournalUnusable});
    EXPECT_TRUE(k.Target() == result);
    EXPECT_TRUE(k.disk.Bytes(journal) == damaged);
}

// The keep flag is read and kept to; bits a reader does not know are ignored: the patch applies
// as any other and leaves no journal. Without a journal at all nothing is kept either.
TEST(Apply, UnknownFlagsAreIgnored)
{
    Keeper k(kOriginal);
    ASSERT_TRUE(k.Run(KeepingPayload(false, ~velk_extension::kFlagKeepUndo), false));
    EXPECT_EQ(k.owner.messages, std::vector<std::u16string>{kSuccess});
    EXPECT_EQ(k.Journal(), kNoJournal);
    const Outcome out = Apply(KeepingPayload(false, 0xFFFFFFFFu), kOriginal);
    EXPECT_EQ(out.messages, std::vector<std::u16string>{kSuccess});
    EXPECT_TRUE(out.target == k.Target());
}

// A file system on which another program makes the journal's name just after recovery found it
// free: that program does not keep to the locks, and the application stops before any change.
class RacedFileSystem : public CVELK_FaultFileSystem {
public:
    RacedFileSystem(CrashDisk& disk, CVELK_FaultSwitch& faults) : CVELK_FaultFileSystem(disk, faults), m_disk(disk) {}
    std::unique_ptr<CVELK_xFile> CreateNew(const NativeChar* path, uint32_t permissions) override
    {
        m_disk.Put(path, {'o', 't', 'h', 'e', 'r'});
        return CVELK_FaultFileSystem::CreateNew(path, permissions);
    }

private:
    CrashDisk& m_disk;
};

TEST(Apply, JournalNameTakenAfterRecoveryStops)
{
    DiskApplication run(kMinimalPayload, kTarget);
    CVELK_FaultSwitch counts;
    RacedFileSystem raced(run.disk, counts);
    run.applier.UseFileSystem(raced);
    EXPECT_FALSE(run.Run());
    EXPECT_EQ(run.owner.messages, std::vector<std::u16string>{kTargetBusy});
    EXPECT_TRUE(run.owner.notices.empty());
    EXPECT_EQ(run.Target(), kTarget);
    EXPECT_EQ(run.disk.Bytes(CVELK_UndoJournal::PathFor(run.target.c_str())), (std::vector<uint8_t>{'o', 't', 'h', 'e', 'r'}));
}

// Asks to stop as soon as the records begin to be written.
class StopOnceWritingOwner : public RecordingOwner {
public:
    void ReportProgress(VelkProgressStage stage, int64_t done, int64_t total) override
    {
        RecordingOwner::ReportProgress(stage, done, total);
        writing = writing || stage == VelkProgressStage::kRecords;
    }
    bool StopRequested() override { return writing; }
    bool writing = false;
};

// Where no journal can be made (here the file system refuses every new file), the application
// goes on as it always did, and the owner hears of it. Nothing could undo it once the target
// changes: a stop asked for from then on, while the records are written or the result is read
// back, is not honoured, and the message says what became of the file.
TEST(Apply, WithoutAJournalWhereNoneCanBeMade)
{
    const std::vector<uint8_t> image = PatternBytes(5000, 55);
    const std::vector<VelkRecord> records = {{10, PatternBytes(300, 56)}, {4000, PatternBytes(3000, 57)}};
    std::vector<uint8_t> result = image;
    result.resize(8000);
    for (const VelkRecord& r : records) std::copy(r.data.begin(), r.data.end(), result.begin() + static_cast<ptrdiff_t>(r.position));
    const VelkResultIdentity identity{Crc(result), image.size()};
    DiskApplication run(BuildPayload(8000, Crc(image), records, u"", &identity), image);
    CVELK_FaultSwitch refuse(FaultPlan{FaultOp::kOpen, 2, FaultKind::kFailFromThen});  // the lookup, then creations
    CVELK_FaultFileSystem files(run.disk, refuse);
    StopOnceWritingOwner owner;
    CVELK_IPS_IN applier(owner);
    applier.UseFileSystem(files);
    EXPECT_TRUE(applier.ApplyPatch(run.source.c_str(), run.target.c_str(), 0));
    EXPECT_FALSE(applier.Stopped());
    EXPECT_TRUE(owner.writing);
    EXPECT_EQ(owner.notices, std::vector<VelkNotice>{VelkNotice::kNoUndoJournal});
    EXPECT_EQ(owner.messages, std::vector<std::u16string>{kSuccess});
    EXPECT_TRUE(run.Target() == result);
}

#ifndef _WIN32
// The journal holds the target's bytes: it lets read them no one the target does not let, and
// lets no one else write it. It is looked at while the records are saved into it.
TEST_F(ApplyFromDisk, JournalTakesTheTargetsPermissions)
{
    class JournalWatcher : public RecordingOwner {
    public:
        explicit JournalWatcher(const NativeString& journal) : m_journal(journal) {}
        void ReportProgress(VelkProgressStage stage, int64_t done, int64_t total) override
        {
            struct stat info;
            if (stage == VelkProgressStage::kRecords && seen < 0 && stat(m_journal.c_str(), &info) == 0)
                seen = static_cast<int>(info.st_mode & 07777);
        }
        int seen = -1;

    private:
        NativeString m_journal;
    };
    const mode_t mask = umask(0);
    umask(mask);
    const NativeString source = dir.Path("patch.bin"), target = dir.Path("game.iso");
    ASSERT_TRUE(WriteWholeFile(source, BuildPayload(100, 0, {{5, {1, 2, 3}}})));
    for (mode_t mode : {0600, 0640, 0666, 0755}) {
        SCOPED_TRACE(mode);
        ASSERT_TRUE(WriteWholeFile(target, kTarget));
        ASSERT_EQ(chmod(target.c_str(), mode), 0);
        JournalWatcher owner(CVELK_UndoJournal::PathFor(target.c_str()));
        CVELK_IPS_IN applier(owner);
        EXPECT_TRUE(applier.ApplyPatch(source.c_str(), target.c_str(), 0));
        EXPECT_EQ(owner.seen, static_cast<int>(((mode & 0644) | 0600) & ~mask));
    }
}
#endif

TEST_F(ApplyFromDisk, SparseTargetBeyondFourGiB)
{
    const int64_t size = (6ll << 30) + 5;
    const uint64_t far = (5ull << 30) + 123;
    const NativeString source = dir.Path("patch.bin"), target = dir.Path("disc.img");
    ASSERT_TRUE(MakeSparseFile(target, size - 10));
    ASSERT_TRUE(WriteWholeFile(
        source, PayloadBytes().Header(size, 0).Absolute(far, {0xDE, 0xAD}).Relative(0x10000000u, {0xBE}).End().bytes));
    EXPECT_EQ(Run(source, target, 0), std::vector<std::u16string>{kSuccess});
    CVELK_File check;
    ASSERT_TRUE(check.OpenFile(target.c_str(), kModeReadExisting, kShareRead));
    EXPECT_EQ(check.GetSize(), size);
    uint8_t bytes[2] = {};
    ASSERT_TRUE(check.Seek(static_cast<int64_t>(far)));
    EXPECT_EQ(check.Read(bytes, 2), 2u);
    EXPECT_EQ(bytes[0], 0xDE);
    EXPECT_EQ(bytes[1], 0xAD);
    ASSERT_TRUE(check.Seek(static_cast<int64_t>(far + 0x10000000u)));
    EXPECT_EQ(check.Read(bytes, 1), 1u);
    EXPECT_EQ(bytes[0], 0xBE);
}

}  // namespace
