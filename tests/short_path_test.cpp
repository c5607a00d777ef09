#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "file/short_path.h"
#include "file/velk_file.h"
#include "support/test_support.h"

namespace {

// A file system with 8.3 names: every known long name has a short form, and entries are known by
// their short spelling. A path with a trailing backslash after a file is refused, as on Windows.
class FakeFileSystem : public ShortPathServices<char> {
public:
    void Name(const std::string& longName, const std::string& shortName) { m_short[longName] = shortName; }
    void Folder(const std::string& path) { m_entries[Canonical(path)] = kFileAttributeDirectory; }
    void File(const std::string& path) { m_entries[Canonical(path)] = 0x20; }

    uint32_t ShortName(const char* path, char* out, uint32_t capacity) const override
    {
        ++shortCalls;
        if (Attributes(path) == kInvalidFileAttributes) return 0;
        std::string result = Canonical(path);
        if (!result.empty() && std::string(path).back() == '\\' && result.back() != '\\') result += '\\';
        if (result.size() + 1 > capacity) return static_cast<uint32_t>(result.size() + 1);
        std::copy(result.c_str(), result.c_str() + result.size() + 1, out);
        return static_cast<uint32_t>(result.size());
    }
    uint32_t Attributes(const char* path) const override
    {
        std::string p(path);
        const bool trailing = !p.empty() && p.back() == '\\';
        auto it = m_entries.find(Canonical(p));
        if (it == m_entries.end()) return kInvalidFileAttributes;
        if (trailing && !(it->second & kFileAttributeDirectory) && p.size() > 3) return kInvalidFileAttributes;
        return it->second;
    }

    mutable int shortCalls = 0;

private:
    // Each component in its short form, without a trailing backslash (a drive keeps its own).
    std::string Canonical(std::string path) const
    {
        while (path.size() > 3 && path.back() == '\\') path.pop_back();
        std::string out, name;
        for (size_t i = 0; i <= path.size(); ++i) {
            if (i == path.size() || path[i] == '\\') {
                auto it = m_short.find(name);
                out += it == m_short.end() ? name : it->second;
                if (i != path.size()) out += '\\';
                name.clear();
            } else {
                name += path[i];
            }
        }
        return out;
    }
    std::map<std::string, std::string> m_short;
    std::map<std::string, uint32_t> m_entries;
};

class ShortPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs.Name("Long Folder Name", "LONGFO~1");
        fs.Name("Another Long One", "ANOTHE~1");
        fs.Name("game image.iso", "GAMEIM~1.ISO");
        fs.Folder("C:\\");
        fs.Folder("C:\\Long Folder Name");
        fs.Folder("C:\\Long Folder Name\\Another Long One");
        fs.File("C:\\Long Folder Name\\Another Long One\\game image.iso");
        fs.File("plain.bin");
        fs.Folder("bare folder");
    }
    std::string Short(const std::string& path)
    {
        char out[kMaxPathUnits];
        std::fill(out, out + kMaxPathUnits, 'z');
        bool ok = ToShortPath(path.c_str(), out, fs);
        return ok ? std::string(out) : (out[0] == 0 ? "<fail>" : "<fail, output not emptied>");
    }
    std::string Folder(const std::string& path)
    {
        char out[kMaxPathUnits];
        std::fill(out, out + kMaxPathUnits, 'z');
        bool ok = ToShortFolderPath(path.c_str(), out, fs);
        return ok ? std::string(out) : (out[0] == 0 ? "<fail>" : "<fail, output not emptied>");
    }
    std::string Retry(const std::string& path, ShortPathDisposition disposition)
    {
        char out[kMaxPathUnits];
        return GetRetryPath(path.c_str(), disposition, out, fs) ? std::string(out) : "<none>";
    }
    FakeFileSystem fs;
};

struct Case {
    const char* path;
    const char* shortPath;
    const char* folderPath;
    const char* retryExisting;
    const char* retryCreating;
};

