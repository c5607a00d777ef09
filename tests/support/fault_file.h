// Fault injection for the file interface: CVELK_FaultFile passes every call on to a real file
// (on disk or in memory) unless its CVELK_FaultSwitch says that this call is the one to break.
// Tests walk the switch over every call of a real application; fuzzers let the input choose.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "file/file_system.h"
#include "file/velk_xfile.h"

// The operations that can be broken. Open is counted by whoever opens the files (the file
// object itself is already open when it is wrapped).
// Remove and folder sync are file-system operations, counted by whoever performs them.
enum class FaultOp : int {
    kOpen, kRead, kWrite, kSeek, kSetSize, kGetSize, kTell, kCrc32, kFlush, kRemove, kSyncFolder, kReserve, kCount
};

inline const char* FaultOpName(FaultOp op)
{
    static const char* const names[] = {"open", "read",  "write",  "seek",        "set size", "get size",
                                        "tell", "crc",   "flush",  "remove",      "folder sync", "reserve"};
    return op < FaultOp::kCount ? names[static_cast<int>(op)] : "none";
}

enum class FaultKind {
    kFailOnce,      // only the chosen call fails
    kFailFromThen,  // the chosen call and every later call of that operation fail
    kShortOnce,     // the chosen read or write moves only part of its bytes
    kShortFromThen,
};

struct FaultPlan {
    FaultOp op = FaultOp::kCount;  // kCount: nothing breaks, calls are only counted
    uint64_t nth = 0;              // 1 for the first call of `op`
    FaultKind kind = FaultKind::kFailOnce;
};

enum class FaultVerdict { kPass, kFail, kShort };

// Counts the calls of one file and decides which of them break. Several switches may share a
// clock, so that a test can tell which of two files' events came first.
class CVELK_FaultSwitch {
public:
    explicit CVELK_FaultSwitch(FaultPlan plan = FaultPlan(), uint64_t* sharedClock = nullptr)
        : m_plan(plan), m_clock(sharedClock ? sharedClock : &m_ownClock)
    {
    }

    FaultVerdict Next(FaultOp op)
    {
        const uint64_t call = ++m_calls[static_cast<int>(op)];
        m_lastCallTime = ++*m_clock;
        if (op != m_plan.op || call < m_plan.nth) return FaultVerdict::kPass;
        const bool once = m_plan.kind == FaultKind::kFailOnce || m_plan.kind == FaultKind::kShortOnce;
        if (once && call != m_plan.nth) return FaultVerdict::kPass;
        if (m_tripTime == 0) m_tripTime = *m_clock;
        const bool shorten = m_plan.kind == FaultKind::kShortOnce || m_plan.kind == FaultKind::kShortFromThen;
        return shorten ? FaultVerdict::kShort : FaultVerdict::kFail;
    }

    // A write or resize that reached the file; the first one's time is kept.
    void NoteModified()
    {
        if (m_modifyTime == 0) m_modifyTime = *m_clock;
    }

    uint64_t Calls(FaultOp op) const { return m_calls[static_cast<int>(op)]; }
    bool Tripped() const { return m_tripTime != 0; }
    // Clock readings (0 = never) of the first injected fault and of the first modification.
    uint64_t TripTime() const { return m_tripTime; }
    uint64_t ModifyTime() const { return m_modifyTime; }
    uint64_t LastCallTime() const { return m_lastCallTime; }
    const FaultPlan& Plan() const { return m_plan; }

    // Wrapped files currently alive, and how many were ever made.
    int liveFiles = 0;
    int filesMade = 0;
    // Told of every read and write, with its memory and the file's position.
    std::function<void(const void* buffer, int64_t position, uint32_t count)> watch;

private:
    FaultPlan m_plan;
    uint64_t m_ownClock = 0;
    uint64_t* m_clock;
    uint64_t m_calls[static_cast<int>(FaultOp::kCount)] = {};
    uint64_t m_tripTime = 0;
    uint64_t m_modifyTime = 0;
    uint64_t m_lastCallTime = 0;
};

class CVELK_FaultFile : public CVELK_xFile {
public:
    // Wraps a file that stays owned by the caller.
    CVELK_FaultFile(CVELK_xFile& inner, CVELK_FaultSwitch& faults) : m_inner(inner), m_faults(faults)
    {
        ++m_faults.liveFiles;
        ++m_faults.filesMade;
    }
    // Wraps a file that goes (and so is closed) with the wrapper.
    CVELK_FaultFile(std::unique_ptr<CVELK_xFile> inner, CVELK_FaultSwitch& faults)
        : CVELK_FaultFile(*inner, faults)
    {
        m_owned = std::move(inner);
    }
    ~CVELK_FaultFile() override { --m_faults.liveFiles; }
    CVELK_FaultFile(const CVELK_FaultFile&) = delete;
    CVELK_FaultFile& operator=(const CVELK_FaultFile&) = delete;

