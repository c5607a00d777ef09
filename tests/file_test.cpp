// The disk file on this platform (POSIX natively, Win32 under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "crc/crc32.h"
#include "file/velk_file.h"
#include "support/test_support.h"

namespace {

class DiskFile : public ::testing::Test {
protected:
    NativeString MakeFile(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        NativeString path = dir.Path(name);
        EXPECT_TRUE(WriteWholeFile(path, bytes));
        return path;
    }
    TempDir dir;
};

const std::vector<uint8_t> kAbc = {'a', 'b', 'c'};

struct ModeCase {
    int mode;
    bool opens;  // of an existing file
    uint32_t access;
    bool createsMissing;
};

TEST_F(DiskFile, ModeCodesMapToAccessAndDisposition)
{
    const ModeCase cases[] = {
        {1, true, kAccessRead, false},
        {2, true, kAccessWrite, false},
        {3, true, kAccessRead | kAccessWrite, false},
        {4, true, kAccessWrite, true},
        {9, true, kAccessRead | kAccessWrite, true},
        {0, false, 0, false},
        {5, false, 0, false},
        {8, false, 0, false},
        {-1, false, 0, false},
        {10, false, 0, false},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.mode);
        const NativeString existing = MakeFile("existing", kAbc);
        CVELK_File file;
        EXPECT_EQ(file.OpenFile(existing.c_str(), c.mode, kShareReadWrite), c.opens);
        EXPECT_EQ(file.IsOpen(), c.opens);
        EXPECT_EQ(file.CanRead(), c.access & kAccessRead);
        EXPECT_EQ(file.CanWrite(), c.access & kAccessWrite);
        file.Close();

        const NativeString missing = dir.Path("missing");
        EXPECT_EQ(file.OpenFile(missing.c_str(), c.mode, kShareReadWrite), c.createsMissing);
        EXPECT_EQ(FileExists(missing), c.createsMissing);
        // A failed open of a valid mode keeps that mode's rights in the access field.
        if (c.opens && !c.createsMissing) EXPECT_EQ(file.CanRead(), c.access & kAccessRead);
        file.Close();
        std::filesystem::remove(std::filesystem::path(missing));
    }
}

TEST_F(DiskFile, CreateNewMakesOnlyNewFiles)
{
    const NativeString path = dir.Path("new");
    CVELK_File file;
    ASSERT_TRUE(file.CreateNew(path.c_str(), kShareRead));
    EXPECT_TRUE(file.CanRead() && file.CanWrite());
    EXPECT_EQ(file.Write("abc", 3), 3u);
    EXPECT_TRUE(file.Flush());
    file.Close();
    EXPECT_FALSE(file.Flush());
    EXPECT_EQ(ReadWholeFile(path), kAbc);

    // An existing file is neither opened nor truncated.
    EXPECT_FALSE(file.CreateNew(path.c_str(), kShareRead));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadWholeFile(path), kAbc);
    EXPECT_FALSE(file.OpenFile(dir.Path("other").c_str(), CVELK_File::kCreateNew, kShareRead));
    EXPECT_FALSE(FileExists(dir.Path("other")));
#ifndef _WIN32
    // Nor is a link in its place followed to the file it names.
    const NativeString target = dir.Path("target");
    ASSERT_EQ(symlink(target.c_str(), dir.Path("link").c_str()), 0);
    EXPECT_FALSE(file.CreateNew(dir.Path("link").c_str(), kShareRead));
    EXPECT_FALSE(FileExists(target));
#endif
    // Only a file open for writing has anything to flush.
    CVELK_File reader;
    ASSERT_TRUE(reader.OpenFile(path.c_str(), kModeReadExisting, kShareRead));
    EXPECT_FALSE(reader.Flush());
}

