#include <gtest/gtest.h>

#include <filesystem>

#include "file/io.h"
#include "file/memory_file.h"
#include "format/payload_locator.h"
#include "maker/pe_signature.h"
#include "support/fault_file.h"
#include "support/payload_builder.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using velk_io::StoreLE;

struct PeCase {
    const char* name;
    std::vector<uint8_t> image;
    int64_t end;
};

TEST(PayloadLocator, PeImageEnd)
{
    const PeCase cases[] = {
        {"sections", MakePe({{0x400, 0x200}, {0x600, 0x1000}}, 0x400), 0x1600},
        {"sections out of order", MakePe({{0x2000, 0x200}, {0x400, 0x100}}, 0x400), 0x2200},
        {"empty section ignored", MakePe({{0x400, 0x200}, {0x9000, 0}}, 0x400), 0x600},
        {"headers only", MakePe({}, 0x400), 0x400},
        {"symbol and string table", MakePe({{0x400, 0x200}}, 0x400, 0x600, 10, 0x30), 0x600 + 180 + 0x30},
        {"signature right after the image", MakePe({{0x400, 0x200}}, 0x400, 0, 0, 4, 0x600, 0x88), 0x688},
    };
    for (const PeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> file = c.image;
        file.resize(static_cast<size_t>(c.end), 0);
        const std::vector<uint8_t> payload = PayloadBytes().Header(1, 0).End().bytes;
        file.insert(file.end(), payload.begin(), payload.end());
        CVELK_MemoryFile memory(file);
        EXPECT_EQ(FindPayloadOffset(memory), c.end);
        // A pipe or a network share may deliver any read in parts.
        CVELK_FaultSwitch halves(FaultPlan{FaultOp::kRead, 1, FaultKind::kShortFromThen});
        CVELK_FaultFile split(memory, halves);
        EXPECT_EQ(FindPayloadOffset(split), c.end);
    }
}

TEST(PayloadLocator, SignatureAfterThePayloadIsNotPartOfTheImage)
{
    // Signed after the payload was appended: the signature starts past the image's end.
    std::vector<uint8_t> file = MakePe({{0x400, 0x200}}, 0x400, 0, 0, 4, 0x700, 0x88);
    file.resize(0x788, 0);
    CVELK_MemoryFile memory(file);
    EXPECT_EQ(FindPayloadOffset(memory), 0x600);
}

TEST(PayloadLocator, NoCertificateEntryWithoutTheFifthDirectory)
{
    // The bytes where the entry would be belong to the section table when there are only four
    // data directories: they are not a signature.
    std::vector<uint8_t> file = MakePe({{0x400, 0x200}}, 0x400, 0, 0, 4, 0x600, 0x88);
    StoreLE(&file[0x98 + 108], 4, 4);
    file.resize(0x688, 0);
    CVELK_MemoryFile memory(file);
    PeSignatureFields fields;
    EXPECT_FALSE(FindPeSignatureFields(memory, &fields));
    EXPECT_EQ(FindPayloadOffset(memory), 0x600);
}

// A patch (or stub) signed the way signing tools do it: the file padded to 8 bytes, a
// certificate table appended, the entry pointing at it and the checksum rewritten.
std::vector<uint8_t> Signed(std::vector<uint8_t> file)
{
    CVELK_MemoryFile probe(file);
    PeSignatureFields fields;
    EXPECT_TRUE(FindPeSignatureFields(probe, &fields));
    file.resize((file.size() + 7) & ~size_t(7), 0);
    StoreLE(&file[fields.entryAt], file.size(), 4);
    StoreLE(&file[fields.entryAt + 4], 0x90, 4);
    StoreLE(&file[fields.checksumAt], 0xDEADBEEF, 4);
    file.insert(file.end(), 0x90, 0xC5);
    return file;
}

std::vector<uint8_t> WithPayload(std::vector<uint8_t> image)
{
    const std::vector<uint8_t> payload = PayloadBytes().Header(1, 0).End().bytes;
    image.insert(image.end(), payload.begin(), payload.end());
    return image;
}

