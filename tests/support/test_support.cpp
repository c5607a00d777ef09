#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "crc/crc32.h"
#include "file/memory_file.h"
#include "file/relative_path.h"
#include "file/io.h"
#include "file/velk_file.h"
#include "maker/set_writer.h"
#include "format/payload_text.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

NativeString Native(const std::string& utf8)
{
#ifdef _WIN32
    const std::u16string wide = Utf8ToUtf16(utf8);
    return NativeString(wide.begin(), wide.end());
#else
    return utf8;
#endif
}

TempDir::TempDir()
{
    static std::atomic<int> counter{0};
    std::random_device random;
#ifdef _WIN32
    const long pid = 0;
#else
    const long pid = static_cast<long>(getpid());
#endif
    const std::string name = "velk-test-" + std::to_string(pid) + "-" + std::to_string(random()) + "-" +
                             std::to_string(counter++);
    fs::path root = fs::temp_directory_path() / name;
    fs::create_directories(root);
    m_root = root.native();
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(fs::path(m_root), ignored);
}

NativeString TempDir::Path(const std::string& name) const
{
#ifdef _WIN32
    return m_root + L"\\" + Native(name);
#else
    return m_root + "/" + name;
#endif
}

bool WriteWholeFile(const NativeString& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> ReadWholeFile(const NativeString& path)
{
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool MakeSparseFile(const NativeString& path, int64_t size)
{
    if (!WriteWholeFile(path, {})) return false;
    std::error_code error;
    fs::resize_file(fs::path(path), static_cast<std::uintmax_t>(size), error);
    return !error;
}

bool FileExists(const NativeString& path)
{
    std::error_code error;
    return fs::exists(fs::path(path), error);
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[i] = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::string Printable(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

std::vector<uint8_t> MakeSetBytes(std::vector<SetMember> members, const std::string& anchor, bool asGiven,
                                  const std::u16string& description)
{
    const auto folded = [](const std::string& path) {
        std::string out(path.size() * 4 + 4, '\0');
        out.resize(FoldRelativePath(path.data(), path.size(), &out[0], out.size()));
        return out;
    };
    if (!asGiven)
        std::stable_sort(members.begin(), members.end(), [&](const SetMember& a, const SetMember& b) {
            const std::string fa = folded(a.path), fb = folded(b.path);
            return CompareFoldedPaths(fa.data(), fa.size(), fb.data(), fb.size()) < 0;
        });
    CVELK_MemoryFile out{std::vector<uint8_t>()};
    CVELK_SetWriter writer(out);
    EXPECT_TRUE(writer.Begin());
    uint32_t anchorIndex = 0;
    for (const SetMember& m : members) {
        if (m.path == anchor) anchorIndex = static_cast<uint32_t>(writer.Files());
        CVELK_MemoryFile before(m.before, kAccessRead), after(m.after, kAccessRead);
        if (m.kind == velk_set::Kind::kDelete) {
            const uint32_t crc = ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, m.before.data(), m.before.size());
            writer.AddDeleted(m.path, static_cast<int64_t>(m.before.size()), crc);
        } else {
            EXPECT_EQ(writer.AddChanged(m.path, m.kind == velk_set::Kind::kModify ? &before : nullptr, after),
                      VelkBuildStatus::kOk);
        }
    }
    EXPECT_TRUE(writer.Finish(anchorIndex, description));
    return out.Bytes();
}

std::vector<uint8_t> MakePe(std::vector<std::pair<uint32_t, uint32_t>> sections, uint32_t sizeOfHeaders,
                            uint32_t symbolTable, uint32_t symbols, uint32_t stringBytes, uint32_t certificate,
                            uint32_t certificateSize)
{
    std::vector<uint8_t> image(0x400, 0);
    image[0] = 'M', image[1] = 'Z';
    velk_io::StoreLE(&image[0x3C], 0x80, 4);
    std::memcpy(&image[0x80], "PE\0\0", 4);
    velk_io::StoreLE(&image[0x86], sections.size(), 2);
    velk_io::StoreLE(&image[0x8C], symbolTable, 4);
    velk_io::StoreLE(&image[0x90], symbols, 4);
    velk_io::StoreLE(&image[0x94], 240, 2);  // size of the optional header
    const size_t optional = 0x98;
    velk_io::StoreLE(&image[optional], 0x20B, 2);
    velk_io::StoreLE(&image[optional + 60], sizeOfHeaders, 4);
    velk_io::StoreLE(&image[optional + 108], 16, 4);  // data directories
    velk_io::StoreLE(&image[optional + 112 + 4 * 8], certificate, 4);
    velk_io::StoreLE(&image[optional + 112 + 4 * 8 + 4], certificateSize, 4);
    size_t table = optional + 240;
    uint64_t end = image.size();
    for (auto [pointer, size] : sections) {
        velk_io::StoreLE(&image[table + 16], size, 4);
        velk_io::StoreLE(&image[table + 20], pointer, 4);
        table += 40;
        end = std::max<uint64_t>(end, uint64_t(pointer) + size);
    }
    if (symbolTable != 0) {
        end = std::max<uint64_t>(end, symbolTable + symbols * 18ull + stringBytes);
        image.resize(end, 0x5A);
        velk_io::StoreLE(&image[symbolTable + symbols * 18], stringBytes, 4);
    }
    image.resize(end, 0x5A);
    return image;
}
