#include <gtest/gtest.h>

#include "crc/crc32.h"
#include "file/memory_file.h"
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

}  // namespace
