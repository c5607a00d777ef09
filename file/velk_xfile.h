// The one file interface every part of the engine goes through. The order of the virtual
// operations is fixed; wrappers (in-memory files, fault injection) implement the same slots.
#pragma once

#include <cstdint>
#include <cstring>

// Who owns a file, in the platform's terms: a user id on POSIX, a security identifier on
// Windows. Two owners are the same when their bytes are.
struct VelkFileOwner {
    uint32_t length = 0;  // 0: the file system keeps no owners (FAT, a file in memory)
    uint8_t id[68] = {};  // the longest security identifier there is

    bool operator==(const VelkFileOwner& other) const
    {
        return length == other.length && std::memcmp(id, other.id, length) == 0;
    }
};

// What the file system tells of an open file besides its bytes.
struct VelkFileFacts {
    // Names the file among all files, and keeps naming it after a restart: the volume serial
    // and file index on Windows; on POSIX the inode number (device numbers may change from one
    // boot to the next, so the volume is 0). An index of 0: the file system promises no lasting
    // one (FAT and exFAT under Linux number their files anew at every mount).
    uint64_t volume = 0;
    uint64_t index = 0;
    VelkFileOwner owner;
    // Someone besides the owner may change the file (group or others may write, on POSIX;
    // Windows' access lists are not examined).
    bool othersMayWrite = false;
    uint32_t permissions = 0;  // the POSIX permission bits; 0 on Windows
    uint32_t names = 1;        // hard links: the names the file has
};

class CVELK_xFile {
public:
    virtual ~CVELK_xFile() {}

    // Bytes read at the current position (which advances by that count); 0 on failure or at the
    // end of the file. A short count is returned as it is, never retried.
    virtual uint32_t Read(void* buffer, uint32_t count) = 0;
    // Bytes written at the current position; 0 on failure.
    virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
    virtual void Close() = 0;
    // The UTF-16 units before the terminating NUL, little-endian, no terminator, in one Write.
    virtual bool WriteWideText(const char16_t* text);
    virtual int64_t GetSize() = 0;
    // Seek to size, then make that position the end of the file. False leaves the size as it
    // was, also where an extension ran out of space part of the way.
    virtual bool SetSize(int64_t size) = 0;
    virtual int64_t Tell() = 0;
    // Absolute position from the start; negative positions are refused.
    virtual bool Seek(int64_t position) = 0;
    // CRC-32 of the whole file, 0 on failure; the position is left where it was.
    virtual uint32_t GetCrc32() = 0;
    virtual bool IsOpen() = 0;
    // Nonzero (the access bit itself) when the file was opened with that access.
    virtual uint32_t CanRead() = 0;
    virtual uint32_t CanWrite() = 0;

    // Added after the original slots, which keep their order.
    // Makes everything written so far durable: on the disk itself, not in a cache, once it
    // returns true. A file that nothing can make more durable (one in memory) answers true.
    virtual bool Flush() = 0;
    // Reads at `position`, leaving the current position unspecified; counts as Read's. One
    // platform call where the platform has a positioned read, Seek and Read otherwise.
    virtual uint32_t ReadAt(int64_t position, void* buffer, uint32_t count);
    // What the file system tells of the file; false when it tells nothing (a file in memory).
    virtual bool Describe(VelkFileFacts* facts);
    // Makes sure that writes of [position, position + length) cannot fail for want of space,
    // without changing the file's size or contents (the blocks of a sparse file's holes are
    // allocated). True as well where the file system cannot be asked (it keeps no holes, or
    // allocates only as it writes); false when the space is not there.
    virtual bool Reserve(int64_t position, int64_t length);
    // Writes at `position`, leaving the current position unspecified; counts as Write's. One
    // platform call where the platform has a positioned write, Seek and Write otherwise.
    virtual uint32_t WriteAt(int64_t position, const void* buffer, uint32_t count);
};

// Access rights as the Windows constants spell them; the POSIX backend records the same values.
constexpr uint32_t kAccessRead = 0x80000000u;
constexpr uint32_t kAccessWrite = 0x40000000u;
