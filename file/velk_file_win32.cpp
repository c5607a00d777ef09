// Win32 backend of CVELK_File: one kernel32 call per operation.
#include <windows.h>

#include <aclapi.h>

#include "file/short_path.h"
#include "file/velk_file.h"

namespace {

DWORD ShareFlags(int share)
{
    switch (share) {
    case kShareReadWrite: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    case kShareWrite: return FILE_SHARE_WRITE;
    case kShareRead: return FILE_SHARE_READ;
    default: return 0;
    }
}

DWORD Disposition(int mode)
{
    switch (mode) {
    case kModeCreateTruncate: return CREATE_ALWAYS;
    case kModeReadWriteOpenAlways: return OPEN_ALWAYS;
    case CVELK_File::kCreateNew: return CREATE_NEW;  // also refuses a link in its place
    default: return OPEN_EXISTING;
    }
}

}  // namespace

bool CVELK_File::PlatformOpen(const wchar_t* path, int mode, int share)
{
    const DWORD disposition = Disposition(mode);
    HANDLE handle = CreateFileW(path, m_access, ShareFlags(share), nullptr, disposition, 0, nullptr);
    // One retry through the short form of the path, and only when the file was not found.
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        wchar_t retry[kMaxPathUnits];
        const ShortPathDisposition kind =
            disposition == OPEN_EXISTING ? kDispositionOpenExisting : kDispositionCreating;
        if (GetRetryPath(path, kind, retry))
            handle = CreateFileW(retry, m_access, ShareFlags(share), nullptr, disposition, 0, nullptr);
    }
    // CreateFileW reports failure as INVALID_HANDLE_VALUE, not NULL; the object keeps null.
    if (handle == INVALID_HANDLE_VALUE) return false;
    m_handle = handle;
    SetFilePointer(handle, 0, nullptr, mode == kModeReadWriteOpenAlways ? FILE_END : FILE_BEGIN);
    return true;
}

bool CVELK_File::PlatformOpenRegular(const wchar_t* path, int share)
{
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link or junction itself instead of what it
    // leads to, so that it can be refused below.
    const HANDLE handle = CreateFileW(path, GENERIC_READ, ShareFlags(share), nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & refused) != 0) {
        CloseHandle(handle);
        return false;
    }
    m_handle = handle;
    return true;
}

void CVELK_File::PlatformClose()
{
    CloseHandle(m_handle);
}

bool CVELK_File::PlatformFlush()
{
    return FlushFileBuffers(m_handle) != 0;
}

uint32_t CVELK_File::PlatformRead(void* buffer, uint32_t count)
{
    DWORD done = 0;
    if (!ReadFile(m_handle, buffer, count, &done, nullptr)) return 0;
    return done;
}

uint32_t CVELK_File::Read(void* buffer, uint32_t count)
{
    if (!IsOpen()) return 0;
    return PlatformRead(buffer, count);
}

namespace {

OVERLAPPED Offset(int64_t position)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
    return at;
}

}  // namespace

// A synchronous handle reads and writes at the OVERLAPPED offset and leaves its position after
// the bytes moved.
uint32_t CVELK_File::ReadAt(int64_t position, void* buffer, uint32_t count)
{
    if (!IsOpen() || position < 0) return 0;
    OVERLAPPED at = Offset(position);
    DWORD done = 0;
    if (!ReadFile(m_handle, buffer, count, &done, &at)) return 0;
    return done;
}

uint32_t CVELK_File::WriteAt(int64_t position, const void* buffer, uint32_t count)
{
    if (!IsOpen() || position < 0) return 0;
    OVERLAPPED at = Offset(position);
    DWORD done = 0;
    if (!WriteFile(m_handle, buffer, count, &done, &at)) return 0;
    return done;
}

uint32_t CVELK_File::Write(const void* buffer, uint32_t count)
{
    if (!IsOpen()) return 0;
    DWORD done = 0;
    if (!WriteFile(m_handle, buffer, count, &done, nullptr)) return 0;
    return done;
}

int64_t CVELK_File::GetSize()
{
    if (!IsOpen()) return -1;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_handle, &size)) return -1;
    return size.QuadPart;
}

int64_t CVELK_File::Tell()
{
    if (!IsOpen()) return -1;
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(m_handle, zero, &position, FILE_CURRENT)) return -1;
    return position.QuadPart;
}

bool CVELK_File::Seek(int64_t position)
{
    if (!IsOpen() || position < 0) return false;
    LARGE_INTEGER to;
    to.QuadPart = position;
    return SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN) != 0;
}

bool CVELK_File::PlatformSetEndOfFile()
{
    return SetEndOfFile(m_handle) != 0;
}

bool CVELK_File::Reserve(int64_t, int64_t)
{
    // A file is sparse on Windows only when asked to be; otherwise its space is taken when it
    // grows, which SetSize does before any record is written.
    return IsOpen();
}

bool CVELK_File::Describe(VelkFileFacts* facts)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!IsOpen() || !GetFileInformationByHandle(m_handle, &info)) return false;
    *facts = VelkFileFacts();
    facts->volume = info.dwVolumeSerialNumber;
    facts->index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    facts->names = info.nNumberOfLinks;
    // A volume without security (FAT) has no owners: the owner stays unknown.
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(m_handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) == ERROR_SUCCESS) {
        const DWORD length = owner != nullptr && IsValidSid(owner) ? GetLengthSid(owner) : 0;
        if (length <= sizeof facts->owner.id && CopySid(length, facts->owner.id, owner)) facts->owner.length = length;
        LocalFree(descriptor);
    }
    return true;
}
