// Win32 part of the disk file system: folder entries, links and owners.
#include <windows.h>

#include <cwchar>

#include "file/file_system.h"

bool CVELK_DiskFileSystem::Exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool CVELK_DiskFileSystem::Remove(const wchar_t* path)
{
    return DeleteFileW(path) != 0;
}

// Windows has no call that syncs a folder entry: NTFS logs the change in its own metadata journal,
// which FlushFileBuffers on a file of that volume commits.
bool CVELK_DiskFileSystem::SyncFolderOf(const wchar_t*)
{
    return true;
}

// The final path of what the name opens, links and junctions followed, drive letters rather than
// volume names. Without the long-path prefix where it is a plain drive path, so that the journal's
// name is the one a user sees.
bool CVELK_DiskFileSystem::ResolveLinks(const wchar_t* path, VelkPath* resolved)
{
    // Only a name that is itself a link (a reparse point) names a file elsewhere.
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    const HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    wchar_t final[32768];
    const DWORD length = GetFinalPathNameByHandleW(handle, final, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (length == 0 || length >= 32768) return false;
    const wchar_t* text = final;
    if (std::wcsncmp(text, L"\\\\?\\", 4) == 0 && text[5] == L':') text += 4;
    const wchar_t* end = final + length + 1;
    resolved->assign(text, end);
    return true;
}

// The administrators (who own what an elevated program makes), the system, and the user this
// program runs as.
bool CVELK_DiskFileSystem::OwnerSpeaksForAll(const VelkFileOwner& owner)
{
    if (owner.length == 0) return false;
    PSID sid = const_cast<uint8_t*>(owner.id);
    if (!IsValidSid(sid)) return false;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid)) return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(8) uint8_t user[256];
    DWORD size = 0;
    const bool mine = GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
                      EqualSid(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, sid);
    CloseHandle(token);
    return mine;
}

VelkPathKind CVELK_DiskFileSystem::KindOf(const wchar_t* path)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? VelkPathKind::kMissing
                                                                                : VelkPathKind::kOther;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return VelkPathKind::kLink;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? VelkPathKind::kFolder : VelkPathKind::kFile;
}

bool CVELK_DiskFileSystem::CreateFolder(const wchar_t* path)
{
    return CreateDirectoryW(path, nullptr) != 0;
}

bool CVELK_DiskFileSystem::RemoveFolder(const wchar_t* path)
{
    return RemoveDirectoryW(path) != 0;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails where the new name is taken.
bool CVELK_DiskFileSystem::MoveAside(const wchar_t* from, const wchar_t* to)
{
    return MoveFileExW(from, to, MOVEFILE_WRITE_THROUGH) != 0;
}