TEST_F(DiskFile, PositionAfterOpenAndTruncation)
{
    const NativeString path = MakeFile("f", kAbc);
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadWriteOpenAlways, kShareRead));
    EXPECT_EQ(file.Tell(), 3);  // mode 9 opens at the end and keeps the contents
    EXPECT_EQ(file.GetSize(), 3);
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadExisting, kShareRead));
    EXPECT_EQ(file.Tell(), 0);
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeCreateTruncate, kShareRead));
    EXPECT_EQ(file.GetSize(), 0);  // mode 4 truncates
    file.Close();
    EXPECT_TRUE(ReadWholeFile(path).empty());
}

TEST_F(DiskFile, FailedOpenLeavesAnOpenObjectClosed)
{
    const NativeString path = MakeFile("f", kAbc);
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadExisting, kShareRead));
    EXPECT_FALSE(file.OpenFile(path.c_str(), 5, kShareRead));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.CanRead(), 0u);
}

TEST_F(DiskFile, ClosedObjectAnswersFailure)
{
    CVELK_File file;
    char buffer[4];
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetSize(), -1);
    EXPECT_EQ(file.Tell(), -1);
    EXPECT_EQ(file.Read(buffer, 4), 0u);
    EXPECT_EQ(file.Write(buffer, 4), 0u);
    EXPECT_EQ(file.GetCrc32(), 0u);
    EXPECT_FALSE(file.Seek(0));
    EXPECT_FALSE(file.SetSize(0));
    EXPECT_TRUE(file.WriteWideText(u""));  // nothing to write
    EXPECT_FALSE(file.WriteWideText(u"ab"));
    file.Close();
    file.Close();
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(DiskFile, ReadWriteSeekAndShortReads)
{
    const NativeString path = MakeFile("f", PatternBytes(100, 1));
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadWriteExisting, kShareRead));
    uint8_t buffer[256];
    EXPECT_TRUE(file.Seek(90));
    EXPECT_EQ(file.Read(buffer, 256), 10u);  // short at the end, not retried
    EXPECT_EQ(file.Tell(), 100);
    EXPECT_EQ(file.Read(buffer, 1), 0u);
    EXPECT_FALSE(file.Seek(-1));
    EXPECT_EQ(file.Tell(), 100);  // a refused seek leaves the position
    EXPECT_TRUE(file.Seek(200));  // past the end is accepted; the file grows only when written
    EXPECT_EQ(file.GetSize(), 100);
    EXPECT_EQ(file.Write("xy", 2), 2u);
    EXPECT_EQ(file.GetSize(), 202);
    EXPECT_EQ(file.Tell(), 202);
    file.Close();
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), 202u);
    EXPECT_EQ(bytes[150], 0);
    EXPECT_EQ(bytes[200], 'x');
}

TEST_F(DiskFile, AccessIsEnforced)
{
    const NativeString path = MakeFile("f", kAbc);
    CVELK_File reader, writer;
    uint8_t buffer[3];
    ASSERT_TRUE(reader.OpenFile(path.c_str(), kModeReadExisting, kShareReadWrite));
    EXPECT_EQ(reader.Write("z", 1), 0u);
    EXPECT_FALSE(reader.SetSize(1));
    ASSERT_TRUE(writer.OpenFile(path.c_str(), kModeWriteExisting, kShareReadWrite));
    EXPECT_EQ(writer.Read(buffer, 3), 0u);
}

