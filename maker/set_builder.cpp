#include "maker/set_builder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "file/file_system.h"
#include "file/folder_list.h"
#include "file/io.h"
#include "file/relative_path.h"
#include "file/stretch_reader.h"
#include "file/velk_file.h"
#include "format/payload_text.h"
#include "format/set_format.h"
#include "maker/set_writer.h"

namespace {

constexpr uint32_t kCompareBlock = 1u << 20;

std::string Utf8Name(const NativeString& name)
{
#ifdef _WIN32
    return Utf16ToUtf8(std::u16string(name.begin(), name.end()));
#else
    return name;
#endif
}

bool Earlier(const std::string& a, const std::string& b)
{
    return CompareFoldedPaths(a.data(), a.size(), b.data(), b.size()) < 0;
}

}  // namespace

// A file of the set, found by comparing the trees.
struct CVELK_SetBuilder::Planned {
    velk_set::Kind kind;
    std::string path;
    int64_t originalSize = 0;
};

CVELK_SetBuilder::CVELK_SetBuilder(const NativeString& originalRoot, const NativeString& modifiedRoot)
    : m_originalRoot(originalRoot), m_modifiedRoot(modifiedRoot)
{
}

VelkSetBuildStatus CVELK_SetBuilder::Fail(VelkSetBuildStatus status, const std::string& path)
{
    m_problem = path;
    return status;
}

VelkSetBuildStatus CVELK_SetBuilder::Walk(const NativeString& root, const std::string& folder, bool original,
                                          std::vector<Item>* items)
{
    std::vector<VelkFolderItem> listed;
    if (!ListFolder(folder.empty() ? root : InFolderUtf8(root, folder), &listed))
        return Fail(original ? VelkSetBuildStatus::kOriginalUnreadable : VelkSetBuildStatus::kModifiedUnreadable,
                    folder);
    for (const VelkFolderItem& entry : listed) {
        const std::string path = (folder.empty() ? "" : folder + "/") + Utf8Name(entry.name);
        if (!IsSafeRelativePath(path.data(), path.size(), velk_set::kMaxPathBytes))
            return Fail(VelkSetBuildStatus::kUnsafeName, path);
        if (entry.kind == VelkPathKind::kFolder) {
            const VelkSetBuildStatus status = Walk(root, path, original, items);
            if (status != VelkSetBuildStatus::kOk) return status;
            continue;
        }
        if (entry.kind != VelkPathKind::kFile) return Fail(VelkSetBuildStatus::kNotAFile, path);
        Item item;
        item.path = path;
        item.folded.resize(path.size());
        item.folded.resize(FoldRelativePath(path.data(), path.size(), &item.folded[0], path.size()));
        item.size = entry.size;
        items->push_back(item);
    }
    return VelkSetBuildStatus::kOk;
}

// The tree's files in the directory's order; two names that fold to one are refused, since a
// file system that ignores case could not hold both.
VelkSetBuildStatus CVELK_SetBuilder::ListTree(const NativeString& root, bool original, std::vector<Item>* items)
{
    const VelkSetBuildStatus status = Walk(root, std::string(), original, items);
    if (status != VelkSetBuildStatus::kOk) return status;
    std::sort(items->begin(), items->end(), [](const Item& a, const Item& b) { return Earlier(a.folded, b.folded); });
    for (size_t i = 1; i < items->size(); ++i) {
        if ((*items)[i - 1].folded == (*items)[i].folded) return Fail(VelkSetBuildStatus::kNameClash, (*items)[i].path);
    }
    return VelkSetBuildStatus::kOk;
}

// Whether the file has the same bytes in both trees (its size is the same in both).
VelkSetBuildStatus CVELK_SetBuilder::Compare(const Item& item, bool* same)
{
    CVELK_File original, modified;
    if (!original.OpenFile(InFolderUtf8(m_originalRoot, item.path).c_str(), kModeReadExisting, kShareRead))
        return Fail(VelkSetBuildStatus::kOriginalUnreadable, item.path);
    if (!modified.OpenFile(InFolderUtf8(m_modifiedRoot, item.path).c_str(), kModeReadExisting, kShareRead))
        return Fail(VelkSetBuildStatus::kModifiedUnreadable, item.path);
    std::unique_ptr<uint8_t[]> a(new (std::nothrow) uint8_t[kCompareBlock]), b(new (std::nothrow) uint8_t[kCompareBlock]);
    if (!a || !b) return Fail(VelkSetBuildStatus::kFileFailed, item.path);
    *same = true;
    for (int64_t at = 0; *same && at < item.size;) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(kCompareBlock, item.size - at));
        if (velk_io::ReadFully(original, a.get(), n) != n) return Fail(VelkSetBuildStatus::kOriginalUnreadable, item.path);
        if (velk_io::ReadFully(modified, b.get(), n) != n) return Fail(VelkSetBuildStatus::kModifiedUnreadable, item.path);
        *same = std::memcmp(a.get(), b.get(), n) == 0;
        at += n;
    }
    return VelkSetBuildStatus::kOk;
}