TEST_F(ShortPath, ConversionsAndRetryPaths)
{
    const Case cases[] = {
        {"C:\\Long Folder Name\\Another Long One\\game image.iso",
         "C:\\LONGFO~1\\ANOTHE~1\\GAMEIM~1.ISO", "C:\\LONGFO~1\\ANOTHE~1\\",
         "C:\\LONGFO~1\\ANOTHE~1\\GAMEIM~1.ISO", "C:\\LONGFO~1\\ANOTHE~1\\game image.iso"},
        // A trailing backslash is dropped by the whole-path conversion.
        {"C:\\Long Folder Name\\", "C:\\LONGFO~1", "C:\\LONGFO~1\\", "C:\\LONGFO~1", "C:\\LONGFO~1\\"},
        // The final name does not exist: no retry either way.
        {"C:\\Long Folder Name\\missing.iso", "<fail>", "<fail>", "<none>", "<none>"},
        // A bare name is resolved relative to the current folder; creating opens get no retry.
        {"plain.bin", "plain.bin", "<fail>", "plain.bin", "<none>"},
        {"bare folder", "bare folder", "bare folder\\", "bare folder", "<none>"},
        {"", "<fail>", "<fail>", "<none>", "<none>"},
        // A file name followed by a backslash: the whole-path conversion drops the backslash
        // before asking; the folder conversion asks with it, Windows refuses, and there is no retry.
        {"C:\\Long Folder Name\\Another Long One\\game image.iso\\",
         "C:\\LONGFO~1\\ANOTHE~1\\GAMEIM~1.ISO", "<fail>", "C:\\LONGFO~1\\ANOTHE~1\\GAMEIM~1.ISO",
         "<none>"},
        // Creating in an existing folder whose final name is itself a folder: the name is added
        // once in the folder part and once more by the retry.
        {"C:\\Long Folder Name\\Another Long One", "C:\\LONGFO~1\\ANOTHE~1",
         "C:\\LONGFO~1\\Another Long One\\", "C:\\LONGFO~1\\ANOTHE~1",
         "C:\\LONGFO~1\\Another Long One\\Another Long One"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Short(c.path), c.shortPath);
        EXPECT_EQ(Folder(c.path), c.folderPath);
        EXPECT_EQ(Retry(c.path, kDispositionOpenExisting), c.retryExisting);
        EXPECT_EQ(Retry(c.path, kDispositionCreating), c.retryCreating);
    }
}

TEST_F(ShortPath, LimitCheckAtTwoHundredFiftyNineUnits)
{
    // Names whose short forms equal their long forms: the result has the input's length.
    for (size_t length : {258u, 259u}) {
        SCOPED_TRACE(length);
        const std::string prefix = "C:\\";
        const std::string name(length - prefix.size(), 'n');
        fs.File(prefix + name);
        EXPECT_EQ(Retry(prefix + name, kDispositionOpenExisting), length == 258 ? prefix + name : "<none>");
    }
}

TEST_F(ShortPath, ShortFormThatDoesNotFitIsAFailure)
{
    // A short form longer than the buffer: the platform reports the size it would need.
    const std::string longName(257, 'x');
    fs.Name("a", longName);
    fs.Folder("C:\\a");
    fs.File("C:\\a\\f");
    EXPECT_EQ(Short("C:\\a\\f"), "<fail>");
    EXPECT_EQ(Folder("C:\\a\\f"), "<fail>");
}

TEST_F(ShortPath, OneShortNameLookupPerName)
{
    fs.shortCalls = 0;
    Short("C:\\Long Folder Name\\Another Long One\\game image.iso");
    EXPECT_EQ(fs.shortCalls, 4);
}

// The platform's own services: real 8.3 names under Windows (Wine makes them for long names),
// the path itself elsewhere.
TEST(PlatformShortPath, ExistingFileConvertsAndOpensThroughItsRetryPath)
{
    TempDir dir;
    const NativeString folder = dir.Path("A Folder With A Long Name");
    std::filesystem::create_directories(std::filesystem::path(folder));
#ifdef _WIN32
    const NativeString file = folder + L"\\patched image file.iso";
#else
    const NativeString file = folder + "/patched image file.iso";
#endif
    ASSERT_TRUE(WriteWholeFile(file, {'a', 'b', 'c'}));
    NativeChar out[kMaxPathUnits];
    ASSERT_TRUE(ToShortPath(file.c_str(), out));
    CVELK_File opened;
    ASSERT_TRUE(opened.OpenFile(out, kModeReadExisting, kShareRead));
    EXPECT_EQ(opened.GetCrc32(), 0x352441C2u);
#ifdef _WIN32
    EXPECT_EQ(NativeString(out).find(L"A Folder With A Long Name"), NativeString::npos);
#else
    EXPECT_EQ(NativeString(out), file);
#endif
    const NativeString missing = folder + VELK_NATIVE("/missing");
    EXPECT_FALSE(ToShortPath(missing.c_str(), out));
    EXPECT_EQ(out[0], 0);
}

