#include "format/summary.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "file/io.h"
#include "file/velk_file.h"
#include "format/payload_format.h"
#include "format/payload_text.h"
#include "format/set_format.h"

void CQM_DravInfo::Clear()
{
    m_version[0] = 0;
    m_description[0] = 0;
    m_patchedSize = 0;
    m_targetCrc = 0;
    m_hasResult = false;
    m_result = VelkResultIdentity();
    m_isSet = false;
    m_fileCount = 0;
    m_anchorName[0] = 0;
}

bool CQM_DravInfo::ReadInfo(const NativeChar* executablePath, int64_t payloadOffset)
{
    Clear();
    if (payloadOffset < 0) return false;
    CVELK_File file;
    if (!file.OpenFile(executablePath, kModeReadExisting, kShareRead)) return false;
    return ReadInfoFrom(file, payloadOffset);
}

bool CQM_DravInfo::ReadInfoFrom(CVELK_xFile& file, int64_t payloadOffset)
{
    Clear();
    if (payloadOffset < 0) return false;
    if (!file.Seek(payloadOffset)) return false;

    char magic[velk_format::kMagicBytes + 1] = {};
    if (velk_io::ReadFully(file, magic, velk_format::kMagicBytes) == 0) return false;
    if (std::memcmp(magic, velk_set::kMagic, sizeof velk_set::kMagic) == 0) return ReadSet(file, payloadOffset) || Refuse();
    int major = 0, minor = 0;
    if (velk_format::ScanVersion(magic, &major, &minor) != 2) return false;
    const std::u16string version = AnsiToUtf16(magic, velk_format::kMagicBytes);
    if (!(major == 3 && minor == 0)) return Refuse();

    uint64_t patchedSize = 0, targetCrc = 0, dataOffset = 0, descriptionOffset = 0;
    if (!velk_format::ReadField(file, &patchedSize, 8) || !velk_format::ReadField(file, &targetCrc, 4) ||
        !velk_format::ReadField(file, &dataOffset, 4))
        return Refuse();
    // Checked against the whole file here; the application checks against the payload alone.
    if (dataOffset < velk_format::kHeaderBytes || static_cast<int64_t>(dataOffset) >= file.GetSize())
        return Refuse();
    if (!velk_format::ReadField(file, &descriptionOffset, 8)) return Refuse();

    const size_t versionUnits = version.size() < kVersionUnits - 1 ? version.size() : kVersionUnits - 1;
    std::memcpy(m_version, version.data(), versionUnits * sizeof(char16_t));
    m_version[versionUnits] = 0;
    m_patchedSize = static_cast<int64_t>(patchedSize);
    m_targetCrc = static_cast<uint32_t>(targetCrc);
    m_hasResult = velk_extension::Read(file, payloadOffset, dataOffset, &m_result);

    ReadDescription(file, payloadOffset, descriptionOffset);
    return true;
}

// Without a reachable description offset there is no description, rather than text read from
// wherever the file position happens to be.
void CQM_DravInfo::ReadDescription(CVELK_xFile& file, int64_t payloadOffset, uint64_t descriptionOffset)
{
    const bool reachable =
        descriptionOffset != 0 && descriptionOffset <= static_cast<uint64_t>(INT64_MAX - payloadOffset);
    if (!reachable || !file.Seek(payloadOffset + static_cast<int64_t>(descriptionOffset))) return;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(m_description);
    const uint32_t got = velk_io::ReadFully(file, bytes, velk_format::kMaxDescriptionBytes);
    const uint32_t units = got / 2;
    // The payload is little-endian; decode rather than assume the host's order.
    for (uint32_t i = 0; i < units; ++i) m_description[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    m_description[units] = 0;
}

// A set reads only when its whole directory does.
bool CQM_DravInfo::ReadSet(CVELK_xFile& file, int64_t payloadOffset)
{
    velk_set::CVELK_SetReader reader(file, payloadOffset);
    if (!reader.Start()) return false;
    velk_set::Entry entry;
    while (reader.Next(&entry)) {
        ++m_fileCount;
        if (entry.kind != velk_set::Kind::kDelete) m_patchedSize += static_cast<int64_t>(entry.resultSize);
        if (reader.Index() != reader.SetHeader().anchor) continue;
        std::u16string name;
        const char* last = std::strrchr(entry.path, '/');
        const char* start = last ? last + 1 : entry.path;
        AppendUtf8(&name, start, entry.pathBytes - static_cast<uint32_t>(start - entry.path));
        const size_t units = name.size() < kMaxPathUnits - 1 ? name.size() : kMaxPathUnits - 1;
        std::memcpy(m_anchorName, name.data(), units * sizeof(char16_t));
        m_anchorName[units] = 0;
    }
    if (reader.Failed()) return false;
    m_isSet = true;
    size_t units = 0;
    for (; velk_set::kMagic[units] != 0; ++units) m_version[units] = static_cast<char16_t>(velk_set::kMagic[units]);
    m_version[units] = 0;
    ReadDescription(file, payloadOffset, reader.SetHeader().descriptionOffset);
    return true;
}

namespace {

// The digits are written by hand: the C library's formatter alone would add a fifth to the size
// of the patch program, which shows this summary.
std::u16string UpperHex8(uint32_t value)
{
    char16_t digits[8];
    for (int i = 7; i >= 0; --i, value >>= 4) digits[i] = u"0123456789ABCDEF"[value & 15];
    return std::u16string(digits, 8);
}

}  // namespace

std::u16string CQM_DravInfo::FormatSummary() const
{
    std::u16string text = u"补丁版本: ";
    text += m_version;
    if (m_isSet) {
        text += u"\r\n补丁中的文件数: ";
        text += DecimalText(m_fileCount);
        text += u"\r\n打补丁后的文件大小合计: ";
        text += DecimalText(m_patchedSize);
        return text;
    }
    text += u"\r\n目标文件的CRC32验证: ";
    text += m_targetCrc != 0 ? UpperHex8(m_targetCrc) : u"无";
    text += u"\r\n打补丁后的文件大小: ";
    text += DecimalText(m_patchedSize);
    return text;
}

std::u16string CQM_DravInfo::FormatResultLine() const
{
    return m_hasResult ? u"打补丁后的文件的CRC32验证: " + UpperHex8(m_result.resultCrc) : std::u16string();
}
