// The payload header as the program shows it before anything is applied: version text,
// description, patched size and target CRC, and the three-line summary built from them; and the
// result's CRC-32 when the payload carries an extension block.
#pragma once

#include <cstdint>
#include <string>

#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "format/extension_block.h"

class CQM_DravInfo {
public:
    static constexpr uint32_t kVersionUnits = 17;
    static constexpr uint32_t kDescriptionUnits = 65536;

    CQM_DravInfo() { Clear(); }
    virtual ~CQM_DravInfo() {}

    // True when the header at `payloadOffset` of the file is usable. Shows nothing.
    bool ReadInfo(const NativeChar* executablePath, int64_t payloadOffset);
    // The same over a file that is already open (it is left open).
    bool ReadInfoFrom(CVELK_xFile& file, int64_t payloadOffset);

    std::u16string FormatSummary() const;
    // The line that tells the result's CRC-32, empty without an extension block. The patch
    // program's summary box keeps its three lines; velkpatch info adds this one.
    std::u16string FormatResultLine() const;

    const char16_t* VersionText() const { return m_version; }
    const char16_t* Description() const { return m_description; }
    int64_t PatchedSize() const { return m_patchedSize; }
    uint32_t TargetCrc() const { return m_targetCrc; }
    // Null when the payload has no extension block that counts.
    const VelkResultIdentity* ResultIdentity() const { return m_hasResult ? &m_result : nullptr; }

    // A set (format/set_format.h): the number of its files, their size once patched, and the name
    // of the file the user picks (its last part alone, for the name box of the chooser).
    bool IsSet() const { return m_isSet; }
    uint32_t FileCount() const { return m_fileCount; }
    const char16_t* AnchorName() const { return m_anchorName; }

private:
    void Clear();
    bool ReadSet(CVELK_xFile& file, int64_t payloadOffset);
    void ReadDescription(CVELK_xFile& file, int64_t payloadOffset, uint64_t descriptionOffset);
    bool Refuse()
    {
        Clear();
        return false;
    }

    char16_t m_version[kVersionUnits];
    char16_t m_description[kDescriptionUnits];
    int64_t m_patchedSize;
    uint32_t m_targetCrc;
    bool m_hasResult;
    VelkResultIdentity m_result;
    bool m_isSet;
    uint32_t m_fileCount;
    char16_t m_anchorName[kMaxPathUnits];
};
