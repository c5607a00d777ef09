#include "file/file_system.h"

#include "file/utf8.h"
#include "file/velk_file.h"

namespace {

std::unique_ptr<CVELK_xFile> IfOpened(std::unique_ptr<CVELK_File> file)
{
    if (!file->IsOpen()) return nullptr;
    return file;
}

}  // namespace

std::unique_ptr<CVELK_xFile> CVELK_DiskFileSystem::Open(const NativeChar* path, int mode, int share)
{
    std::unique_ptr<CVELK_File> file(new CVELK_File);
    file->OpenFile(path, mode, share);
    return IfOpened(std::move(file));
}

std::unique_ptr<CVELK_xFile> CVELK_DiskFileSystem::CreateNew(const NativeChar* path, uint32_t permissions)
{
    std::unique_ptr<CVELK_File> file(new CVELK_File);
    file->CreateNew(path, kShareRead, permissions);
    return IfOpened(std::move(file));
}

std::unique_ptr<CVELK_xFile> CVELK_DiskFileSystem::OpenExistingRegular(const NativeChar* path)
{
    std::unique_ptr<CVELK_File> file(new CVELK_File);
    file->OpenExistingRegular(path, kShareRead);
    return IfOpened(std::move(file));
}

CVELK_FileSystem& DiskFileSystem()
{
    static CVELK_DiskFileSystem disk;
    return disk;
}

void AppendUtf8Path(VelkPath* path, const char* utf8, size_t bytes)
{
#ifdef _WIN32
    AppendUtf8AsUtf16(path, utf8, bytes, kPathSeparator);
#else
    path->insert(path->end(), utf8, utf8 + bytes);
#endif
}

VelkPath PathUnder(const VelkPath& root, const char* utf8, size_t bytes)
{
    VelkPath path = root;
    AppendUtf8Path(&path, utf8, bytes);
    path.push_back(0);
    return path;
}

VelkPath ResolvedPath(CVELK_FileSystem& files, const NativeChar* path)
{
    VelkPath resolved;
    if (!files.ResolveLinks(path, &resolved)) {
        resolved.clear();
        for (const NativeChar* c = path; *c != 0; ++c) resolved.push_back(*c);
        resolved.push_back(0);
    }
    return resolved;
}

VelkPath WithSuffix(const NativeChar* path, const NativeChar* suffix)
{
    VelkPath named;
    for (const NativeChar* c = path; *c != 0; ++c) named.push_back(*c);
    for (const NativeChar* c = suffix; *c != 0; ++c) named.push_back(*c);
    named.push_back(0);
    return named;
}

VelkPath PathBeside(CVELK_FileSystem& files, const NativeChar* path, const NativeChar* suffix)
{
    return WithSuffix(ResolvedPath(files, path).data(), suffix);
}

namespace {

bool IsSeparator(NativeChar c)
{
#ifdef _WIN32
    return c == L'\\' || c == L'/';
#else
    return c == '/';
#endif
}

}  // namespace

bool FolderAbove(const NativeChar* path, uint32_t levels, VelkPath* folder)
{
    size_t end = 0;  // the folder is path[0, end)
    for (size_t i = 0; path[i] != 0; ++i)
        if (IsSeparator(path[i])) end = i + 1;
    for (uint32_t level = 0; level < levels; ++level) {
        // The folder's own name, without the separator that ends it.
        size_t nameEnd = end;
        while (nameEnd > 0 && IsSeparator(path[nameEnd - 1])) --nameEnd;
        size_t nameStart = nameEnd;
        while (nameStart > 0 && !IsSeparator(path[nameStart - 1])) --nameStart;
        const size_t name = nameEnd - nameStart;
        // No name to leave: the root, or "." or ".." whose parent this cannot know.
        if (name == 0 || (path[nameStart] == '.' && (name == 1 || (name == 2 && path[nameStart + 1] == '.'))))
            return false;
#ifdef _WIN32
        if (name == 2 && path[nameStart + 1] == L':') return false;  // a drive
#endif
        end = nameStart;
    }
    folder->assign(path, path + end);
    return true;
}
