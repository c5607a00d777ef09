// Makes a set payload (format/set_format.h) from two folder trees, the original and the
// modified: files are compared by size, then by content, and unchanged ones stay out; a file
// only in the modified tree is created, one only in the original is deleted, and every other
// changed file gets an ordinary payload made by CVELK_PatchBuilder. Memory holds the list of
// the two trees' paths; every file is streamed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "maker/patch_builder.h"

enum class VelkSetBuildStatus {
    kOk,
    kOriginalUnreadable,  // a folder or file of the original tree (Problem() names it)
    kModifiedUnreadable,
    kNotAFile,            // a link, a device or a pipe in a tree: a set names files only
    kUnsafeName,          // a name that is not a valid file name on every platform, or not UTF-8
    kNameClash,           // two names of one tree that differ only by case
    kNoChanges,
    kNoModifiedFile,      // nothing is modified in place, so there is no file to pick
    kAnchorNotModified,   // the anchor asked for is not a modified file
    kFileFailed,          // a file's payload could not be made (a file changed as it was read, no memory)
    kOutputWriteFailed,
    kCancelled,
};

struct VelkSetStats {
    uint32_t modified = 0, created = 0, deleted = 0;
    uint64_t payloadBytes = 0;
    std::string anchor;  // its path in the set
};

class CVELK_SetBuilder {
public:
    CVELK_SetBuilder(const NativeString& originalRoot, const NativeString& modifiedRoot);

    void SetDescription(std::u16string description) { m_description = std::move(description); }
    // The file the user will pick, as a path relative to the roots ('/' between folders); by
    // default the largest modified file.
    void SetAnchor(std::string path) { m_anchor = std::move(path); }
    void SetProgress(CVELK_BuildProgress* progress) { m_progress = progress; }

    // Writes the whole set at the output's current position; the output must be seekable.
    VelkSetBuildStatus Build(CVELK_xFile& output);
    const VelkSetStats& Stats() const { return m_stats; }
    // The path a failure is about (UTF-8, relative to the roots; empty for neither).
    const std::string& Problem() const { return m_problem; }

private:
    struct Item {
        std::string path;    // UTF-8, '/' between folders
        std::string folded;  // the path in one case: the directory's order
        int64_t size = 0;
    };
    struct Planned;
    VelkSetBuildStatus ListTree(const NativeString& root, bool original, std::vector<Item>* items);
    VelkSetBuildStatus Walk(const NativeString& root, const std::string& folder, bool original,
                            std::vector<Item>* items);
    VelkSetBuildStatus Compare(const Item& item, bool* same);
    VelkSetBuildStatus AddChanged(class CVELK_SetWriter& writer, const Planned& file);
    VelkSetBuildStatus Fail(VelkSetBuildStatus status, const std::string& path);

    NativeString m_originalRoot, m_modifiedRoot;
    std::u16string m_description;
    std::string m_anchor;
    CVELK_BuildProgress* m_progress = nullptr;
    VelkSetStats m_stats;
    std::string m_problem;
};