VelkSetBuildStatus CVELK_SetBuilder::AddChanged(CVELK_SetWriter& writer, const Planned& file)
{
    CVELK_File modified, original;
    if (!modified.OpenFile(InFolderUtf8(m_modifiedRoot, file.path).c_str(), kModeReadExisting, kShareRead))
        return Fail(VelkSetBuildStatus::kModifiedUnreadable, file.path);
    const bool modify = file.kind == velk_set::Kind::kModify;
    if (modify && !original.OpenFile(InFolderUtf8(m_originalRoot, file.path).c_str(), kModeReadExisting, kShareRead))
        return Fail(VelkSetBuildStatus::kOriginalUnreadable, file.path);
    switch (writer.AddChanged(file.path, modify ? &original : nullptr, modified, m_progress)) {
    case VelkBuildStatus::kOk: return VelkSetBuildStatus::kOk;
    case VelkBuildStatus::kCancelled: return VelkSetBuildStatus::kCancelled;
    case VelkBuildStatus::kOutputWriteFailed: return VelkSetBuildStatus::kOutputWriteFailed;
    case VelkBuildStatus::kOriginalReadFailed: return Fail(VelkSetBuildStatus::kOriginalUnreadable, file.path);
    case VelkBuildStatus::kModifiedReadFailed: return Fail(VelkSetBuildStatus::kModifiedUnreadable, file.path);
    default: break;
    }
    return Fail(VelkSetBuildStatus::kFileFailed, file.path);
}

VelkSetBuildStatus CVELK_SetBuilder::Build(CVELK_xFile& output)
{
    m_stats = VelkSetStats();
    std::vector<Item> original, modified;
    VelkSetBuildStatus status = ListTree(m_originalRoot, true, &original);
    if (status == VelkSetBuildStatus::kOk) status = ListTree(m_modifiedRoot, false, &modified);
    if (status != VelkSetBuildStatus::kOk) return status;

    // The two trees side by side, in the directory's order.
    std::vector<Planned> planned;
    int64_t compared = 0, toCompare = 0;
    for (const Item& item : original) toCompare += item.size;
    for (size_t i = 0, j = 0; i < original.size() || j < modified.size();) {
        const bool inOriginal = i < original.size(), inModified = j < modified.size();
        const bool both = inOriginal && inModified && original[i].folded == modified[j].folded;
        Planned file;
        if (both) {
            // The same name spelt in another case is a name change the set cannot make in place.
            if (original[i].path != modified[j].path) return Fail(VelkSetBuildStatus::kNameClash, modified[j].path);
            bool same = original[i].size == modified[j].size;
            if (same) status = Compare(modified[j], &same);
            if (status != VelkSetBuildStatus::kOk) return status;
            compared += original[i].size;
            if (m_progress && !m_progress->OnProgress(compared, toCompare)) return VelkSetBuildStatus::kCancelled;
            file.kind = velk_set::Kind::kModify;
            file.path = modified[j].path;
            file.originalSize = original[i].size;
            ++i, ++j;
            if (same) continue;
        } else if (inOriginal && (!inModified || Earlier(original[i].folded, modified[j].folded))) {
            file.kind = velk_set::Kind::kDelete;
            file.path = original[i].path;
            file.originalSize = original[i].size;
            ++i;
        } else {
            file.kind = velk_set::Kind::kCreate;
            file.path = modified[j].path;
            ++j;
        }
        planned.push_back(file);
    }
    if (planned.empty()) return VelkSetBuildStatus::kNoChanges;

    // The payloads, then the directory and the description behind them.
    CVELK_SetWriter writer(output);
    if (!writer.Begin()) return VelkSetBuildStatus::kOutputWriteFailed;
    for (const Planned& file : planned) {
        if (file.kind != velk_set::Kind::kDelete) {
            status = AddChanged(writer, file);
            if (status != VelkSetBuildStatus::kOk) return status;
            ++(file.kind == velk_set::Kind::kModify ? m_stats.modified : m_stats.created);
            continue;
        }
        // The CRC-32 of a file that goes, so that the set deletes only what it knows.
        CVELK_File gone;
        if (!gone.OpenFile(InFolderUtf8(m_originalRoot, file.path).c_str(), kModeReadExisting, kShareRead))
            return Fail(VelkSetBuildStatus::kOriginalUnreadable, file.path);
        uint32_t crc = 0;
        const int64_t size = gone.GetSize();
        if (size < 0 || StretchCrc(gone, 0, size, nullptr, &crc) != StretchCrcVerdict::kComputed)
            return Fail(VelkSetBuildStatus::kOriginalUnreadable, file.path);
        writer.AddDeleted(file.path, size, crc);
        ++m_stats.deleted;
    }

    // The anchor: the file asked for, or the largest modified one.
    size_t anchor = planned.size();
    for (size_t k = 0; k < planned.size(); ++k) {
        if (planned[k].kind != velk_set::Kind::kModify) continue;
        const bool chosen = m_anchor.empty() ? anchor == planned.size() || writer.ResultSize(k) > writer.ResultSize(anchor)
                                             : planned[k].path == m_anchor;
        if (chosen) anchor = k;
    }
    if (anchor == planned.size()) {
        if (!m_anchor.empty()) return Fail(VelkSetBuildStatus::kAnchorNotModified, m_anchor);
        return VelkSetBuildStatus::kNoModifiedFile;
    }
    m_stats.anchor = planned[anchor].path;
    if (!writer.Finish(static_cast<uint32_t>(anchor), m_description)) return VelkSetBuildStatus::kOutputWriteFailed;
    m_stats.payloadBytes = writer.Bytes();
    return VelkSetBuildStatus::kOk;
}