TEST_F(DiskFile, SetSizeTruncatesExtendsAndRefusesNegative)
{
    const NativeString path = MakeFile("f", PatternBytes(1000, 2));
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadWriteExisting, kShareRead));
    EXPECT_FALSE(file.SetSize(-5));
    EXPECT_EQ(file.GetSize(), 1000);
    EXPECT_TRUE(file.SetSize(10));
    EXPECT_EQ(file.GetSize(), 10);
    EXPECT_EQ(file.Tell(), 10);
    EXPECT_TRUE(file.SetSize(5000));
    EXPECT_EQ(file.GetSize(), 5000);
    EXPECT_EQ(file.Tell(), 5000);
    file.Close();
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    const std::vector<uint8_t> original = PatternBytes(1000, 2);
    ASSERT_EQ(bytes.size(), 5000u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 10, original.begin()));
    EXPECT_TRUE(std::all_of(bytes.begin() + 10, bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(DiskFile, WholeFileCrcRestoresThePosition)
{
    struct Case {
        size_t size;
        int64_t position;
    };
    // Sizes around the chunk size, and 40 MiB spanning more than one 32 MiB chunk.
    const Case cases[] = {{0, 0},
                          {3, 1},
                          {CVELK_File::kCrcChunkBytes - 1, 17},
                          {CVELK_File::kCrcChunkBytes, 0},
                          {CVELK_File::kCrcChunkBytes + 1, 12345},
                          {40u << 20, 40u << 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const std::vector<uint8_t> bytes = PatternBytes(c.size, static_cast<uint32_t>(c.size));
        const NativeString path = MakeFile("crc", bytes);
        CVELK_File file;
        ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadExisting, kShareRead));
        ASSERT_TRUE(file.Seek(c.position));
        EXPECT_EQ(file.GetCrc32(), ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, bytes.data(), bytes.size()));
        EXPECT_EQ(file.Tell(), c.position);
    }
    CVELK_File abc;
    const NativeString path = MakeFile("abc", kAbc);
    ASSERT_TRUE(abc.OpenFile(path.c_str(), kModeReadExisting, kShareRead));
    EXPECT_EQ(abc.GetCrc32(), 0x352441C2u);
}

TEST_F(DiskFile, WriteWideText)
{
    const NativeString path = dir.Path("w");
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeCreateTruncate, kShareRead));
    EXPECT_FALSE(file.WriteWideText(nullptr));
    EXPECT_TRUE(file.WriteWideText(u"ab"));
    EXPECT_TRUE(file.WriteWideText(u"补"));
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{'a', 0, 'b', 0, 0x65, 0x88}));
}

struct ShareCase {
    int firstMode, firstShare, secondMode, secondShare;
    bool secondOpens;
};

// The sharing rules of Windows: the second open must be allowed by the first one's share code,
// and the first one's access must be allowed by the second one's share code.
TEST_F(DiskFile, ShareCodesDecideWhetherASecondOpenSucceeds)
{
    const ShareCase cases[] = {
        {1, 3, 3, 3, false},  // the patch source (read, share read) blocks the patch's own target
        {1, 3, 1, 3, true},   // two readers sharing reading
        {3, 3, 1, 3, false},  // a writer holding it: a reader that denies writing cannot open
        {3, 3, 1, 1, true},   // ... one that allows writing can
        {3, 3, 3, 3, false},
        {1, 1, 3, 1, true},   // everyone shares everything
        {1, 0, 1, 1, false},  // share nothing
        {1, 2, 2, 1, true},   // share write only: a writer may come
        {1, 2, 1, 1, false},  // ... a reader may not
        {2, 3, 2, 1, false},  // a writer that shares only reading refuses a second writer
        {2, 3, 1, 1, true},   // ... but not a reader that lets it write
    };
    const NativeString path = MakeFile("shared", kAbc);
    for (const ShareCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.firstMode << "/" << c.firstShare << " then "
                                        << c.secondMode << "/" << c.secondShare);
        CVELK_File first, second;
        ASSERT_TRUE(first.OpenFile(path.c_str(), c.firstMode, c.firstShare));
        EXPECT_EQ(second.OpenFile(path.c_str(), c.secondMode, c.secondShare), c.secondOpens);
        second.Close();
        first.Close();
        // Once the first holder is gone anything opens again.
        EXPECT_TRUE(second.OpenFile(path.c_str(), c.secondMode, c.secondShare));
    }
}

// Two openers racing for a file that each wants to itself (two applications to one target):
// exactly one gets it, every time, however close together they come.
TEST_F(DiskFile, TwoWritersAtOnceNeverBothOpen)
{
    const NativeString path = MakeFile("contested", kAbc);
    for (int round = 0; round < 300; ++round) {
        CVELK_File files[2];
        bool opened[2] = {};
        std::atomic<int> arrived{0};
        auto open = [&](int i) {
            arrived.fetch_add(1);
            while (arrived.load() < 2) {
            }
            opened[i] = files[i].OpenFile(path.c_str(), kModeReadWriteExisting, kShareRead);
        };
        std::thread other(open, 1);
        open(0);
        other.join();
        ASSERT_EQ(opened[0] + opened[1], 1) << "round " << round;
    }
}

