#include "file/velk_file.h"


uint32_t AccessOfMode(int mode)
{
    switch (mode) {
    case kModeReadExisting: return kAccessRead;
    case kModeWriteExisting: return kAccessWrite;
    case kModeReadWriteExisting: return kAccessRead | kAccessWrite;
    case kModeCreateTruncate: return kAccessWrite;
    case kModeReadWriteOpenAlways: return kAccessRead | kAccessWrite;
    default: return 0;
    }
}

CVELK_File::~CVELK_File()
{
    Close();
}

bool CVELK_File::OpenFile(const NativeChar* path, int mode, int share)
{
    Close();
    uint32_t access = AccessOfMode(mode);
    if (access == 0 || path == nullptr) return false;
    // Recorded before the platform is asked, so a failed open still shows the mode's rights.
    m_access = access;
    return PlatformOpen(path, mode, share);
}

bool CVELK_File::CreateNew(const NativeChar* path, int share, uint32_t permissions)
{
    Close();
    if (path == nullptr) return false;
    m_access = kAccessRead | kAccessWrite;
    m_newFilePermissions = permissions;
    return PlatformOpen(path, kCreateNew, share);
}

bool CVELK_File::OpenExistingRegular(const NativeChar* path, int share)
{
    Close();
    if (path == nullptr) return false;
    m_access = kAccessRead;
    return PlatformOpenRegular(path, share);
}

bool CVELK_File::Flush()
{
    return IsOpen() && (m_access & kAccessWrite) && PlatformFlush();
}

void CVELK_File::Close()
{
    if (m_handle != kNoHandle) PlatformClose();
    m_handle = kNoHandle;
    m_access = 0;
}

bool CVELK_File::SetSize(int64_t size)
{
    if (!Seek(size)) return false;
    return PlatformSetEndOfFile();
}

uint32_t CVELK_File::GetCrc32()
{
    if (!IsOpen()) return 0;
    const int64_t position = Tell();
    const int64_t size = GetSize();
    if (position < 0 || size < 0) return 0;

    // No memory for the buffer counts as a failed computation.
    uint32_t crc = 0;
    const bool computed = StretchCrc(*this, 0, size, nullptr, &crc) == StretchCrcVerdict::kComputed;
    Seek(position);
    return computed ? crc : 0;
}
