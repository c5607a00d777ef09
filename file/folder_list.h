// What a folder holds, for making a set from two folder trees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file/file_system.h"
#include "file/native_path.h"

struct VelkFolderItem {
    NativeString name;  // the name alone, in the platform's own text
    VelkPathKind kind = VelkPathKind::kOther;
    int64_t size = 0;  // for a file
};

// The items of `folder`, "." and ".." left out, in no particular order. False when the folder
// cannot be read.
bool ListFolder(const NativeString& folder, std::vector<VelkFolderItem>* items);

// `folder`, a separator unless it ends in one, and `name`.
inline NativeString InFolder(const NativeString& folder, const NativeString& name)
{
    NativeString path = folder;
    if (!path.empty() && path.back() != kPathSeparator && path.back() != static_cast<NativeChar>('/'))
        path += kPathSeparator;
    return path + name;
}

// The same for a relative path in UTF-8 with '/' between its folders, as a set names its files.
inline NativeString InFolderUtf8(const NativeString& folder, const char* utf8, size_t bytes)
{
    VelkPath relative;
    AppendUtf8Path(&relative, utf8, bytes);
    return InFolder(folder, NativeString(relative.begin(), relative.end()));
}
inline NativeString InFolderUtf8(const NativeString& folder, const std::string& utf8)
{
    return InFolderUtf8(folder, utf8.data(), utf8.size());
}