TEST_F(DiskFile, FolderIsNotAFile)
{
    CVELK_File file;
    EXPECT_FALSE(file.OpenFile(dir.Root().c_str(), kModeReadExisting, kShareRead));
    EXPECT_FALSE(file.OpenFile(dir.Root().c_str(), kModeReadWriteExisting, kShareRead));
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(DiskFile, NonAsciiNames)
{
    const NativeString path = MakeFile("补丁 ünïcode ファイル.iso", kAbc);
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadExisting, kShareRead));
    EXPECT_EQ(file.GetCrc32(), 0x352441C2u);
}

// Positions and sizes past 4 GiB on a sparse file.
TEST_F(DiskFile, PositionsAndSizesBeyondFourGiB)
{
    const int64_t size = (5ll << 30) + 3;
    const NativeString path = dir.Path("sparse");
    ASSERT_TRUE(MakeSparseFile(path, size));
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadWriteExisting, kShareRead));
    EXPECT_EQ(file.GetSize(), size);
    const int64_t far = (4ll << 30) + 17;
    ASSERT_TRUE(file.Seek(far));
    EXPECT_EQ(file.Tell(), far);
    EXPECT_EQ(file.Write("far", 3), 3u);
    ASSERT_TRUE(file.Seek(far));
    char back[3] = {};
    EXPECT_EQ(file.Read(back, 3), 3u);
    EXPECT_EQ(std::string(back, 3), "far");
    EXPECT_TRUE(file.SetSize(size + 100));  // only the added range is reserved
    EXPECT_EQ(file.GetSize(), size + 100);
    EXPECT_TRUE(file.SetSize(far + 3));
    EXPECT_EQ(file.GetSize(), far + 3);
    EXPECT_EQ(file.Tell(), far + 3);
    // A positioned read past 4 GiB, and one where the file ends.
    EXPECT_EQ(file.ReadAt(far + 1, back, 3), 2u);
    EXPECT_EQ(std::string(back, 2), "ar");
    EXPECT_EQ(file.ReadAt(far + 3, back, 3), 0u);
    // A positioned write there, and one that extends the file.
    EXPECT_EQ(file.WriteAt(far + 1, "AR!", 3), 3u);
    EXPECT_EQ(file.GetSize(), far + 4);
    EXPECT_EQ(file.ReadAt(far, back, 3), 3u);
    EXPECT_EQ(std::string(back, 3), "fAR");
    EXPECT_EQ(file.WriteAt(-1, "x", 1), 0u);
}

// What the undo journal needs besides a new file: an existing plain file opened for reading
// without following a link, and positioned reads.
TEST_F(DiskFile, ExistingRegularFilesAndPositionedReads)
{
    const NativeString path = MakeFile("journal", {'a', 'b', 'c', 'd', 'e', 'f'});
    CVELK_File file;
    ASSERT_TRUE(file.OpenExistingRegular(path.c_str(), kShareRead));
    EXPECT_TRUE(file.CanRead() && !file.CanWrite());
    char bytes[4] = {};
    EXPECT_EQ(file.ReadAt(2, bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), "cdef");
    EXPECT_EQ(file.ReadAt(5, bytes, 4), 1u);
    EXPECT_EQ(file.ReadAt(-1, bytes, 1), 0u);
    EXPECT_EQ(file.WriteAt(0, "x", 1), 0u);  // opened for reading only
    file.Close();
    EXPECT_FALSE(file.OpenExistingRegular(dir.Path("missing").c_str(), kShareRead));
    EXPECT_FALSE(FileExists(dir.Path("missing")));
    EXPECT_FALSE(file.OpenExistingRegular(dir.Root().c_str(), kShareRead));
#ifndef _WIN32
    const NativeString link = dir.Path("link");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    EXPECT_FALSE(file.OpenExistingRegular(link.c_str(), kShareRead));
#endif
}

}  // namespace
