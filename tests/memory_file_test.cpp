#include <gtest/gtest.h>

#include <algorithm>

#include "crc/crc32.h"
#include "file/io.h"
#include "file/memory_file.h"
#include "file/stretch_reader.h"
#include "support/fault_file.h"
#include "support/test_support.h"

namespace {

TEST(MemoryFile, BehavesLikeADiskFile)
{
    CVELK_MemoryFile file({'a', 'b', 'c'});
    uint8_t buffer[8];
    EXPECT_EQ(file.GetCrc32(), 0x352441C2u);
    EXPECT_EQ(file.Read(buffer, 8), 3u);
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    EXPECT_FALSE(file.Seek(-1));
    EXPECT_EQ(file.Tell(), 3);
    EXPECT_TRUE(file.Seek(6));
    EXPECT_EQ(file.Write("x", 1), 1u);
    EXPECT_EQ(file.Bytes(), (std::vector<uint8_t>{'a', 'b', 'c', 0, 0, 0, 'x'}));
    EXPECT_TRUE(file.SetSize(2));
    EXPECT_EQ(file.Tell(), 2);
    EXPECT_EQ(file.GetSize(), 2);
    file.Close();
    EXPECT_EQ(file.GetSize(), -1);
    EXPECT_EQ(file.Read(buffer, 1), 0u);
}

TEST(MemoryFile, SizeLimitActsLikeAFullDisk)
{
    CVELK_MemoryFile file(std::vector<uint8_t>(10));
    file.SetSizeLimit(16);
    EXPECT_TRUE(file.SetSize(16));
    EXPECT_FALSE(file.SetSize(17));
    EXPECT_TRUE(file.Seek(15));
    EXPECT_EQ(file.Write("ab", 2), 0u);
}

TEST(MemoryFile, ReadOnlyRefusesWrites)
{
    CVELK_MemoryFile file({'a'}, kAccessRead);
    EXPECT_EQ(file.Write("b", 1), 0u);
    EXPECT_FALSE(file.SetSize(0));
    EXPECT_EQ(file.CanWrite(), 0u);
    EXPECT_EQ(file.CanRead(), kAccessRead);
}

// A positioned write through a file without one of its own is a seek and a write; WriteFullyAt
// goes on after a write cut short and stops at one that moves nothing.
TEST(MemoryFile, PositionedWritesGoOnAfterShortOnes)
{
    CVELK_MemoryFile inner(std::vector<uint8_t>(8, '.'));
    CVELK_FaultSwitch faults(FaultPlan{FaultOp::kWrite, 1, FaultKind::kShortOnce});
    CVELK_FaultFile file(inner, faults);
    EXPECT_TRUE(velk_io::WriteFullyAt(file, 4, "abcdef", 6));
    EXPECT_EQ(std::string(inner.Bytes().begin(), inner.Bytes().end()), "....abcdef");
    EXPECT_EQ(faults.Calls(FaultOp::kWrite), 2u);
    EXPECT_EQ(faults.Calls(FaultOp::kSeek), 2u);

    CVELK_FaultSwitch broken(FaultPlan{FaultOp::kWrite, 1, FaultKind::kFailOnce});
    CVELK_FaultFile failing(inner, broken);
    EXPECT_FALSE(velk_io::WriteFullyAt(failing, 0, "xy", 2));
    EXPECT_EQ(failing.WriteAt(0, "xy", 2), 2u);
    EXPECT_EQ(inner.Bytes()[0], 'x');
}

// A stretch comes chunk by chunk, in order, each in phase with its place in the file; from the
// second chunk on it is read ahead on a thread of its own, never more than two chunks ahead.
TEST(StretchReader, ChunksInOrderInPhaseAndReadAhead)
{
    const std::vector<uint8_t> bytes = PatternBytes((1u << 20) + 123, 8);
    for (const int64_t from : {int64_t(0), int64_t(5000)}) {
        SCOPED_TRACE(from);
        CVELK_MemoryFile file(bytes);
        CVELK_StretchReader reader(file, from, static_cast<int64_t>(bytes.size()), 64u << 10);
        EXPECT_TRUE(reader.ReadsAhead());
        std::vector<uint8_t> got;
        uint32_t count = 0;
        while (const uint8_t* chunk = reader.Next(&count)) {
            const auto position = from + static_cast<int64_t>(got.size());
            EXPECT_EQ((reinterpret_cast<uintptr_t>(chunk) - static_cast<uint64_t>(position)) % 4096, 0u);
            got.insert(got.end(), chunk, chunk + count);
        }
        EXPECT_FALSE(reader.Failed());
        EXPECT_TRUE(got == std::vector<uint8_t>(bytes.begin() + from, bytes.end()));
    }
    // Left after its first chunk: the thread is stopped, having read at most two ahead.
    CVELK_MemoryFile inner(bytes);
    CVELK_FaultSwitch counts;
    CVELK_FaultFile file(inner, counts);
    {
        CVELK_StretchReader reader(file, 0, static_cast<int64_t>(bytes.size()), 64u << 10);
        uint32_t count = 0;
        ASSERT_NE(reader.Next(&count), nullptr);
    }
    EXPECT_LE(counts.Calls(FaultOp::kRead), 3u);
    // A single chunk is read by whoever asks for it.
    CVELK_StretchReader single(inner, 10, 100);
    EXPECT_FALSE(single.ReadsAhead());
    uint32_t count = 0;
    const uint8_t* chunk = single.Next(&count);
    ASSERT_NE(chunk, nullptr);
    EXPECT_TRUE(std::vector<uint8_t>(chunk, chunk + count) == std::vector<uint8_t>(bytes.begin() + 10, bytes.begin() + 100));
    EXPECT_EQ(single.Next(&count), nullptr);
}

// A read that fails ends the stretch there, on the reading thread as on the caller's: nothing
// is read after it. A read cut short is completed.
TEST(StretchReader, EndsWhereAReadFails)
{
    const std::vector<uint8_t> bytes = PatternBytes(10 * 4096 + 7, 9);
    for (const FaultKind kind : {FaultKind::kFailOnce, FaultKind::kShortOnce}) {
        for (uint64_t failing = 1; failing <= 11; ++failing) {
            SCOPED_TRACE(std::to_string(failing) + (kind == FaultKind::kFailOnce ? " fails" : " is cut short"));
            CVELK_MemoryFile inner(bytes);
            CVELK_FaultSwitch faults(FaultPlan{FaultOp::kRead, failing, kind});
            CVELK_FaultFile file(inner, faults);
            CVELK_StretchReader reader(file, 0, static_cast<int64_t>(bytes.size()), 4096);
            uint64_t chunks = 0;
            uint32_t count = 0;
            while (reader.Next(&count) != nullptr) ++chunks;
            if (kind == FaultKind::kFailOnce) {
                EXPECT_TRUE(reader.Failed());
                EXPECT_EQ(chunks, failing - 1);
                EXPECT_EQ(faults.Calls(FaultOp::kRead), failing);
            } else {
                EXPECT_FALSE(reader.Failed());
                EXPECT_EQ(chunks, 11u);
            }
        }
    }
}

// The CRC of a stretch read ahead: a stop asked for before a chunk is honoured there, the
// reading thread gone and at most two chunks read past the stop; progress counts what was summed.
TEST(StretchReader, CrcStopsBetweenChunksWhileReadingAhead)
{
    const std::vector<uint8_t> bytes = PatternBytes(6 * 4096 + 100, 10);
    const int64_t from = 300, to = static_cast<int64_t>(bytes.size()), total = to - from;
    const uint64_t chunks = (static_cast<uint64_t>(total) + 4095) / 4096;
    _m_CRC32 whole;
    const uint32_t expected = whole.Update(bytes.data() + from, static_cast<uint32_t>(total));
    struct StopAt : CVELK_Pacer {
        uint64_t polls = 0, stopAt = 0;
        std::vector<int64_t> done;
        void Progress(int64_t d, int64_t t) override { done.push_back(t == 0 ? -1 : d); }
        bool StopRequested() override { return polls++ == stopAt; }
    };
    for (uint64_t stopAt = 0; stopAt <= chunks; ++stopAt) {
        SCOPED_TRACE("stop before chunk " + std::to_string(stopAt));
        CVELK_MemoryFile inner(bytes);
        CVELK_FaultSwitch counts;
        CVELK_FaultFile file(inner, counts);
        StopAt pacer;
        pacer.stopAt = stopAt;
        uint32_t crc = 1;
        const StretchCrcVerdict verdict = StretchCrc(file, from, to, &pacer, &crc, nullptr, 4096);
        const uint64_t summed = std::min(stopAt, chunks);
        EXPECT_EQ(verdict, stopAt < chunks ? StretchCrcVerdict::kStopped : StretchCrcVerdict::kComputed);
        EXPECT_EQ(crc, stopAt < chunks ? 0u : expected);
        ASSERT_EQ(pacer.done.size(), summed);
        for (uint64_t i = 0; i < summed; ++i)
            EXPECT_EQ(pacer.done[i], std::min<int64_t>(static_cast<int64_t>(i + 1) * 4096, total));
        EXPECT_LE(counts.Calls(FaultOp::kRead), summed + 2);
    }
}

}  // namespace
