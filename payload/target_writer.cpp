#include "payload/target_writer.h"

TargetWriteStatus CVELK_TargetWriter::Write(uint64_t position, const uint8_t* data, uint32_t length)
{
    if (!m_target.Seek(static_cast<int64_t>(position))) return TargetWriteStatus::kSeekFailed;
    if (m_target.Write(data, length) != length) return TargetWriteStatus::kWriteFailed;
    return TargetWriteStatus::kOk;
}
