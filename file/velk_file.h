// A disk file: the thin owner of one operating-system file handle behind CVELK_xFile.
// The common logic lives in velk_file.cpp; the platform primitives in velk_file_win32.cpp and
// velk_file_posix.cpp, one of which the build picks.
#pragma once

#include <cstdint>

#include "file/native_path.h"
#include "file/stretch_reader.h"
#include "file/velk_xfile.h"

// Mode codes of OpenFile.
enum : int {
    kModeReadExisting = 1,
    kModeWriteExisting = 2,
    kModeReadWriteExisting = 3,
    kModeCreateTruncate = 4,
    kModeReadWriteOpenAlways = 9,
};
// Share codes: what others may do while the file is open.
enum : int {
    kShareReadWrite = 1,
    kShareWrite = 2,
    kShareRead = 3,
    kShareNone = 0,
};

class CVELK_File : public CVELK_xFile {
public:
#ifdef _WIN32
    using Handle = void*;
#else
    using Handle = int;
#endif

    CVELK_File() = default;
    ~CVELK_File() override;
    CVELK_File(const CVELK_File&) = delete;
    CVELK_File& operator=(const CVELK_File&) = delete;

    bool OpenFile(const NativeChar* path, int mode, int share);
    // Creates a file that must not exist yet and opens it for reading and writing. An existing
    // file, or a link in its place, is never opened: what is written goes only into the new file.
    // On POSIX the file gets `permissions` (narrowed further by the process's umask).
    bool CreateNew(const NativeChar* path, int share, uint32_t permissions = kNewFilePermissions);
    static constexpr uint32_t kNewFilePermissions = 0666;
    // How CreateNew asks the platform layer; not a mode code, OpenFile refuses it.
    static constexpr int kCreateNew = -100;
    // Opens an existing regular file for reading, but not through a symbolic link, and never a
    // folder, a device or a pipe.
    bool OpenExistingRegular(const NativeChar* path, int share);

    uint32_t Read(void* buffer, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t count) override;
    void Close() override;
    int64_t GetSize() override;
    bool SetSize(int64_t size) override;
    int64_t Tell() override;
    bool Seek(int64_t position) override;
    uint32_t GetCrc32() override;
    bool IsOpen() override { return m_handle != kNoHandle; }
    // Forces what was written to the disk; false when the disk reports a failure (a write that
    // was accepted into the cache may only fail here).
    bool Flush() override;
    // The platform's handle or descriptor, still owned by this object: for the calls the file
    // interface does not offer (the permissions of a new file).
    Handle NativeHandle() const { return m_handle; }
    uint32_t CanRead() override { return m_access & kAccessRead; }
    uint32_t CanWrite() override { return m_access & kAccessWrite; }
    uint32_t ReadAt(int64_t position, void* buffer, uint32_t count) override;
    uint32_t WriteAt(int64_t position, const void* buffer, uint32_t count) override;
    bool Describe(VelkFileFacts* facts) override;
    bool Reserve(int64_t position, int64_t length) override;

    // Bytes the whole-file CRC reads per platform call.
    static constexpr uint32_t kCrcChunkBytes = CVELK_StretchReader::kChunkBytes;

private:
#ifdef _WIN32
    static constexpr Handle kNoHandle = nullptr;
#else
    static constexpr Handle kNoHandle = -1;
    // Second descriptor that only carries the share-mode locks of a write-only open.
    int m_lockFd = -1;
#endif

    // Platform primitives; each is one system call (or as few as the platform needs).
    bool PlatformOpen(const NativeChar* path, int mode, int share);
    // Read access to an existing regular file reached without a link.
    bool PlatformOpenRegular(const NativeChar* path, int share);
    bool PlatformFlush();
    uint32_t PlatformRead(void* buffer, uint32_t count);
    bool PlatformSetEndOfFile();
    void PlatformClose();

    Handle m_handle = kNoHandle;
    uint32_t m_access = 0;
    uint32_t m_newFilePermissions = kNewFilePermissions;  // for the next CreateNew
};

// The access rights of a mode code, 0 for an unknown code.
uint32_t AccessOfMode(int mode);
