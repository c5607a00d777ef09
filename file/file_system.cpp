#include "file/file_system.h"

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
