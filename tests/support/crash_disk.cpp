#include "support/crash_disk.h"

#include <algorithm>
#include <cstring>

#include "crc/crc32.h"
#include "file/velk_file.h"

namespace {

constexpr int64_t kSectorBytes = 512;

// The folder a name lies in; empty for the disk's top.
NativeString FolderOf(const NativeString& name)
{
    const size_t separator = name.rfind(kPathSeparator);
    return separator == NativeString::npos ? NativeString() : name.substr(0, separator);
}

}  // namespace

// A change not yet flushed: a write, or a resize.
struct Change {
    bool resize;
    int64_t position;  // or the new size
    std::vector<uint8_t> bytes;
};

struct CrashDisk::Node {
    uint64_t id = 0;
    uint32_t permissions = 0644;
    std::vector<uint8_t> durable, live;
    std::vector<Change> pending;
};

namespace {

void Resize(std::vector<uint8_t>& bytes, int64_t size)
{
    bytes.resize(static_cast<size_t>(size), 0);
}

void WriteInto(std::vector<uint8_t>& bytes, int64_t position, const uint8_t* data, size_t length)
{
    if (length == 0) return;
    if (bytes.size() < static_cast<size_t>(position) + length) Resize(bytes, position + static_cast<int64_t>(length));
    std::memcpy(bytes.data() + position, data, length);
}

class CrashFile : public CVELK_xFile {
public:
    CrashFile(CrashDisk& disk, std::shared_ptr<CrashDisk::Node> node, uint32_t access)
        : m_disk(disk), m_node(std::move(node)), m_access(access)
    {
    }

    uint32_t Read(void* buffer, uint32_t count) override
    {
        if (!Usable(kAccessRead)) return 0;
        const std::vector<uint8_t>& bytes = m_node->live;
        if (m_position >= static_cast<int64_t>(bytes.size())) return 0;
        const auto n = static_cast<uint32_t>(std::min<int64_t>(count, static_cast<int64_t>(bytes.size()) - m_position));
        std::memcpy(buffer, bytes.data() + m_position, n);
        m_position += n;
        return n;
    }
    uint32_t Write(const void* buffer, uint32_t count) override
    {
        if (!Usable(kAccessWrite) || m_position > m_disk.SizeLimit() - count) return 0;
        const auto* data = static_cast<const uint8_t*>(buffer);
        WriteInto(m_node->live, m_position, data, count);
        m_node->pending.push_back({false, m_position, std::vector<uint8_t>(data, data + count)});
        m_position += count;
        return count;
    }
    void Close() override { m_node.reset(); }
    int64_t GetSize() override { return Usable(0) ? static_cast<int64_t>(m_node->live.size()) : -1; }
    bool SetSize(int64_t size) override
    {
        if (!Usable(kAccessWrite) || size < 0 || size > m_disk.SizeLimit()) return false;
        Resize(m_node->live, size);
        m_node->pending.push_back({true, size, {}});
        m_position = size;
        return true;
    }
    int64_t Tell() override { return Usable(0) ? m_position : -1; }
    bool Seek(int64_t position) override
    {
        if (!Usable(0) || position < 0) return false;
        m_position = position;
        return true;
    }
    uint32_t GetCrc32() override
    {
        if (!Usable(0)) return 0;
        return ~velk_crc32::ExtendBytewise(0xFFFFFFFFu, m_node->live.data(), m_node->live.size());
    }
    bool IsOpen() override { return m_node != nullptr; }
    bool Describe(VelkFileFacts* facts) override
    {
        if (!Usable(0)) return false;
        *facts = VelkFileFacts();
        facts->volume = 1;
        facts->index = m_node->id;
        facts->permissions = m_node->permissions;
        facts->othersMayWrite = (m_node->permissions & 022) != 0;
        return true;
    }
    uint32_t CanRead() override { return m_access & kAccessRead; }
    uint32_t CanWrite() override { return m_access & kAccessWrite; }
    bool Flush() override
    {
        if (!Usable(0)) return false;
        m_node->durable = m_node->live;
        m_node->pending.clear();
        return true;
    }

private:
    bool Usable(uint32_t access) { return m_disk.Tick() && m_node && (m_access & access) == access; }

    CrashDisk& m_disk;
    std::shared_ptr<CrashDisk::Node> m_node;
    uint32_t m_access;
    int64_t m_position = 0;
};

}  // namespace

void CrashDisk::PlanPowerFailure(uint64_t failAt, LossPattern pattern, uint32_t seed)
{
    m_calls = 0;
    m_failAt = failAt;
    m_failed = false;
    m_pattern = pattern;
    m_random.seed(seed);
}

