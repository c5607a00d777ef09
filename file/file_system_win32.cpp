// Win32 part of the disk file system: folder entries.
#include <windows.h>

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
