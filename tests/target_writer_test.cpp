#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "apply/target_writer.h"
#include "file/memory_file.h"
#include "file/velk_file.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

struct Record {
    uint64_t position;
    std::vector<uint8_t> data;
};

// The behaviour the window must reproduce: one seek and one write per record, in order.
TargetWriteStatus WritePlainly(CVELK_xFile& target, const std::vector<Record>& records)
{
    for (const Record& r : records) {
        if (!target.Seek(static_cast<int64_t>(r.position))) return TargetWriteStatus::kSeekFailed;
        const auto n = static_cast<uint32_t>(r.data.size());
        if (target.Write(r.data.data(), n) != n) return TargetWriteStatus::kWriteFailed;
    }
    return TargetWriteStatus::kOk;
}

TargetWriteStatus WriteWindowed(CVELK_xFile& target, const std::vector<Record>& records,
                                uint32_t windowBytes = CVELK_TargetWriter::kWindowBytes,
                                uint32_t gapBytes = CVELK_TargetWriter::kGapBytes)
{
    CVELK_TargetWriter writer(target, windowBytes, gapBytes);
    for (const Record& r : records) {
        const TargetWriteStatus status = writer.Write(r.position, r.data.data(), static_cast<uint32_t>(r.data.size()));
        if (status != TargetWriteStatus::kOk) return status;
    }
    return writer.Finish();
}

// Passes everything to a memory file and keeps a log of the calls that reach it.
class LoggingFile : public CVELK_MemoryFile {
public:
    using CVELK_MemoryFile::CVELK_MemoryFile;
    struct Span {
        int64_t position;
        uint32_t length;
    };
    uint32_t Read(void* buffer, uint32_t count) override
    {
        ++reads;
        return CVELK_MemoryFile::Read(buffer, count);
    }
    uint32_t Write(const void* buffer, uint32_t count) override
    {
        writes.push_back({Tell(), count});
        return CVELK_MemoryFile::Write(buffer, count);
    }
    bool Seek(int64_t position) override
    {
        ++seeks;
        return CVELK_MemoryFile::Seek(position);
    }
    std::vector<Span> writes;
    int reads = 0, seeks = 0;
};

enum class Shape { kDense, kSparse, kOverlapping, kBackwards, kPastEnd, kMixed };

const char* ShapeName(Shape s)
{
    static const char* const names[] = {"dense", "sparse", "overlapping", "backwards", "past end", "mixed"};
    return names[static_cast<int>(s)];
}

// A stream of records of the given shape over a file of `fileSize` bytes.
std::vector<Record> MakeRecords(Shape shape, size_t count, uint64_t fileSize, std::mt19937& random)
{
    std::vector<Record> records;
    uint64_t position = random() % 1000;
    for (size_t i = 0; i < count; ++i) {
        const Shape s = shape == Shape::kMixed ? static_cast<Shape>(random() % 5) : shape;
        uint32_t length = 1 + random() % (random() % 16 == 0 ? 3000 : 12);
        switch (s) {
        case Shape::kDense: position += random() % 200; break;
        case Shape::kSparse: position += 1000 + random() % 20000; break;
        case Shape::kOverlapping: position = position + random() % 8 - std::min<uint64_t>(position, 4); break;
        case Shape::kBackwards: position -= std::min<uint64_t>(position, random() % 70000); break;
        case Shape::kPastEnd: position = fileSize + random() % 300000; break;
        case Shape::kMixed: break;
        }
        if (random() % 64 == 0) length = 65535;
        Record r{position, PatternBytes(length, static_cast<uint32_t>(random()))};
        records.push_back(std::move(r));
    }
    return records;
}

// Randomised streams of every shape, on readable and write-only targets, with several window
// sizes: the file always comes out as the plain writer leaves it.
TEST(TargetWriter, RandomStreamsGiveTheSameFileAsPlainWrites)
{
    std::mt19937 random(20261207);
    const struct {
        uint32_t window, gap;
    } configs[] = {{CVELK_TargetWriter::kWindowBytes, CVELK_TargetWriter::kGapBytes},
                   {1u << 17, 64},
                   {1u << 18, 0},
                   {0, 0}};
    for (Shape shape : {Shape::kDense, Shape::kSparse, Shape::kOverlapping, Shape::kBackwards,
                        Shape::kPastEnd, Shape::kMixed}) {
        for (int round = 0; round < 6; ++round) {
            const size_t fileSize = random() % (1u << 20);
            const std::vector<uint8_t> original = PatternBytes(fileSize, static_cast<uint32_t>(random()));
            const std::vector<Record> records = MakeRecords(shape, 200 + random() % 400, fileSize, random);

            CVELK_MemoryFile expected(original);
            ASSERT_EQ(WritePlainly(expected, records), TargetWriteStatus::kOk);
            for (const auto& config : configs) {
                for (uint32_t access : {kAccessRead | kAccessWrite, kAccessWrite}) {
                    CVELK_MemoryFile actual(original, access);
                    ASSERT_EQ(WriteWindowed(actual, records, config.window, config.gap), TargetWriteStatus::kOk);
                    ASSERT_TRUE(actual.Bytes() == expected.Bytes())
                        << ShapeName(shape) << " round " << round << " window " << config.window << " gap "
                        << config.gap << (access & kAccessRead ? "" : " write-only");
                }
            }
        }
    }
}