bool CrashDisk::Tick()
{
    ++m_calls;
    if (m_failAt != 0 && m_calls >= m_failAt) m_failed = true;
    return !m_failed;
}

bool CrashDisk::Keep()
{
    switch (m_pattern) {
    case LossPattern::kKeepAll: return true;
    case LossPattern::kLoseAll: return false;
    case LossPattern::kRandom: break;
    }
    return m_random() % 2 == 0;
}

// What the disk holds of a file after the power failed: what was flushed, and of every later
// change in order what the cache happened to write.
std::vector<uint8_t> CrashDisk::Survivor(const Node& node)
{
    std::vector<uint8_t> bytes = node.durable;
    for (const Change& change : node.pending) {
        const uint32_t fate = m_pattern == LossPattern::kRandom ? m_random() % 3 : Keep() ? 0 : 1;
        if (fate == 1) continue;  // lost
        if (change.resize) {
            Resize(bytes, change.position);
            continue;
        }
        int64_t from = change.position, to = change.position + static_cast<int64_t>(change.bytes.size());
        if (fate == 2) {
            // Torn at a sector boundary inside the write: only the part before it, or after it.
            const int64_t first = (from / kSectorBytes + 1) * kSectorBytes;
            if (first >= to) continue;
            const int64_t boundary = first + static_cast<int64_t>(m_random() % ((to - first + kSectorBytes - 1) / kSectorBytes)) * kSectorBytes;
            if (m_random() % 2) to = boundary;
            else from = boundary;
        }
        WriteInto(bytes, from, change.bytes.data() + (from - change.position), static_cast<size_t>(to - from));
    }
    return bytes;
}

void CrashDisk::Restart()
{
    // A name whose creation or removal no folder sync made durable may be there or not.
    std::map<NativeString, std::shared_ptr<Node>> names = m_durable;
    for (const auto& entry : m_live) {
        const auto durable = m_durable.find(entry.first);
        if (durable == m_durable.end() || durable->second != entry.second) {
            if (Keep()) names[entry.first] = entry.second;
        }
    }
    for (const auto& entry : m_durable) {
        if (m_live.count(entry.first) == 0 && Keep()) names.erase(entry.first);
    }
    std::set<NativeString> folders = m_durableFolders;
    for (const NativeString& folder : m_folders) {
        if (m_durableFolders.count(folder) == 0 && Keep()) folders.insert(folder);
    }
    for (const NativeString& folder : m_durableFolders) {
        if (m_folders.count(folder) == 0 && Keep()) folders.erase(folder);
    }
    for (const Rename& rename : m_renames) {
        const bool kept = Keep();
        names.erase(kept ? rename.from : rename.to);
        names[kept ? rename.to : rename.from] = rename.node;
        // A file made at the old name after the rename lives or dies on its own.
        const auto since = m_live.find(rename.from);
        if (kept && since != m_live.end() && since->second != rename.node && Keep())
            names[rename.from] = since->second;
    }
    m_renames.clear();
    // A name whose folder did not come back is gone with it.
    for (bool pruned = true; pruned;) {
        pruned = false;
        for (auto it = folders.begin(); it != folders.end();) {
            const NativeString folder = FolderOf(*it);
            const bool orphan = !folder.empty() && folders.count(folder) == 0;
            it = orphan ? folders.erase(it) : std::next(it);
            pruned = pruned || orphan;
        }
    }
    for (auto it = names.begin(); it != names.end();) {
        const NativeString folder = FolderOf(it->first);
        it = !folder.empty() && folders.count(folder) == 0 ? names.erase(it) : std::next(it);
    }
    m_folders = m_durableFolders = folders;
    m_live.clear();
    for (const auto& entry : names) {
        auto node = std::make_shared<Node>();
        node->id = entry.second->id;
        node->permissions = entry.second->permissions;
        node->durable = node->live = Survivor(*entry.second);
        m_live[entry.first] = node;
    }
    m_durable = m_live;
    PlanPowerFailure(0, LossPattern::kKeepAll, 0);
}

std::shared_ptr<CrashDisk::Node> CrashDisk::NewNode(uint32_t permissions)
{
    auto node = std::make_shared<Node>();
    node->id = ++m_files;
    node->permissions = permissions;
    return node;
}

void CrashDisk::Put(const NativeString& path, const std::vector<uint8_t>& bytes)
{
    auto node = NewNode(0644);
    node->durable = node->live = bytes;
    m_live[path] = m_durable[path] = node;
}

void CrashDisk::PutFolder(const NativeString& path)
{
    m_folders.insert(path);
    m_durableFolders.insert(path);
}

