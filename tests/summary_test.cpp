#include <gtest/gtest.h>

#include "file/memory_file.h"
#include "format/summary.h"
#include "support/payload_builder.h"
#include "support/test_support.h"

namespace {

std::vector<uint8_t> WithPrefix(size_t prefix, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> file = PatternBytes(prefix, 3);
    file.insert(file.end(), payload.begin(), payload.end());
    return file;
}

struct ReadCase {
    const char* name;
    std::vector<uint8_t> payload;
    bool ok;
};

TEST(DravInfo, AcceptsAndRefusesHeaders)
{
    const ReadCase cases[] = {
        {"current", PayloadBytes().Header(16, 0).End().bytes, true},
        {"magic with trailing text", PayloadBytes().Header(16, 0, 0, 40, "VELK-PATCH3.0xyz").End().bytes, true},
        {"older 2.0", PayloadBytes().Header(16, 0, 0, 40, "VELK-PATCH2.0").End().bytes, false},
        {"older 1.5", PayloadBytes().Header(16, 0, 0, 40, "VELK-PATCH1.5").End().bytes, false},
        {"unknown 3.1", PayloadBytes().Header(16, 0, 0, 40, "VELK-PATCH3.1").End().bytes, false},
        {"no minor", PayloadBytes().Header(16, 0, 0, 40, "VELK-PATCH3").End().bytes, false},
        {"data offset 39", PayloadBytes().Header(16, 0, 0, 39).End().bytes, false},
        {"data offset 40", PayloadBytes().Header(16, 0, 0, 40).End().bytes, true},
        // Checked against the whole file here: beyond the payload but inside the file passes.
        {"data offset beyond the payload", PayloadBytes().Header(16, 0, 0, 120).End().bytes, true},
        {"data offset at the file's end", PayloadBytes().Header(16, 0, 0, 41 + 100).End().bytes, false},
        {"cut in the patched size", PayloadBytes().Magic("VELK-PATCH3.0").bytes, false},
        {"cut before the description offset", PayloadBytes().Magic("VELK-PATCH3.0").U64(1).U32(0).U32(40).bytes, false},
        {"empty", {}, false},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        CVELK_MemoryFile file(WithPrefix(100, c.payload));
        CQM_DravInfo info;
        EXPECT_EQ(info.ReadInfoFrom(file, 100), c.ok);
        if (!c.ok) {
            EXPECT_EQ(info.PatchedSize(), 0);
            EXPECT_EQ(info.TargetCrc(), 0u);
            EXPECT_EQ(std::u16string(info.VersionText()), u"");
            EXPECT_EQ(std::u16string(info.Description()), u"");
        }
    }
}

TEST(DravInfo, NegativeOffsetAndMissingFile)
{
    TempDir dir;
    const NativeString path = dir.Path("patch.bin");
    ASSERT_TRUE(WriteWholeFile(path, PayloadBytes().Header(16, 0).End().bytes));
    CQM_DravInfo info;
    EXPECT_TRUE(info.ReadInfo(path.c_str(), 0));
    EXPECT_FALSE(info.ReadInfo(path.c_str(), -1));
    EXPECT_EQ(info.PatchedSize(), 0);
    EXPECT_FALSE(info.ReadInfo(dir.Path("missing").c_str(), 0));
}

TEST(DravInfo, DescriptionAndSummary)
{
    const std::u16string description = u"汉化补丁 v1.0\r\n请先备份。\r\n";
    const std::vector<uint8_t> payload =
        PayloadBytes().Header(123456789012ll, 0x0000ABCD, 42).End().U8(0).Text(description).U16(0).bytes;
    CVELK_MemoryFile file(WithPrefix(7, payload));
    CQM_DravInfo info;
    ASSERT_TRUE(info.ReadInfoFrom(file, 7));
    EXPECT_EQ(std::u16string(info.Description()), description);
    EXPECT_EQ(std::u16string(info.VersionText()), u"VELK-PATCH3.0");
    EXPECT_EQ(info.FormatSummary(),
              u"补丁版本: VELK-PATCH3.0\r\n目标文件的CRC32验证: 0000ABCD\r\n打补丁后的文件大小: 123456789012");
}

TEST(DravInfo, SummaryWithoutCrcAndWithNegativeSize)
{
    CVELK_MemoryFile file(PayloadBytes().Header(-5, 0).End().bytes);
    CQM_DravInfo info;
    ASSERT_TRUE(info.ReadInfoFrom(file, 0));
    EXPECT_EQ(info.FormatSummary(), u"补丁版本: VELK-PATCH3.0\r\n目标文件的CRC32验证: 无\r\n打补丁后的文件大小: -5");
    EXPECT_EQ(std::u16string(info.Description()), u"");  // offset 0: none
}

TEST(DravInfo, SummaryNumbersAtTheirLimits)
{
    struct Case {
        int64_t size;
        uint32_t crc;
        const char16_t* crcText;
        const char16_t* sizeText;
    } const cases[] = {
        {0, 0xFFFFFFFFu, u"FFFFFFFF", u"0"},
        {INT64_MAX, 0x00000001u, u"00000001", u"9223372036854775807"},
        {INT64_MIN, 0x80000000u, u"80000000", u"-9223372036854775808"},
    };
    for (const Case& c : cases) {
        CVELK_MemoryFile file(PayloadBytes().Header(c.size, c.crc).End().bytes);
        CQM_DravInfo info;
        ASSERT_TRUE(info.ReadInfoFrom(file, 0));
        EXPECT_EQ(info.FormatSummary(), std::u16string(u"补丁版本: VELK-PATCH3.0\r\n目标文件的CRC32验证: ") +
                                            c.crcText + u"\r\n打补丁后的文件大小: " + c.sizeText);
    }
}

TEST(DravInfo, DescriptionLimits)
{
    // Exactly 32768 units without NUL: shown in full and ending there.
    std::u16string full(32768, u'字');
    CVELK_MemoryFile file(PayloadBytes().Header(1, 0, 41).End().Text(full).Text(u"tail").bytes);
    CQM_DravInfo info;
    ASSERT_TRUE(info.ReadInfoFrom(file, 0));
    EXPECT_EQ(std::u16string(info.Description()), full);

    // An odd number of bytes at the end: the half unit is dropped.
    CVELK_MemoryFile odd(PayloadBytes().Header(1, 0, 41).End().U16(u'a').U8('b').bytes);
    ASSERT_TRUE(info.ReadInfoFrom(odd, 0));
    EXPECT_EQ(std::u16string(info.Description()), u"a");
}

TEST(DravInfo, UnreachableDescriptionIsEmpty)
{
    // Offsets that would seek before the start of the file, or overflow the sum.
    for (uint64_t offset : {0x8000000000000000ull, 0xFFFFFFFFFFFFFFF0ull, 0x7FFFFFFFFFFFFFFFull}) {
        SCOPED_TRACE(offset);
        CVELK_MemoryFile file(WithPrefix(50, PayloadBytes().Header(1, 0, offset).End().Text(u"junk").bytes));
        CQM_DravInfo info;
        ASSERT_TRUE(info.ReadInfoFrom(file, 50));
        EXPECT_EQ(std::u16string(info.Description()), u"");
    }
}

struct BlockCase {
    const char* name;
    std::vector<uint8_t> payload;
    bool counts;
    uint32_t flags = 0;
};

// The extension block counts only when its tag, length, place and own CRC all check out; every
// other payload reads as one without a block, and the summary keeps its three lines.
TEST(DravInfo, ExtensionBlockCountsOnlyWhenItChecksOut)
{
    const uint32_t result = 0x0BADF00Du;
    auto header = [](uint32_t dataOffset) { return PayloadBytes().Header(16, 0x1234, 0, dataOffset); };
    const BlockCase cases[] = {
        {"this version", header(72).Block(result, 9).End().bytes, true},
        {"a later, longer block", header(80).Block(result, 9, 40).End().bytes, true},
        {"longer by one byte", header(73).Block(result, 9, 33).End().bytes, true},
        {"block and more before the data offset", header(90).Block(result, 9).Raw(PatternBytes(18, 1)).End().bytes, true},
        {"wrong tag", header(72).Block(result, 9, 32, false, "VELKEXT2").End().bytes, false},
        {"bad own CRC", header(72).Block(result, 9, 32, true).End().bytes, false},
        {"short length", header(71).Block(result, 9, 31).End().bytes, false},
        {"length past the data offset", header(71).Block(result, 9).End().bytes, false},
        {"longer block past the data offset", header(72).Block(result, 9, 40).End().bytes, false},
        {"data offset 40: the block is record bytes", header(40).Block(result, 9).End().bytes, false},
        {"no block", header(40).End().bytes, false},
        // Flags are read as they are: the reader acts on those it knows and leaves the others.
        {"keep the undo journal", header(72).Block(result, 9, 32, false, "VELKEXT1", 1).End().bytes, true, 1},
        {"flags of a later version", header(72).Block(result, 9, 32, false, "VELKEXT1", 0xF0000001u).End().bytes,
         true, 0xF0000001u},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        CVELK_MemoryFile file(WithPrefix(5, c.payload));
        CQM_DravInfo info;
        ASSERT_TRUE(info.ReadInfoFrom(file, 5));
        EXPECT_EQ(info.TargetCrc(), 0x1234u);
        EXPECT_EQ(info.FormatSummary(),
                  u"补丁版本: VELK-PATCH3.0\r\n目标文件的CRC32验证: 00001234\r\n打补丁后的文件大小: 16");
        ASSERT_EQ(info.ResultIdentity() != nullptr, c.counts);
        if (c.counts) {
            EXPECT_EQ(info.ResultIdentity()->resultCrc, result);
            EXPECT_EQ(info.ResultIdentity()->originalSize, 9u);
            EXPECT_EQ(info.ResultIdentity()->flags, c.flags);
            EXPECT_EQ(info.FormatResultLine(), u"打补丁后的文件的CRC32验证: 0BADF00D");
        } else {
            EXPECT_EQ(info.FormatResultLine(), u"");
        }
    }
}

}  // namespace