#ifdef _WIN32
// Wine, like Windows, gives every long name an 8.3 alias; these run against the real ones.

bool IsShortName(const std::wstring& name)
{
    const size_t dot = name.find(L'.');
    const size_t base = dot == std::wstring::npos ? name.size() : dot;
    const size_t extension = dot == std::wstring::npos ? 0 : name.size() - dot - 1;
    return base >= 1 && base <= 8 && extension <= 3 && name.find(L' ') == std::wstring::npos;
}

// Every name after the drive is an 8.3 name.
bool AllNamesShort(const std::wstring& path)
{
    size_t start = path.find(L'\\');
    while (start != std::wstring::npos && start + 1 < path.size()) {
        const size_t end = path.find(L'\\', start + 1);
        const std::wstring name = path.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
        if (!IsShortName(name)) return false;
        start = end;
    }
    return true;
}

TEST(PlatformShortPath, NestedLongFoldersGiveShortNamesThroughout)
{
    TempDir dir;
    std::wstring folder = dir.Root();
    for (const wchar_t* name : {L"First long folder name", L"Second long folder name", L"third.folder.name"}) {
        folder += L"\\";
        folder += name;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    const std::wstring file = folder + L"\\disc image (europe).iso";
    ASSERT_TRUE(WriteWholeFile(file, {'a', 'b', 'c'}));

    wchar_t out[kMaxPathUnits];
    ASSERT_TRUE(ToShortPath(file.c_str(), out));
    EXPECT_TRUE(AllNamesShort(out)) << Printable(std::u16string(reinterpret_cast<const char16_t*>(out)));
    CVELK_File opened;
    ASSERT_TRUE(opened.OpenFile(out, kModeReadExisting, kShareRead));
    EXPECT_EQ(opened.GetCrc32(), 0x352441C2u);
    opened.Close();

    // Creating modes: the folders in short form, the file's name as given. The name has to
    // exist for there to be a retry at all; a missing one gets none.
    const std::wstring created = folder + L"\\new patched image.iso";
    EXPECT_FALSE(GetRetryPath(created.c_str(), kDispositionCreating, out));
    ASSERT_TRUE(WriteWholeFile(created, {'x'}));
    ASSERT_TRUE(GetRetryPath(created.c_str(), kDispositionCreating, out));
    const std::wstring retry(out);
    const size_t lastBackslash = retry.rfind(L'\\');
    EXPECT_TRUE(AllNamesShort(retry.substr(0, lastBackslash)));
    EXPECT_EQ(retry.substr(lastBackslash + 1), L"new patched image.iso");
    CVELK_File writer;
    ASSERT_TRUE(writer.OpenFile(out, kModeCreateTruncate, kShareRead));
    writer.Close();
    EXPECT_TRUE(ReadWholeFile(created).empty());  // the same file, truncated, under its long path
}

TEST(PlatformShortPath, PathLongerThanMaxPathFitsInItsShortForm)
{
    // Five folders of 60 units: over 300 units spelled long, well under 260 spelled short.
    TempDir dir;
    std::wstring folder = L"\\\\?\\" + dir.Root();
    std::wstring plain = dir.Root();
    for (int i = 0; i < 5; ++i) {
        const std::wstring name = L"folder " + std::to_wstring(i) + L" " + std::wstring(50, L'x');
        folder += L"\\" + name;
        plain += L"\\" + name;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    }
    const std::wstring file = plain + L"\\game image.iso";
    ASSERT_GT(file.size(), 300u);
    {
        HANDLE h = CreateFileW((folder + L"\\game image.iso").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(h, "abc", 3, &written, nullptr);
        CloseHandle(h);
    }
    wchar_t out[kMaxPathUnits];
    ASSERT_TRUE(ToShortPath(file.c_str(), out));
    EXPECT_LT(wcslen(out), 260u);
    CVELK_File opened;
    ASSERT_TRUE(opened.OpenFile(out, kModeReadExisting, kShareRead));
    EXPECT_EQ(opened.GetCrc32(), 0x352441C2u);
    opened.Close();

    // The long tree has to go through the \\?\ form to be removed.
    std::wstring remove = folder + L"\\game image.iso";
    DeleteFileW(remove.c_str());
    for (int i = 0; i < 5; ++i) {
        RemoveDirectoryW(folder.c_str());
        folder.resize(folder.rfind(L'\\'));
    }
}
#endif

}  // namespace