std::vector<NativeString> CrashDisk::Names() const
{
    std::vector<NativeString> names(m_folders.begin(), m_folders.end());
    for (const auto& entry : m_live) names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t CrashDisk::Permissions(const NativeString& path) const
{
    const auto found = m_live.find(path);
    return found == m_live.end() ? 0 : found->second->permissions;
}

std::vector<uint8_t> CrashDisk::Bytes(const NativeString& path) const
{
    const auto found = m_live.find(path);
    return found == m_live.end() ? std::vector<uint8_t>() : found->second->live;
}

std::unique_ptr<CVELK_xFile> CrashDisk::Open(const NativeChar* path, int mode, int)
{
    const uint32_t access = AccessOfMode(mode);
    if (!Tick() || access == 0) return nullptr;
    const auto found = m_live.find(path);
    if (found == m_live.end()) return nullptr;
    return std::unique_ptr<CVELK_xFile>(new CrashFile(*this, found->second, access));
}

std::unique_ptr<CVELK_xFile> CrashDisk::CreateNew(const NativeChar* path, uint32_t permissions)
{
    if (!Tick() || m_live.count(path) != 0 || m_folders.count(path) != 0 || !FolderIsThere(path)) return nullptr;
    auto node = NewNode(permissions);
    m_live[path] = node;
    return std::unique_ptr<CVELK_xFile>(new CrashFile(*this, node, kAccessRead | kAccessWrite));
}

std::unique_ptr<CVELK_xFile> CrashDisk::OpenExistingRegular(const NativeChar* path)
{
    return Open(path, kModeReadExisting, kShareRead);
}

bool CrashDisk::Exists(const NativeChar* path)
{
    return Tick() && m_live.count(path) != 0;
}

bool CrashDisk::Remove(const NativeChar* path)
{
    return Tick() && m_live.erase(path) != 0;
}

// Makes the names in the path's folder durable as they stand, and only those.
bool CrashDisk::SyncFolderOf(const NativeChar* path)
{
    if (!Tick()) return false;
    const NativeString folder = FolderOf(path);
    const auto inFolder = [&](const NativeString& name) { return FolderOf(name) == folder; };
    for (auto it = m_durable.begin(); it != m_durable.end();)
        it = inFolder(it->first) && m_live.count(it->first) == 0 ? m_durable.erase(it) : std::next(it);
    for (const auto& entry : m_live)
        if (inFolder(entry.first)) m_durable[entry.first] = entry.second;
    for (auto it = m_durableFolders.begin(); it != m_durableFolders.end();)
        it = inFolder(*it) && m_folders.count(*it) == 0 ? m_durableFolders.erase(it) : std::next(it);
    for (const NativeString& name : m_folders)
        if (inFolder(name)) m_durableFolders.insert(name);
    for (auto it = m_renames.begin(); it != m_renames.end();)
        it = inFolder(it->to) ? m_renames.erase(it) : std::next(it);
    return true;
}

bool CrashDisk::FolderIsThere(const NativeString& name) const
{
    const NativeString folder = FolderOf(name);
    return folder.empty() || m_folders.count(folder) != 0;
}

VelkPathKind CrashDisk::KindOf(const NativeChar* path)
{
    if (!Tick()) return VelkPathKind::kOther;
    if (m_live.count(path) != 0) return VelkPathKind::kFile;
    return m_folders.count(path) != 0 ? VelkPathKind::kFolder : VelkPathKind::kMissing;
}

bool CrashDisk::CreateFolder(const NativeChar* path)
{
    if (!Tick() || m_live.count(path) != 0 || m_folders.count(path) != 0 || !FolderIsThere(path)) return false;
    m_folders.insert(path);
    return true;
}

bool CrashDisk::RemoveFolder(const NativeChar* path)
{
    if (!Tick() || m_folders.count(path) == 0) return false;
    const NativeString inside = NativeString(path) + kPathSeparator;
    for (const auto& entry : m_live)
        if (entry.first.compare(0, inside.size(), inside) == 0) return false;
    for (const NativeString& folder : m_folders)
        if (folder.compare(0, inside.size(), inside) == 0) return false;
    m_folders.erase(path);
    return true;
}

bool CrashDisk::MoveAside(const NativeChar* from, const NativeChar* to)
{
    if (!Tick() || m_live.count(from) == 0 || m_live.count(to) != 0 || m_folders.count(to) != 0) return false;
    m_renames.push_back({from, to, m_live[from]});
    m_live[to] = m_live[from];
    m_live.erase(from);
    return true;
}
