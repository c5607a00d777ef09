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

// Appends a path given in UTF-8 with '/' between its parts, in the platform's own text and with
// its separator (the path itself is not NUL-terminated, nor is the result).
void AppendUtf8Path(VelkPath* path, const char* utf8, size_t bytes);
// The separator of the platform's paths.
#ifdef _WIN32
constexpr NativeChar kPathSeparator = L'\\';
#else
constexpr NativeChar kPathSeparator = '/';
#endif

// The folder `levels` folders above the one `path` lies in, ending in a separator (empty: the
// current folder). False where the path does not have that many folders above it.
bool FolderAbove(const NativeChar* path, uint32_t levels, VelkPath* folder);

// What a name stands for, links not followed.
enum class VelkPathKind { kMissing, kFile, kFolder, kLink, kOther };

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

    // For the members of a set. A folder that cannot be examined counts as kOther.
    virtual VelkPathKind KindOf(const NativeChar* path) = 0;
    virtual bool CreateFolder(const NativeChar* path) = 0;
    // Only an empty folder.
    virtual bool RemoveFolder(const NativeChar* path) = 0;
    // Gives a file another name in the same folder, never over a name that is taken.
    virtual bool MoveAside(const NativeChar* from, const NativeChar* to) = 0;
};

// `root` (a folder, ending in a separator, without a NUL) and then a relative path in UTF-8 with
// '/' between its folders. NUL-terminated.
VelkPath PathUnder(const VelkPath& root, const char* utf8, size_t bytes);
// Where `path` leads when it is a link; `path` itself otherwise, or where it cannot be followed.
// NUL-terminated.
VelkPath ResolvedPath(CVELK_FileSystem& files, const NativeChar* path);
// `path` with `suffix` after its name. NUL-terminated.
VelkPath WithSuffix(const NativeChar* path, const NativeChar* suffix);
// The path of a file that lies beside `path` and is named after it with `suffix`: beside the
// file itself where `path` is a link. NUL-terminated.
VelkPath PathBeside(CVELK_FileSystem& files, const NativeChar* path, const NativeChar* suffix);

// The real disk, through CVELK_File; the platform's part (Exists, Remove, SyncFolderOf,
// ResolveLinks, OwnerSpeaksForAll, KindOf, CreateFolder, RemoveFolder, MoveAside) is in
// file_system_posix.cpp and file_system_win32.cpp.
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
    VelkPathKind KindOf(const NativeChar* path) override;
    bool CreateFolder(const NativeChar* path) override;
    bool RemoveFolder(const NativeChar* path) override;
    bool MoveAside(const NativeChar* from, const NativeChar* to) override;
};

CVELK_FileSystem& DiskFileSystem();
