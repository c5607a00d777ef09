// The file system as an application sees it: opening its files, and creating, finding, removing
// and making durable the undo journal beside the target. The disk is one implementation
// (DiskFileSystem); tests put files in memory behind the same interface to break any call or
// to cut the power at any call.
#pragma once

#include <memory>
#include <vector>

#include "file/native_path.h"
#include "file/velk_xfile.h"

// A path as the engine keeps it: the units and a terminating NUL. (A NativeString in the
// engine's own code would bring the wide string class into the patch program.)
using VelkPath = std::vector<NativeChar>;

class CVELK_FileSystem {
public:
    virtual ~CVELK_FileSystem() {}

    // An existing file with a mode and share code of CVELK_File::OpenFile; null when it fails.
    virtual std::unique_ptr<CVELK_xFile> Open(const NativeChar* path, int mode, int share) = 0;
    // A new file for reading and writing (CVELK_File::CreateNew) with the POSIX `permissions`;
    // null when the name is taken or the folder refuses.
    virtual std::unique_ptr<CVELK_xFile> CreateNew(const NativeChar* path, uint32_t permissions) = 0;
    // An existing regular file for reading, not through a link (CVELK_File::OpenExistingRegular).
    virtual std::unique_ptr<CVELK_xFile> OpenExistingRegular(const NativeChar* path) = 0;
    // Whether anything has the name: a file, a folder, a link (even one that leads nowhere).
    virtual bool Exists(const NativeChar* path) = 0;
    virtual bool Remove(const NativeChar* path) = 0;
    // Makes the creation or removal of `path` durable. True where the platform keeps folder
    // entries durable by itself or cannot be asked to.
    virtual bool SyncFolderOf(const NativeChar* path) = 0;
    // Where `path` names a symbolic link, the path of the file it leads to (through every link),
    // so that a link and the file's own name give one answer. False, and nothing set, where the
    // name is no link (a link to a folder on the way leads to the same folder whatever the path)
    // or it cannot be told.
    virtual bool ResolveLinks(const NativeChar* path, VelkPath* resolved) = 0;
    // Whether a file of this owner speaks for anyone's files: the superuser's or the
    // administrators', and the user this program runs as (who may write whatever it opens).
    virtual bool OwnerSpeaksForAll(const VelkFileOwner& owner) = 0;
};

// The real disk, through CVELK_File; the platform's part (Exists, Remove, SyncFolderOf,
// ResolveLinks, OwnerSpeaksForAll) is in file_system_posix.cpp and file_system_win32.cpp.
class CVELK_DiskFileSystem : public CVELK_FileSystem {
public:
    std::unique_ptr<CVELK_xFile> Open(const NativeChar* path, int mode, int share) override;
    std::unique_ptr<CVELK_xFile> CreateNew(const NativeChar* path, uint32_t permissions) override;
    std::unique_ptr<CVELK_xFile> OpenExistingRegular(const NativeChar* path) override;
    bool Exists(const NativeChar* path) override;
    bool Remove(const NativeChar* path) override;
    bool SyncFolderOf(const NativeChar* path) override;
    bool ResolveLinks(const NativeChar* path, VelkPath* resolved) override;
    bool OwnerSpeaksForAll(const VelkFileOwner& owner) override;
};

CVELK_FileSystem& DiskFileSystem();