// What create copies from a signed patch and makes of it: the executable part, unsigned.
std::vector<uint8_t> UnsignedImageOf(const std::vector<uint8_t>& signedPatch)
{
    CVELK_MemoryFile patch(signedPatch);
    const int64_t image = FindPayloadOffset(patch);
    CVELK_MemoryFile copy(std::vector<uint8_t>(signedPatch.begin(), signedPatch.begin() + image));
    EXPECT_EQ(RemovePeSignature(copy, image), image);
    EXPECT_EQ(copy.Tell(), image);
    return copy.Bytes();
}

uint32_t ChecksumOf(const std::vector<uint8_t>& file)
{
    return static_cast<uint32_t>(velk_io::LoadLE(&file[0x98 + 64], 4));
}

TEST(PeSignature, SignedPatchGivesBackItsImage)
{
    const std::vector<uint8_t> image = MakePe({{0x400, 0x200}}, 0x400);
    const std::vector<uint8_t> unsignedImage = UnsignedImageOf(Signed(WithPayload(image)));
    std::vector<uint8_t> expected = image;
    StoreLE(&expected[0x98 + 64], ChecksumOf(unsignedImage), 4);
    EXPECT_EQ(unsignedImage, expected);
    EXPECT_NE(ChecksumOf(unsignedImage), 0xDEADBEEFu);

    // The same image signed on its own: the table right behind it is cut off, and the checksum
    // comes out the same.
    const std::vector<uint8_t> signedStub = Signed(image);
    CVELK_MemoryFile stub(signedStub);
    ASSERT_EQ(FindPayloadOffset(stub), static_cast<int64_t>(signedStub.size()));
    EXPECT_EQ(RemovePeSignature(stub, static_cast<int64_t>(signedStub.size())), static_cast<int64_t>(image.size()));
    EXPECT_EQ(stub.Bytes(), unsignedImage);

    CVELK_MemoryFile readOnly(signedStub, kAccessRead);
    EXPECT_EQ(RemovePeSignature(readOnly, static_cast<int64_t>(signedStub.size())), -1);
}

TEST(PayloadLocator, NonExecutablesAreBarePayloads)
{
    const std::vector<std::vector<uint8_t>> files = {
        {},
        PayloadBytes().Header(1, 0).End().bytes,
        {'M', 'Z'},                     // too short to be an executable
        std::vector<uint8_t>(64, 'M'),  // no PE signature behind it
    };
    for (const auto& bytes : files) {
        CVELK_MemoryFile memory(bytes);
        EXPECT_EQ(FindPayloadOffset(memory), 0);
    }
    CVELK_MemoryFile closed;
    EXPECT_EQ(FindPayloadOffset(closed), -1);
}

#ifdef _WIN32
NativeString SelfPath()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}
#else
NativeString SelfPath()
{
    return std::filesystem::read_symlink("/proc/self/exe").string();
}
#endif

// The test program itself (ELF natively, PE under Wine): its image ends where the file ends,
// and a copy with a payload appended finds the payload there.
TEST(PayloadLocator, RealExecutableWithAndWithoutPayload)
{
    const NativeString self = SelfPath();
    const std::vector<uint8_t> bytes = ReadWholeFile(self);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(FindPayloadOffset(self.c_str()), static_cast<int64_t>(bytes.size()));

    TempDir dir;
    std::vector<uint8_t> patched = bytes;
    const std::vector<uint8_t> payload = PayloadBytes().Header(1, 0).End().bytes;
    patched.insert(patched.end(), payload.begin(), payload.end());
    const NativeString copy = dir.Path("patch.exe");
    ASSERT_TRUE(WriteWholeFile(copy, patched));
    EXPECT_EQ(FindPayloadOffset(copy.c_str()), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(FindPayloadOffset(dir.Path("missing").c_str()), -1);
}

// The linker's own checksum is the reference: a real executable, signed with a payload behind
// it, gives back what the linker wrote byte for byte. Natively the test program is no PE file.
TEST(PeSignature, RealExecutableComesBackAsLinked)
{
    const std::vector<uint8_t> self = ReadWholeFile(SelfPath());
    CVELK_MemoryFile probe(self);
    PeSignatureFields fields;
    if (!FindPeSignatureFields(probe, &fields)) GTEST_SKIP() << "not a PE file";
    ASSERT_EQ(fields.tableSize, 0u);
    ASSERT_NE(velk_io::LoadLE(&self[fields.checksumAt], 4), 0u) << "the linker wrote no checksum";
    EXPECT_EQ(UnsignedImageOf(Signed(WithPayload(self))), self);
}

}  // namespace
