#include <windows.h>

#include <atomic>
#include <vector>

#include "cli/platform.h"
#include "format/payload_text.h"

namespace velk_cli {

namespace {

HANDLE Handle(Stream stream)
{
    switch (stream) {
    case Stream::kIn: return GetStdHandle(STD_INPUT_HANDLE);
    case Stream::kOut: return GetStdHandle(STD_OUTPUT_HANDLE);
    default: return GetStdHandle(STD_ERROR_HANDLE);
    }
}

bool IsConsole(HANDLE handle)
{
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

std::wstring Wide(const std::string& utf8)
{
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::atomic<bool> g_interrupted{false};
// Signalled by CleanupDone; a manual-reset event, so that every handler call returns, late ones too.
HANDLE g_cleanupDone = nullptr;

// The system ends a process once its handler returns from a close, logoff or shutdown event, or
// when the system's allowance runs out: SPI_GETHUNGAPPTIMEOUT for a close, SPI_GETWAITTOKILLTIMEOUT
// for logoff and shutdown (5 s each by default), 20 s for a service at shutdown. The handler holds
// on at most that long, for a system that would wait for it forever.
constexpr DWORD kLongestAllowanceMs = 20000;

// A handle that sees the file itself, not its contents: enough to ask for its identity.
HANDLE OpenForIdentity(const NativeString& path)
{
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A failed open that says the path names nothing; any other failure (access denied, a file
// about to be deleted) says nothing about what is there.
bool NamesNothing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

}  // namespace

bool IsTerminal(Stream stream)
{
    return IsConsole(Handle(stream));
}

bool WriteText(Stream stream, const std::string& utf8)
{
    const HANDLE handle = Handle(stream);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    // The console takes UTF-16 whatever its code page; a pipe or file gets UTF-8.
    if (IsConsole(handle)) {
        std::wstring text;
        for (wchar_t c : Wide(utf8)) {
            if (c == L'\n') text += L'\r';
            text += c;
        }
        DWORD written = 0;
        return WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
    }
    std::string bytes;
    bytes.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return true;
}

bool ReadTerminalLine(std::string* line)
{
    line->clear();
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::u16string text;
    for (;;) {
        wchar_t c;
        DWORD got = 0;
        if (!ReadConsoleW(input, &c, 1, &got, nullptr) || got == 0 || g_interrupted) break;
        if (c == L'\n') {
            *line = Utf16ToUtf8(text);
            return true;
        }
        if (c != L'\r') text += static_cast<char16_t>(c);
    }
    *line = Utf16ToUtf8(text);
    return !text.empty();
}

NativeString ExecutableFolder()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return NativeString();
        if (n < buffer.size()) break;
        buffer.resize(buffer.size() * 2);
    }
    NativeString path(buffer.data());
    const size_t slash = path.find_last_of(L"\\/");
    return slash == NativeString::npos ? NativeString() : path.substr(0, slash);
}

Sameness SameFile(const NativeString& a, const NativeString& b)
{
    const HANDLE first = OpenForIdentity(a);
    if (first == INVALID_HANDLE_VALUE) return NamesNothing(GetLastError()) ? Sameness::kDifferent : Sameness::kUnknown;
    const HANDLE second = OpenForIdentity(b);
    if (second == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(first);
        return NamesNothing(error) ? Sameness::kDifferent : Sameness::kUnknown;
    }
    BY_HANDLE_FILE_INFORMATION x, y;
    Sameness result = Sameness::kUnknown;
    if (GetFileInformationByHandle(first, &x) && GetFileInformationByHandle(second, &y))
        result = x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
                         x.nFileIndexLow == y.nFileIndexLow
                     ? Sameness::kSame
                     : Sameness::kDifferent;
    CloseHandle(first);
    CloseHandle(second);
    return result;
}

bool FileExists(const NativeString& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileKind KindOfFile(const NativeString& path)
{
    const HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE) return NamesNothing(GetLastError()) ? FileKind::kMissing : FileKind::kUnknown;
    // Devices (NUL, CON) and pipes open like files; only a disk file that is no folder is regular.
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    return regular ? FileKind::kRegular : FileKind::kOther;
}

bool IsFolder(const NativeString& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadSmallFile(const NativeString& path, size_t limit, std::string* bytes)
{
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    char buffer[16384];
    bool ok = true;
    while (bytes->size() <= limit) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
            ok = GetLastError() == ERROR_BROKEN_PIPE;  // a pipe's writer has finished
            break;
        }
        if (got == 0) break;
        bytes->append(buffer, got);
    }
    CloseHandle(handle);
    if (bytes->size() > limit + 1) bytes->resize(limit + 1);
    return ok;
}

NativeString FollowLinks(const NativeString& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    // Opening goes through the link; the handle then tells the final path (as \\?\C:\...).
    const HANDLE handle = OpenForIdentity(path);
    if (handle == INVALID_HANDLE_VALUE) return path;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(handle);
    return n > 0 && n < buffer.size() ? NativeString(buffer.data(), n) : path;
}

// NTFS, FAT32 and exFAT all take names of 255 UTF-16 units.
size_t NameLimit(const NativeString&)
{
    return 255;
}

void AdoptPermissions(CVELK_File&, const NativeString&, bool) {}

bool RenameOver(const NativeString& from, const NativeString& to)
{
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

uint32_t ProcessId()
{
    return GetCurrentProcessId();
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_interrupted = true;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;  // the work stops by itself
    // Close, logoff or shutdown: returning ends the process, so not before the cleanup is done.
    if (g_cleanupDone != nullptr) WaitForSingleObject(g_cleanupDone, kLongestAllowanceMs);
    return TRUE;
}

void CatchInterrupts()
{
    if (g_cleanupDone == nullptr) g_cleanupDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool Interrupted()
{
    return g_interrupted;
}

void CleanupDone()
{
    if (g_cleanupDone != nullptr) SetEvent(g_cleanupDone);
}

std::string Display(const NativeString& path)
{
    return ToUtf8(path);
}

std::string ToUtf8(const NativeString& text)
{
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace velk_cli
