// Win32 part of listing a folder.
#include <windows.h>

#include "file/folder_list.h"

bool ListFolder(const NativeString& folder, std::vector<VelkFolderItem>* items)
{
    NativeString pattern = folder;
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    items->clear();
    do {
        const NativeString name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        VelkFolderItem item;
        item.name = name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            item.kind = VelkPathKind::kLink;
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            item.kind = VelkPathKind::kFolder;
        else
            item.kind = VelkPathKind::kFile;
        item.size = static_cast<int64_t>(uint64_t(found.nFileSizeHigh) << 32 | found.nFileSizeLow);
        items->push_back(item);
    } while (FindNextFileW(find, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
}
