#include <gtest/gtest.h>

#include "apply/application.h"
#include "apply/messages.h"
#include "file/memory_file.h"
#include "format/summary.h"
#include "maker/payload_writer.h"
#include "support/fault_file.h"
#include "support/payload_builder.h"
#include "support/test_support.h"

namespace {

TEST(PayloadWriter, ChoosesTheRecordTypeByDistance)
{
    const std::vector<uint8_t> a = {0xA1}, b = {0xB2, 0xB3};
    const std::vector<uint8_t> written =
        BuildPayload(9, 0x01020304u,
                     {{10, a}, {10 + 0xFFFFFFFFull, b}, {10 + 0x100000000ull + 0xFFFFFFFFull + 1, a}, {3, b}});
    const std::vector<uint8_t> expected = PayloadBytes()
                                              .Header(9, 0x01020304u)
                                              .Relative(10, a)
                                              .Relative(0xFFFFFFFFu, b)          // the largest delta
                                              .Absolute(0x200000009ull + 1, a)   // one past it
                                              .Absolute(3, b)                    // backwards
                                              .End()
                                              .bytes;
    EXPECT_EQ(written, expected);
}

TEST(PayloadWriter, DescriptionFollowsTheEndRecord)
{
    const std::vector<uint8_t> written = BuildPayload(1, 0, {{0, {7}}}, u"说明\r\n");
    const std::vector<uint8_t> expected =
        PayloadBytes().Header(1, 0, 40 + 8 + 1).Relative(0, {7}).End().Text(u"说明\r\n").U16(0).bytes;
    EXPECT_EQ(written, expected);

    CVELK_MemoryFile file(written);
    CQM_DravInfo info;
    ASSERT_TRUE(info.ReadInfoFrom(file, 0));
    EXPECT_EQ(std::u16string(info.Description()), u"说明\r\n");
}

// With the extension block, the records start at 72 and the block is filled in at the end, with
// the target CRC that was known only then.
TEST(PayloadWriter, ExtensionBlockBehindTheHeader)
{
    CVELK_MemoryFile file(std::vector<uint8_t>{});
    CVELK_PayloadWriter writer(file);
    ASSERT_TRUE(writer.Begin(9, 0));
    ASSERT_TRUE(writer.ReserveExtensionBlock());
    ASSERT_TRUE(writer.AddRecord(3, reinterpret_cast<const uint8_t*>("x"), 1));
    writer.SetTargetCrc(0xCAFEF00Du);
    writer.SetResultIdentity({0x01020304u, 0x123456789Aull});
    ASSERT_TRUE(writer.Finish(u"d"));
    const std::vector<uint8_t> expected = PayloadBytes()
                                              .Header(9, 0xCAFEF00Du, 72 + 8 + 1, 72)
                                              .Block(0x01020304u, 0x123456789Aull)
                                              .Relative(3, {'x'})
                                              .End()
                                              .Text(u"d")
                                              .U16(0)
                                              .bytes;
    EXPECT_EQ(file.Bytes(), expected);

    // The flags go where they belong, under the block's own CRC.
    CVELK_MemoryFile flagged(std::vector<uint8_t>{});
    CVELK_PayloadWriter flagWriter(flagged);
    ASSERT_TRUE(flagWriter.Begin(9, 0xCAFEF00Du) && flagWriter.ReserveExtensionBlock());
    flagWriter.SetResultIdentity({0x01020304u, 0x123456789Aull, velk_extension::kFlagKeepUndo});
    ASSERT_TRUE(flagWriter.Finish(u""));
    EXPECT_EQ(flagged.Bytes(), PayloadBytes()
                                   .Header(9, 0xCAFEF00Du, 0, 72)
                                   .Block(0x01020304u, 0x123456789Aull, 32, false, "VELKEXT1", 1)
                                   .End()
                                   .bytes);

    // Too late once a record is written: the block must come right behind the header.
    CVELK_MemoryFile late(std::vector<uint8_t>{});
    CVELK_PayloadWriter lateWriter(late);
    ASSERT_TRUE(lateWriter.Begin(9, 0));
    ASSERT_TRUE(lateWriter.AddRecord(3, reinterpret_cast<const uint8_t*>("x"), 1));
    EXPECT_FALSE(lateWriter.ReserveExtensionBlock());
}

// The example with an extension block in docs/format.md, as literal bytes.
TEST(PayloadWriter, DocumentedExampleWithABlock)
{
    const std::vector<uint8_t> documented = {
        'V', 'E', 'L', 'K', '-', 'P', 'A', 'T', 'C', 'H', '3', '.', '0', 0, 0, 0,  // magic
        16, 0, 0, 0, 0, 0, 0, 0,                                                     // patched size
        0xDD, 0xCC, 0xBB, 0xAA,                                                      // original's CRC-32
        72, 0, 0, 0,                                                                 // data offset
        0, 0, 0, 0, 0, 0, 0, 0,                                                      // description offset
        'V', 'E', 'L', 'K', 'E', 'X', 'T', '1',                                      // tag
        32, 0, 0, 0,                                                                 // block length
        0x44, 0x33, 0x22, 0x11,                                                      // result's CRC-32
        16, 0, 0, 0, 0, 0, 0, 0,                                                     // original's size
        0, 0, 0, 0,                                                                  // flags
        0xC9, 0xCA, 0xD4, 0x85,                                                      // the block's own CRC-32
        0x01, 0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0xAA, 0xBB,                        // record
        0xFF,                                                                        // end
    };
    const VelkResultIdentity identity{0x11223344u, 16};
    EXPECT_EQ(BuildPayload(16, 0xAABBCCDDu, {{5, {0xAA, 0xBB}}}, u"", &identity), documented);
}

TEST(PayloadWriter, WritesAfterWhateverPrecedesIt)
{
    // A payload appended to a stub: offsets inside it are relative to its own start.
    CVELK_MemoryFile file(PatternBytes(1234, 8));
    ASSERT_TRUE(file.Seek(1234));
    CVELK_PayloadWriter writer(file);
    ASSERT_TRUE(writer.Begin(5, 0));
    ASSERT_TRUE(writer.AddRecord(4, reinterpret_cast<const uint8_t*>("z"), 1));
    ASSERT_TRUE(writer.Finish(u"d"));
    EXPECT_EQ(writer.Size(), file.Bytes().size() - 1234);
    CQM_DravInfo info;
    ASSERT_TRUE(info.ReadInfoFrom(file, 1234));
    EXPECT_EQ(std::u16string(info.Description()), u"d");
    EXPECT_EQ(info.PatchedSize(), 5);
}

// A description longer than the writer's buffer goes out whole, behind what was held; a write
// that moves only part of its bytes is carried on, whichever write it is.
TEST(PayloadWriter, GoesOnAfterAShortWrite)
{
    const std::u16string description(700000, u'字');
    const std::vector<uint8_t> expected =
        PayloadBytes().Header(1, 0, 40 + 8 + 1).Relative(0, {7}).End().Text(description).U16(0).bytes;
    CVELK_FaultSwitch counts;
    {
        CVELK_MemoryFile out{std::vector<uint8_t>()};
        CVELK_FaultFile file(out, counts);
        CVELK_PayloadWriter writer(file);
        ASSERT_TRUE(writer.Begin(1, 0) && writer.AddRecord(0, reinterpret_cast<const uint8_t*>("\x07"), 1));
        ASSERT_TRUE(writer.Finish(description));
        EXPECT_TRUE(out.Bytes() == expected);
    }
    for (uint64_t n = 1; n <= counts.Calls(FaultOp::kWrite); ++n) {
        SCOPED_TRACE("write " + std::to_string(n) + " cut short");
        CVELK_MemoryFile out{std::vector<uint8_t>()};
        CVELK_FaultSwitch faults(FaultPlan{FaultOp::kWrite, n, FaultKind::kShortOnce});
        CVELK_FaultFile file(out, faults);
        CVELK_PayloadWriter writer(file);
        ASSERT_TRUE(writer.Begin(1, 0) && writer.AddRecord(0, reinterpret_cast<const uint8_t*>("\x07"), 1));
        EXPECT_TRUE(writer.Finish(description));
        EXPECT_TRUE(out.Bytes() == expected);
    }
}

TEST(PayloadWriter, RefusesRecordsOfNoOrTooMuchData)
{
    CVELK_MemoryFile file(std::vector<uint8_t>{});
    CVELK_PayloadWriter writer(file);
    ASSERT_TRUE(writer.Begin(5, 0));
    std::vector<uint8_t> big(65536);
    EXPECT_FALSE(writer.AddRecord(0, big.data(), 65536));
    EXPECT_FALSE(writer.Finish(u""));  // a failed writer stays failed
}

TEST(PayloadWriter, ManyRecordsRoundTripThroughTheApplier)
{
    std::vector<VelkRecord> records;
    std::vector<uint8_t> expected(3u << 20, 0);
    uint64_t position = 0;
    for (uint32_t i = 0; i < 60000; ++i) {
        position = (position + 37 + i % 11) % expected.size();
        std::vector<uint8_t> data = PatternBytes(1 + i % 9, i);
        if (position + data.size() > expected.size()) continue;
        std::copy(data.begin(), data.end(), expected.begin() + static_cast<long>(position));
        records.push_back({position, data});
    }
    CVELK_MemoryFile source(BuildPayload(static_cast<int64_t>(expected.size()), 0, records));
    CVELK_MemoryFile target(std::vector<uint8_t>{});
    RecordingOwner owner;
    CVELK_IPS_IN applier(owner);
    ASSERT_TRUE(applier.ApplyOpened(source, target, 0));
    EXPECT_EQ(owner.messages, std::vector<std::u16string>{velk_messages::kSuccess});
    EXPECT_TRUE(target.Bytes() == expected);
}

}  // namespace
