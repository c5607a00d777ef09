// Large and odd targets, on every platform: sparse images past 4 GiB and past 2^40 bytes,
// names in Chinese and other scripts, and targets that cannot be opened for patching.
#include <gtest/gtest.h>

#include <filesystem>

#include "apply/application.h"
#include "apply/messages.h"
#include "crc/crc32.h"
#include "file/velk_file.h"
#include "maker/payload_writer.h"
#include "support/payload_builder.h"
#include "support/test_support.h"

namespace {

using namespace velk_messages;
namespace fs = std::filesystem;

std::vector<std::u16string> ApplyFiles(const NativeString& source, const NativeString& target)
{
    RecordingOwner owner(true);
    CVELK_IPS_IN applier(owner);
    applier.ApplyPatch(source.c_str(), target.c_str(), 0);
    return owner.messages;
}

NativeString Join(const NativeString& folder, const char* name)
{
    return (fs::path(folder) / fs::path(Native(name))).native();
}

std::vector<uint8_t> ReadAt(const NativeString& path, int64_t position, uint32_t count)
{
    CVELK_File file;
    std::vector<uint8_t> bytes(count);
    if (!file.OpenFile(path.c_str(), kModeReadExisting, kShareRead) || !file.Seek(position)) return {};
    bytes.resize(file.Read(bytes.data(), count));
    return bytes;
}

// A sparse file of `size` bytes. The MinGW runtime's resize stops short of 2^40; there the file
// is extended through the engine, whose Windows SetSize reserves nothing. (On POSIX it reserves
// the added range, which for a huge size would take the whole disk, so it is not used there.)
bool MakeHugeSparseFile(const NativeString& path, int64_t size)
{
    if (MakeSparseFile(path, size)) return true;
#ifdef _WIN32
    CVELK_File file;
    return file.OpenFile(path.c_str(), kModeCreateTruncate, kShareNone) && file.SetSize(size);
#else
    return false;
#endif
}

struct HugeCase {
    const char* name;
    int64_t imageSize;    // the sparse image before patching
    int64_t patchedSize;  // a little larger: only the added range is reserved on disk
};

// Records that land past 4 GiB and past 2^40, reached by absolute positions and by deltas that
// carry over 32 bits; the resize to a size beyond either; and the bytes read back in place.
TEST(HugeTargets, RecordsAndResizeFarOut)
{
    const HugeCase cases[] = {
        {"past 4 GiB", (4ll << 30) + 100, (4ll << 30) + 4096},
        {"past 2^40", (1ll << 40) + 100, (1ll << 40) + 4096},
    };
    for (const HugeCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const NativeString source = dir.Path("patch.bin"), target = dir.Path("image.iso");
        if (!MakeHugeSparseFile(target, c.imageSize)) {
            std::printf("skipped %s: the file system here does not take a sparse file that large\n", c.name);
            continue;
        }
        const uint64_t top = static_cast<uint64_t>(c.patchedSize);
        const std::vector<VelkRecord> records = {
            {0, {0x11}},
            {0xFFFFFFFFull, {0x22, 0x23}},    // straddles the 4 GiB line
            {top - 1, {0x44}},                // the very last byte
            {top - 3000, {0x33}},             // backwards (an absolute record), in the added range
            {top / 2, {0x55, 0x56, 0x57}},
            {top - 2000, {0x66, 0x67}},       // a delta from top / 2: crosses 4 GiB in the first case
        };
        ASSERT_TRUE(WriteWholeFile(source, BuildPayload(c.patchedSize, 0, records)));
        ASSERT_EQ(ApplyFiles(source, target), std::vector<std::u16string>{kSuccess});

        CVELK_File check;
        ASSERT_TRUE(check.OpenFile(target.c_str(), kModeReadExisting, kShareRead));
        EXPECT_EQ(check.GetSize(), c.patchedSize);
        for (const VelkRecord& r : records) {
            EXPECT_EQ(ReadAt(target, static_cast<int64_t>(r.position), static_cast<uint32_t>(r.data.size())), r.data)
                << "at " << r.position;
        }
        // Untouched stretches stay zero (a hole), on both sides of a record.
        EXPECT_EQ(ReadAt(target, static_cast<int64_t>(top / 2 - 2), 2), std::vector<uint8_t>(2, 0));
        EXPECT_EQ(ReadAt(target, static_cast<int64_t>(top - 2500), 3), std::vector<uint8_t>(3, 0));
    }
}

// The whole-file CRC over more than 4 GiB is the CRC of every byte, and leaves the position
// where it was, even when that lies past 4 GiB.
TEST(HugeTargets, WholeFileCrcPastFourGiB)
{
    TempDir dir;
    const NativeString path = dir.Path("big.img");
    const int64_t size = (4ll << 30) + 3 * 4096 + 7;
    ASSERT_TRUE(MakeSparseFile(path, size));
    const std::vector<uint8_t> tail = PatternBytes(4096 + 7, 31);
    CVELK_File file;
    ASSERT_TRUE(file.OpenFile(path.c_str(), kModeReadWriteExisting, kShareRead));
    ASSERT_TRUE(file.Seek(size - static_cast<int64_t>(tail.size())));
    ASSERT_EQ(file.Write(tail.data(), static_cast<uint32_t>(tail.size())), tail.size());

    // The expected value, fed in a different chunking from the file's own.
    _m_CRC32 crc;
    const std::vector<uint8_t> zeros(3u << 20, 0);
    uint32_t expected = 0;
    for (int64_t left = size - static_cast<int64_t>(tail.size()); left > 0;) {
        const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(left, static_cast<int64_t>(zeros.size())));
        expected = crc.Update(zeros.data(), n);
        left -= n;
    }
    expected = crc.Update(tail.data(), static_cast<uint32_t>(tail.size()));

