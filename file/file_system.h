// The file system as an application sees it: opening its files, and creating, finding, removing
// and making durable the undo journal beside the target. The disk is one implementation
// (DiskFileSystem); tests put files in memory behind the same interface to break any call or
// to cut the power at any call.
#pragma once

#include <memory>

#include "file/native_path.h"
#include "file/velk_xfile.h"

class CVELK_FileSystem {
public:
    virtual ~CVELK_FileSystem() {}

    // An existing file with a mode and share code of CVELK_File::OpenFile; null when it fails.
    virtual std::unique_ptr<CVELK_xFile> Open(const NativeChar* path, int mode, int share) = 0;
    // A new file for reading and writing (CVELK_File::CreateNew); null when the name is taken
    // or the folder refuses.
    virtual std::unique_ptr<CVELK_xFile> CreateNew(const NativeChar* path) = 0;
    // An existing regular file for reading and writing, not through a link
    // (CVELK_File::OpenExistingRegular).
    virtual std::unique_ptr<CVELK_xFile> OpenExistingRegular(const NativeChar* path) = 0;
    // Whether anything has the name: a file, a folder, a link (even one that leads nowhere).
    virtual bool Exists(const NativeChar* path) = 0;
    virtual bool Remove(const NativeChar* path) = 0;
    // Makes the creation or removal of `path` durable. True where the platform keeps folder
    // entries durable by itself or cannot be asked to.
    virtual bool SyncFolderOf(const NativeChar* path) = 0;
};

// The real disk, through CVELK_File; the platform's part (Exists, Remove, SyncFolderOf) is in
// file_system_posix.cpp and file_system_win32.cpp.
class CVELK_DiskFileSystem : public CVELK_FileSystem {
public:
    std::unique_ptr<CVELK_xFile> Open(const NativeChar* path, int mode, int share) override;
    std::unique_ptr<CVELK_xFile> CreateNew(const NativeChar* path) override;
    std::unique_ptr<CVELK_xFile> OpenExistingRegular(const NativeChar* path) override;
    bool Exists(const NativeChar* path) override;
    bool Remove(const NativeChar* path) override;
    bool SyncFolderOf(const NativeChar* path) override;
};

CVELK_FileSystem& DiskFileSystem();
