// An in-memory file system that can lose power, for the power-loss walk. Every call of its files
// and of the file system counts; at a chosen call the power fails, and that call and every later
// one fail as they would in a machine that has stopped. When the disk comes back (Restart),
// whatever had not been flushed is decided write by write, as a disk's cache may have left it:
// kept whole, torn at a 512-byte boundary, or lost. A name created or removed since its folder
// was last synced may likewise be there or not, and with a folder go the names in it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "file/file_system.h"

enum class LossPattern {
    kKeepAll,  // the cache reached the disk after all
    kLoseAll,  // nothing that was not flushed survives
    kRandom,   // each unflushed write kept, torn or lost, each name change kept or lost
};

class CrashDisk : public CVELK_FileSystem {
public:
    struct Node;

    // The power fails at call `failAt` (1 for the first; 0: never).
    void PlanPowerFailure(uint64_t failAt, LossPattern pattern, uint32_t seed);
    bool PowerFailed() const { return m_failed; }
    uint64_t Calls() const { return m_calls; }
    // The disk after the power came back: only what survived, everything durable, no failure
    // planned.
    void Restart();

    // A file as it stands (durable at once).
    void Put(const NativeString& path, const std::vector<uint8_t>& bytes);
    // A folder as it stands (durable at once).
    void PutFolder(const NativeString& path);
    // Every name there is, files and folders.
    std::vector<NativeString> Names() const;
    bool Has(const NativeString& path) const { return m_live.count(path) != 0; }
    std::vector<uint8_t> Bytes(const NativeString& path) const;

    // Counts a call; false once the power has failed.
    bool Tick();
    // Files cannot grow past this many bytes: the largest file the file system allows.
    void SetSizeLimit(int64_t bytes) { m_sizeLimit = bytes; }
    int64_t SizeLimit() const { return m_sizeLimit; }

    // The permission bits a file has (as a file made by CreateNew gets them).
    uint32_t Permissions(const NativeString& path) const;

    // Files keep their identity (a number of their own) through a restart; a file put anew at a
    // name is another file. Owners are not kept, links do not exist.
    std::unique_ptr<CVELK_xFile> Open(const NativeChar* path, int mode, int share) override;
    std::unique_ptr<CVELK_xFile> CreateNew(const NativeChar* path, uint32_t permissions) override;
    std::unique_ptr<CVELK_xFile> OpenExistingRegular(const NativeChar* path) override;
    bool Exists(const NativeChar* path) override;
    bool Remove(const NativeChar* path) override;
    bool SyncFolderOf(const NativeChar* path) override;
    bool ResolveLinks(const NativeChar*, VelkPath*) override { return false; }
    bool OwnerSpeaksForAll(const VelkFileOwner&) override { return false; }
    // Folders are names of their own, made and removed like files' names.
    VelkPathKind KindOf(const NativeChar* path) override;
    bool CreateFolder(const NativeChar* path) override;
    bool RemoveFolder(const NativeChar* path) override;
    bool MoveAside(const NativeChar* from, const NativeChar* to) override;
    bool HasFolder(const NativeString& path) const { return m_folders.count(path) != 0; }

private:
    std::vector<uint8_t> Survivor(const Node& node);
    bool Keep();
    std::shared_ptr<Node> NewNode(uint32_t permissions);
    bool FolderIsThere(const NativeString& name) const;

    // Names as the running program sees them, and as the disk holds them.
    std::map<NativeString, std::shared_ptr<Node>> m_live, m_durable;
    std::set<NativeString> m_folders, m_durableFolders;
    int64_t m_sizeLimit = int64_t(1) << 40;
    uint64_t m_calls = 0;
    uint64_t m_files = 0;
    // Renames since their folder was last synced: each reaches the disk whole or not at all.
    struct Rename {
        NativeString from, to;
        std::shared_ptr<Node> node;
    };
    std::vector<Rename> m_renames;
    uint64_t m_failAt = 0;
    bool m_failed = false;
    LossPattern m_pattern = LossPattern::kKeepAll;
    std::mt19937 m_random;
};
