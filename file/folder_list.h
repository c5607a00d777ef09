// What a folder holds, for making a set from two folder trees.
#pragma once

#include <cstdint>
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
