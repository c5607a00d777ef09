#include <gtest/gtest.h>

#include <algorithm>

#include "apply/result_check.h"
#include "crc/crc32.h"
#include "file/memory_file.h"
#include "support/fault_file.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Crc(const Bytes& bytes)
{
    return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size());
}

struct Write {
    int64_t position;
    uint32_t length;
};

struct ResultCase {
    const char* name;
    size_t originalSize;
    int64_t patchedSize;
    std::vector<Write> writes;
    size_t maxRanges = CVELK_ResultCheck::kMaxRanges;
    // 0: the changed ranges are read, however small the file; the default reads these small
    // files whole.
    int64_t rangeCost = 0;
};

// The CRC check's read of the original, in small chunks (so that ranges straddle them, and the
// next chunk is read ahead), shown to the result check.
constexpr uint32_t kChunk = 4096;

// Resizes and writes as an application does, with the check around it; `disturb` may change the
// file after the writes, as a disk that did not store what it was given. `crcKnown`: the
// original's CRC-32 is given and its ranges read alone, as for a set's member.
uint32_t CheckedApplication(const ResultCase& c, CVELK_MemoryFile& target, const std::function<void()>& disturb = {},
                            bool crcKnown = false)
{
    const Bytes original = target.Bytes();
    const auto size = static_cast<int64_t>(original.size());
    CVELK_ResultCheck check(size, c.patchedSize, c.rangeCost, c.maxRanges);
    for (const Write& w : c.writes) check.Note(w.position, w.length);
    EXPECT_EQ(check.KeepsTheOriginal(), c.patchedSize >= size);
    if (crcKnown) {
        EXPECT_TRUE(check.ReadRanges(target, Crc(original)));
    } else {
        uint32_t originalCrc = 0;
        EXPECT_EQ(StretchCrc(target, 0, size, nullptr, &originalCrc, &check, kChunk), StretchCrcVerdict::kComputed);
        EXPECT_EQ(originalCrc, Crc(original));
    }
    EXPECT_TRUE(target.SetSize(c.patchedSize));
    for (size_t i = 0; i < c.writes.size(); ++i) {
        const Bytes data = PatternBytes(c.writes[i].length, static_cast<uint32_t>(i + 100));
        EXPECT_TRUE(target.Seek(c.writes[i].position));
        EXPECT_EQ(target.Write(data.data(), c.writes[i].length), c.writes[i].length);
    }
    if (disturb) disturb();
    uint32_t crc = 0;
    EXPECT_TRUE(check.ReadAfter(target, &crc));
    return crc;
}

std::vector<ResultCase> Cases()
{
    std::vector<ResultCase> cases = {
        {"same size", 10000, 10000, {{5, 3}, {4000, 100}, {9990, 10}}},
        {"no records", 10000, 10000, {}},
        {"grow, records in the old part and in the new", 5000, 9000, {{0, 1}, {4990, 20}, {8000, 50}}},
        {"shrink, a record across the new end", 9000, 5000, {{10, 10}, {4990, 20}}},
        {"shrink to nothing", 3000, 0, {}},
        {"from nothing", 0, 700, {{100, 7}}},
        {"a record past the patched size", 4000, 4000, {{4100, 9}}},
        {"backwards and overlapping", 20000, 20000, {{15000, 300}, {100, 50}, {120, 500}, {15100, 10}, {14000, 2000}}},
        {"far apart, merged when too many", 200000, 200000, {}, 4},
    };
    for (int64_t at = 1000; at < 200000; at += 9000) cases.back().writes.push_back({at, 17});
    // The same, where the ranges cost as much as reading the whole file.
    const size_t derived = cases.size();
    for (size_t i = 0; i < derived; ++i) {
        cases.push_back(cases[i]);
        cases.back().rangeCost = CVELK_ResultCheck::kRangeCostBytes;
    }
    return cases;
}

// The derived CRC is what a full read of the result gives.
TEST(ResultCheck, DerivedCrcMatchesAFullRead)
{
    for (const ResultCase& c : Cases()) {
        SCOPED_TRACE(std::string(c.name) + (c.rangeCost == 0 ? ", ranges read" : ", whole file read"));
        CVELK_MemoryFile target(PatternBytes(c.originalSize, 3));
        const uint32_t crc = CheckedApplication(c, target);
        EXPECT_EQ(crc, Crc(target.Bytes()));
        if (c.patchedSize < static_cast<int64_t>(c.originalSize)) continue;
        CVELK_MemoryFile known(PatternBytes(c.originalSize, 3));
        EXPECT_EQ(CheckedApplication(c, known, {}, true), crc) << "the ranges read alone";
    }
}

// A write that did not land as given, in any part the application wrote: the CRC follows the
// bytes on the disk, not the payload's.
TEST(ResultCheck, FollowsTheBytesOnTheDisk)
{
    for (const ResultCase& c : Cases()) {
        if (c.writes.empty()) continue;
        for (const Write& w : c.writes) {
            SCOPED_TRACE(std::string(c.name) + (c.rangeCost == 0 ? ", ranges read" : ", whole file read") +
                         ", write at " + std::to_string(w.position));
            CVELK_MemoryFile target(PatternBytes(c.originalSize, 3));
            Bytes intended;
            const uint32_t crc = CheckedApplication(c, target, [&] {
                intended = target.Bytes();
                uint8_t byte = 0;
                target.Seek(w.position + w.length - 1);
                target.Read(&byte, 1);
                byte ^= 0x40;
                target.Seek(w.position + w.length - 1);
                target.Write(&byte, 1);
            });
            EXPECT_EQ(crc, Crc(target.Bytes()));
            EXPECT_NE(crc, Crc(intended));
        }
    }
}

// A target that cannot be read gives no answer, and neither does a check that did not see the
// original read through before (here its read failed at the first or the second chunk).
TEST(ResultCheck, UnreadableTargetIsNoAnswer)
{
    for (uint64_t failingRead : {1, 2}) {
        SCOPED_TRACE(failingRead);
        CVELK_MemoryFile inner(PatternBytes(9000, 4));
        CVELK_FaultSwitch faults(FaultPlan{FaultOp::kRead, failingRead, FaultKind::kFailOnce});
        CVELK_FaultFile target(inner, faults);
        CVELK_ResultCheck check(9000, 5000, 0);
        check.Note(10, 10);
        check.Note(4500, 10);
        uint32_t crc = 0;
        EXPECT_EQ(StretchCrc(target, 0, 9000, nullptr, &crc, &check, kChunk), StretchCrcVerdict::kReadFailed);
        // Every read from here on passes: only what the check saw counts.
        EXPECT_FALSE(check.ReadAfter(target, &crc));
    }
    // Nor does one told the CRC of an original the result cuts short: it needs the kept part's.
    CVELK_MemoryFile original(PatternBytes(9000, 4));
    CVELK_ResultCheck shrinking(9000, 5000, 0);
    shrinking.Note(10, 10);
    EXPECT_FALSE(shrinking.ReadRanges(original, Crc(original.Bytes())));
}

}  // namespace