    const int64_t far = (4ll << 30) + 1234;
    ASSERT_TRUE(file.Seek(far));
    EXPECT_EQ(file.GetCrc32(), expected);
    EXPECT_EQ(file.Tell(), far);
}

// Names outside ASCII on both platforms: the patch, the target and the folder they are in.
TEST(OddNames, ApplyWithNonAsciiNames)
{
    struct Names {
        const char* folder;
        const char* patch;
        const char* target;
    };
    const Names names[] = {
        {"汉化补丁", "补丁 v1.2 (简体中文).exe", "游戏光盘镜像.iso"},
        {"ゲーム", "パッチ.bin", "ディスク イメージ.img"},
        {"Ünïcödé ñame", "Ελληνικά патч.exe", "עברית-עربي.rom"},
        {"emoji 🎮", "patch 🩹.exe", "disc 💿 image.iso"},  // outside the BMP: surrogate pairs on Windows
    };
    const std::vector<uint8_t> image = PatternBytes(4000, 8);
    const std::vector<uint8_t> payload = BuildPayload(4100, 0, {{10, {1, 2, 3}}, {4095, {9}}});
    for (const Names& n : names) {
        SCOPED_TRACE(n.target);
        TempDir dir;
        const NativeString folder = dir.Path(n.folder);
        ASSERT_TRUE(fs::create_directory(fs::path(folder)));
        const NativeString source = Join(folder, n.patch), target = Join(folder, n.target);
        ASSERT_TRUE(WriteWholeFile(source, payload));
        ASSERT_TRUE(WriteWholeFile(target, image));
        EXPECT_EQ(ApplyFiles(source, target), std::vector<std::u16string>{kSuccess});
        const std::vector<uint8_t> patched = ReadWholeFile(target);
        ASSERT_EQ(patched.size(), 4100u);
        EXPECT_EQ(patched[11], 2);
        EXPECT_EQ(patched[4095], 9);
    }
}

// Targets that cannot be opened for writing: one message, nothing changed anywhere.
TEST(UnopenableTargets, FolderMissingAndReadOnly)
{
    TempDir dir;
    const NativeString source = dir.Path("patch.bin");
    const std::vector<uint8_t> payload = BuildPayload(10, 0, {{1, {7}}});
    ASSERT_TRUE(WriteWholeFile(source, payload));

    const NativeString folder = dir.Path("a folder.iso");
    ASSERT_TRUE(fs::create_directory(fs::path(folder)));
    EXPECT_EQ(ApplyFiles(source, folder), std::vector<std::u16string>{kTargetOpenFailed});
    EXPECT_TRUE(fs::is_directory(fs::path(folder)));

    EXPECT_EQ(ApplyFiles(source, dir.Path("missing.iso")), std::vector<std::u16string>{kTargetOpenFailed});
    EXPECT_FALSE(FileExists(dir.Path("missing.iso")));  // an existing file is required, none is made

    // Read-only by its attributes. (A POSIX superuser ignores permission bits; the POSIX tests
    // check that case as an ordinary user.)
    const NativeString readOnly = dir.Path("read-only.iso");
    const std::vector<uint8_t> image = PatternBytes(100, 4);
    ASSERT_TRUE(WriteWholeFile(readOnly, image));
    fs::permissions(fs::path(readOnly), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    CVELK_File probe;
    if (probe.OpenFile(readOnly.c_str(), kModeReadWriteExisting, kShareRead)) {
        probe.Close();
        std::printf("skipped the read-only attribute: this user may write read-only files (a superuser, also under Wine)\n");
    } else {
        EXPECT_EQ(ApplyFiles(source, readOnly), std::vector<std::u16string>{kTargetOpenFailed});
        EXPECT_EQ(ReadWholeFile(readOnly), image);
    }
    fs::permissions(fs::path(readOnly), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(ReadWholeFile(source), payload);
}

}  // namespace
