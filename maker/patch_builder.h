// Makes a payload from an original and a modified file: the records that turn the one into the
// other. Both inputs are streamed in large blocks, so memory stays bounded whatever their size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "file/velk_xfile.h"
#include "maker/payload_writer.h"

// Told how far the build has come; answering false cancels it.
class CVELK_BuildProgress {
public:
    virtual ~CVELK_BuildProgress() {}
    virtual bool OnProgress(int64_t done, int64_t total) = 0;
};

enum class VelkBuildStatus {
    kOk,
    kOriginalReadFailed,
    kModifiedReadFailed,
    // The input held more bytes than its size said: it grew while it was read, or it is a
    // special file that reports no size (those in /proc). A patch from it would be wrong.
    kOriginalChanged,
    kModifiedChanged,
    kOutputWriteFailed,
    kCancelled,
    kNoMemory,
};

struct VelkBuildStats {
    uint64_t records = 0;
    uint64_t recordDataBytes = 0;  // data bytes of all records, merged equal gaps included
    uint64_t changedBytes = 0;     // bytes that differ from what the resize leaves
    uint64_t payloadBytes = 0;
    uint32_t originalCrc = 0;  // 0 also where the CRC was not checked
    uint32_t resultCrc = 0;
};

class CVELK_PatchBuilder {
public:
    static constexpr uint32_t kDefaultBlockBytes = 2u << 20;

    // `blockBytes` is how much of each input is read per step (at least 4 KiB, in whole pages so
    // that every read lands in phase with the file: io_buffer.h).
    CVELK_PatchBuilder(CVELK_xFile& original, CVELK_xFile& modified,
                       uint32_t blockBytes = kDefaultBlockBytes);
    ~CVELK_PatchBuilder();
    CVELK_PatchBuilder(const CVELK_PatchBuilder&) = delete;
    CVELK_PatchBuilder& operator=(const CVELK_PatchBuilder&) = delete;

    // UTF-16 text without its terminating NUL; empty means no description.
    void SetDescription(std::u16string description) { m_description = std::move(description); }
    // Without the check the payload records CRC 0 and any file can be patched.
    void SetCheckCrc(bool check) { m_checkCrc = check; }
    // Marks the patch so that every application of it keeps its undo journal beside the target.
    void SetKeepUndo(bool keep) { m_keepUndo = keep; }
    void SetProgress(CVELK_BuildProgress* progress) { m_progress = progress; }

    // Writes the whole payload at the output's current position, with the extension block that
    // records the modified file's CRC-32 and the original's size. The output must be seekable:
    // the header's CRC, description offset and block are filled in at the end.
    VelkBuildStatus Build(CVELK_xFile& output);

    const VelkBuildStats& Stats() const { return m_stats; }

private:
    class RecordPlanner;

    bool ReportProgress(int64_t done, int64_t total);
    // Whether the input ends where its size said; kOk, its read failure, or its "changed" status.
    static VelkBuildStatus CheckEnd(CVELK_xFile& input, int64_t size, VelkBuildStatus readFailed,
                                    VelkBuildStatus changed);
    VelkBuildStatus CompareInputs(int64_t originalSize, int64_t modifiedSize, RecordPlanner& planner,
                                  uint32_t* originalCrc, uint32_t* modifiedCrc);
    // Finds the changed runs of one block and hands them to the planner.
    bool CompareBlock(uint64_t base, const uint8_t* original, const uint8_t* modified, uint32_t length,
                      RecordPlanner& planner);

    CVELK_xFile& m_original;
    CVELK_xFile& m_modified;
    uint32_t m_blockBytes;
    std::u16string m_description;
    bool m_checkCrc = true;
    bool m_keepUndo = false;
    CVELK_BuildProgress* m_progress = nullptr;
    VelkBuildStats m_stats;
};