    uint32_t Read(void* buffer, uint32_t count) override
    {
        Watch(buffer, count);
        switch (m_faults.Next(FaultOp::kRead)) {
        case FaultVerdict::kFail: return 0;
        case FaultVerdict::kShort: return m_inner.Read(buffer, Shortened(count));
        case FaultVerdict::kPass: break;
        }
        return m_inner.Read(buffer, count);
    }
    uint32_t Write(const void* buffer, uint32_t count) override
    {
        Watch(buffer, count);
        switch (m_faults.Next(FaultOp::kWrite)) {
        case FaultVerdict::kFail: return 0;
        case FaultVerdict::kShort: count = Shortened(count); break;  // a disk that fills up midway
        case FaultVerdict::kPass: break;
        }
        const uint32_t written = m_inner.Write(buffer, count);
        if (written != 0) m_faults.NoteModified();
        return written;
    }
    void Close() override { m_inner.Close(); }
    int64_t GetSize() override
    {
        return m_faults.Next(FaultOp::kGetSize) == FaultVerdict::kPass ? m_inner.GetSize() : -1;
    }
    bool SetSize(int64_t size) override
    {
        if (m_faults.Next(FaultOp::kSetSize) != FaultVerdict::kPass) return false;
        const int64_t before = m_inner.GetSize();
        const bool done = m_inner.SetSize(size);
        if (m_inner.GetSize() != before) m_faults.NoteModified();
        return done;
    }
    int64_t Tell() override { return m_faults.Next(FaultOp::kTell) == FaultVerdict::kPass ? m_inner.Tell() : -1; }
    bool Seek(int64_t position) override
    {
        return m_faults.Next(FaultOp::kSeek) == FaultVerdict::kPass && m_inner.Seek(position);
    }
    uint32_t GetCrc32() override
    {
        return m_faults.Next(FaultOp::kCrc32) == FaultVerdict::kPass ? m_inner.GetCrc32() : 0;
    }
    bool IsOpen() override { return m_inner.IsOpen(); }
    uint32_t CanRead() override { return m_inner.CanRead(); }
    uint32_t CanWrite() override { return m_inner.CanWrite(); }
    bool Flush() override { return m_faults.Next(FaultOp::kFlush) == FaultVerdict::kPass && m_inner.Flush(); }
    bool Describe(VelkFileFacts* facts) override { return m_inner.Describe(facts); }
    bool Reserve(int64_t position, int64_t length) override
    {
        return m_faults.Next(FaultOp::kReserve) == FaultVerdict::kPass && m_inner.Reserve(position, length);
    }

private:
    void Watch(const void* buffer, uint32_t count)
    {
        if (m_faults.watch) m_faults.watch(buffer, m_inner.Tell(), count);
    }
    // Half the bytes, but at least one, so that a short transfer is not a failed one.
    static uint32_t Shortened(uint32_t count) { return count > 1 ? count / 2 : count; }

    CVELK_xFile& m_inner;
    CVELK_FaultSwitch& m_faults;
    std::unique_ptr<CVELK_xFile> m_owned;
};

// A file system whose journal operations go through a fault switch: files it creates or opens as
// regular files are wrapped, and a lookup counts as an open, a removal and a folder sync as what
// they are. Open passes through untouched: the application's two files are wrapped by whoever
// opens them (CVELK_IPS_IN::OpenFile).
class CVELK_FaultFileSystem : public CVELK_FileSystem {
public:
    // `everyFile`: the files opened by Open break too (otherwise whoever opens them wraps them).
    CVELK_FaultFileSystem(CVELK_FileSystem& inner, CVELK_FaultSwitch& faults, bool everyFile = false)
        : m_inner(inner), m_faults(faults), m_everyFile(everyFile)
    {
    }

    std::unique_ptr<CVELK_xFile> Open(const NativeChar* path, int mode, int share) override
    {
        if (!m_everyFile) return m_inner.Open(path, mode, share);
        return Wrapped(Pass(FaultOp::kOpen) ? m_inner.Open(path, mode, share) : nullptr);
    }
    std::unique_ptr<CVELK_xFile> CreateNew(const NativeChar* path, uint32_t permissions) override
    {
        return Wrapped(Pass(FaultOp::kOpen) ? m_inner.CreateNew(path, permissions) : nullptr);
    }
    std::unique_ptr<CVELK_xFile> OpenExistingRegular(const NativeChar* path) override
    {
        return Wrapped(Pass(FaultOp::kOpen) ? m_inner.OpenExistingRegular(path) : nullptr);
    }
    bool Exists(const NativeChar* path) override { return Pass(FaultOp::kOpen) && m_inner.Exists(path); }
    bool Remove(const NativeChar* path) override { return Pass(FaultOp::kRemove) && m_inner.Remove(path); }
    bool SyncFolderOf(const NativeChar* path) override
    {
        return Pass(FaultOp::kSyncFolder) && m_inner.SyncFolderOf(path);
    }
    bool ResolveLinks(const NativeChar* path, VelkPath* resolved) override { return m_inner.ResolveLinks(path, resolved); }
    bool OwnerSpeaksForAll(const VelkFileOwner& owner) override { return m_inner.OwnerSpeaksForAll(owner); }
    VelkPathKind KindOf(const NativeChar* path) override { return m_inner.KindOf(path); }
    bool CreateFolder(const NativeChar* path) override { return Pass(FaultOp::kOpen) && m_inner.CreateFolder(path); }
    bool RemoveFolder(const NativeChar* path) override { return Pass(FaultOp::kRemove) && m_inner.RemoveFolder(path); }
    bool MoveAside(const NativeChar* from, const NativeChar* to) override
    {
        return Pass(FaultOp::kRemove) && m_inner.MoveAside(from, to);
    }

private:
    bool Pass(FaultOp op) { return m_faults.Next(op) == FaultVerdict::kPass; }
    std::unique_ptr<CVELK_xFile> Wrapped(std::unique_ptr<CVELK_xFile> file)
    {
        if (!file) return nullptr;
        return std::unique_ptr<CVELK_xFile>(new CVELK_FaultFile(std::move(file), m_faults));
    }

    CVELK_FileSystem& m_inner;
    CVELK_FaultSwitch& m_faults;
    bool m_everyFile;
};