// Coverage of every record; a write may carry bytes no record changed only in short gaps.
TEST(TargetWriter, RewritesOnlyShortUnchangedGapsAndFewCalls)
{
    std::mt19937 random(7);
    for (Shape shape : {Shape::kDense, Shape::kSparse, Shape::kMixed}) {
        const std::vector<uint8_t> original = PatternBytes(4u << 20, 3);
        const std::vector<Record> records = MakeRecords(shape, 5000, original.size(), random);
        uint64_t end = 0;
        for (const Record& r : records) end = std::max<uint64_t>(end, r.position + r.data.size());
        std::vector<bool> covered(end, false);
        for (const Record& r : records) std::fill_n(covered.begin() + r.position, r.data.size(), true);

        LoggingFile file(original);
        ASSERT_EQ(WriteWindowed(file, records), TargetWriteStatus::kOk);
        for (const LoggingFile::Span& w : file.writes) {
            uint32_t run = 0;
            for (uint32_t i = 0; i < w.length; ++i) {
                run = covered[w.position + i] ? 0 : run + 1;
                ASSERT_LE(run, CVELK_TargetWriter::kGapBytes) << ShapeName(shape) << " write at " << w.position;
            }
            ASSERT_TRUE(covered[w.position]);  // a write starts and ends with a record
            ASSERT_TRUE(covered[w.position + w.length - 1]);
        }
        EXPECT_LE(file.writes.size(), records.size()) << ShapeName(shape);
        if (shape == Shape::kDense) {
            // 5000 records about 100 bytes apart: a handful of windows, not 5000 writes.
            EXPECT_LT(file.writes.size(), 20u);
            EXPECT_LT(file.reads + file.seeks, 80);
        }
    }
}

TEST(TargetWriter, NegativePositionFailsAfterEarlierRecordsReachedTheFile)
{
    const std::vector<uint8_t> original(1000, 0x11);
    const std::vector<Record> records = {{10, {1, 2, 3}}, {20, {4}}, {0x8000000000000000ull, {5}}, {30, {6}}};
    CVELK_MemoryFile expected(original), actual(original);
    EXPECT_EQ(WritePlainly(expected, records), TargetWriteStatus::kSeekFailed);
    EXPECT_EQ(WriteWindowed(actual, records), TargetWriteStatus::kSeekFailed);
    EXPECT_EQ(actual.Bytes(), expected.Bytes());
    EXPECT_EQ(actual.Bytes()[20], 4);
    EXPECT_EQ(actual.Bytes()[30], 0x11);
}

// A target that cannot grow (a full disk): the failure is a write failure, whether it shows at
// the record or when held records are written out.
TEST(TargetWriter, FailedGrowthIsAWriteFailure)
{
    for (uint32_t window : {CVELK_TargetWriter::kWindowBytes, 0u}) {
        CVELK_MemoryFile file(std::vector<uint8_t>(5000, 0));
        file.SetSizeLimit(6000);
        const std::vector<Record> records = {{100, {1}}, {5990, std::vector<uint8_t>(20, 7)}, {200, {2}}};
        EXPECT_EQ(WriteWindowed(file, records, window), TargetWriteStatus::kWriteFailed) << window;
        EXPECT_EQ(file.Bytes()[100], 1) << window;  // what came before the failure is in the file
    }
}

// Records near and across 4 GiB in a sparse file, and past its end: the same bytes as plain
// writes, and the file stays sparse (no large unchanged stretch was rewritten).
TEST(TargetWriterOnDisk, SparseFileBeyondFourGiB)
{
    TempDir dir;
    const int64_t size = (4ll << 30) + (512ll << 20);
    const NativeString plainPath = dir.Path("plain.img"), windowedPath = dir.Path("windowed.img");
    ASSERT_TRUE(MakeSparseFile(plainPath, size));
    ASSERT_TRUE(MakeSparseFile(windowedPath, size));

    std::mt19937 random(4);
    std::vector<Record> records;
    const uint64_t clusters[] = {(4ull << 30) - 100000, 1ull << 30, static_cast<uint64_t>(size) - 3000,
                                 static_cast<uint64_t>(size) + 70000};
    for (uint64_t start : clusters) {
        uint64_t position = start;
        for (int i = 0; i < 400; ++i) {
            position += random() % 600;
            records.push_back({position, PatternBytes(1 + random() % 40, static_cast<uint32_t>(random()))});
        }
    }
    {
        CVELK_File plain, windowed;
        ASSERT_TRUE(plain.OpenFile(plainPath.c_str(), kModeReadWriteExisting, kShareRead));
        ASSERT_TRUE(windowed.OpenFile(windowedPath.c_str(), kModeReadWriteExisting, kShareRead));
        ASSERT_EQ(WritePlainly(plain, records), TargetWriteStatus::kOk);
        ASSERT_EQ(WriteWindowed(windowed, records), TargetWriteStatus::kOk);
        ASSERT_EQ(windowed.GetSize(), plain.GetSize());

        for (uint64_t start : clusters) {
            const int64_t from = static_cast<int64_t>(start) - 8192;
            std::vector<uint8_t> a(400 * 700 + 16384), b(a.size());
            ASSERT_TRUE(plain.Seek(from) && windowed.Seek(from));
            a.resize(plain.Read(a.data(), static_cast<uint32_t>(a.size())));
            b.resize(windowed.Read(b.data(), static_cast<uint32_t>(b.size())));
            ASSERT_EQ(a.size(), b.size());
            ASSERT_TRUE(a == b) << "cluster at " << start;
        }
    }
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(stat(windowedPath.c_str(), &info), 0);
    EXPECT_LT(static_cast<int64_t>(info.st_blocks) * 512, 16ll << 20);
#endif
}

}  // namespace
