#include "payload/ips_in.h"

#include <cstring>

#include "file/chunked_crc.h"
#include "file/velk_file.h"
#include "payload/format.h"
#include "payload/messages.h"
#include "payload/record_stream.h"
#include "payload/target_writer.h"

using namespace velk_messages;

namespace {

// How many records go by between two progress reports, and between two looks at the stop request.
constexpr uint32_t kProgressInterval = 1u << 14;
constexpr uint32_t kStopPollInterval = 256;

}  // namespace

bool CVELK_IPS_IN::Fail(const char16_t* message)
{
    m_owner.ShowMessage(message);
    return false;
}

bool CVELK_IPS_IN::FailTargetWrite(TargetWriteStatus status)
{
    return Fail(status == TargetWriteStatus::kSeekFailed ? kTargetSeekFailed : kWriteFailed);
}

bool CVELK_IPS_IN::ApplyPatch(const NativeChar* sourcePath, const NativeChar* targetPath,
                              int64_t payloadOffset)
{
    m_stopped = false;
    if (payloadOffset < 0) return false;
    // Both files are closed when they go out of scope, after the message has been dismissed.
    const std::unique_ptr<CVELK_xFile> source = OpenFile(sourcePath, kModeReadExisting, kShareRead);
    if (!source) return Fail(kPatchOpenFailed);
    const std::unique_ptr<CVELK_xFile> target = OpenFile(targetPath, kModeReadWriteExisting, kShareRead);
    if (!target) return Fail(kTargetOpenFailed);
    return ApplyOpened(*source, *target, payloadOffset);
}

std::unique_ptr<CVELK_xFile> CVELK_IPS_IN::OpenFile(const NativeChar* path, int mode, int share)
{
    std::unique_ptr<CVELK_File> file(new CVELK_File);
    if (!file->OpenFile(path, mode, share)) return nullptr;
    return file;
}

// The whole-file CRC of the target, a chunk at a time, reporting progress and stopping between
// chunks when asked. The same chunks as the file's own GetCrc32, read through the interface.
CVELK_IPS_IN::CrcVerdict CVELK_IPS_IN::CheckTargetCrc(CVELK_xFile& target, uint32_t expected)
{
    const int64_t size = target.GetSize();
    if (size < 0 || !target.Seek(0)) return CrcVerdict::kReadFailed;
    CVELK_ChunkedCrc crc(size);
    if (!crc.HasBuffer()) return CrcVerdict::kReadFailed;
    m_owner.ReportProgress(VelkProgressStage::kCrc, 0, size);
    while (!crc.Done()) {
        if (m_owner.StopRequested()) return CrcVerdict::kStopped;
        const bool read = crc.Next([&target](uint8_t* buffer, uint32_t n) {
            return velk_format::ReadFully(target, buffer, n) == n;
        });
        if (!read) return CrcVerdict::kReadFailed;
        m_owner.ReportProgress(VelkProgressStage::kCrc, crc.BytesDone(), size);
    }
    return crc.Crc() == expected ? CrcVerdict::kMatches : CrcVerdict::kDiffers;
}

bool CVELK_IPS_IN::Stop()
{
    m_stopped = true;
    return false;
}

bool CVELK_IPS_IN::ApplyOpened(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset)
{
    m_stopped = false;
    if (payloadOffset < 0) return false;
    // A source that cannot be positioned has nothing to read at the payload offset; reading on
    // from wherever it stands would take other bytes for the payload.
    if (!source.Seek(payloadOffset)) return Fail(kInvalidPatch);

    // Cleared first: a magic text cut short must not be completed by an earlier application's data.
    std::memset(m_work, 0, velk_format::kMagicBytes + 1);
    if (velk_format::ReadFully(source, m_work, velk_format::kMagicBytes) == 0) return Fail(kInvalidPatch);
    m_work[velk_format::kMagicBytes] = 0;
    switch (velk_format::ClassifyMagic(m_work, velk_format::kMagicBytes)) {
    case velk_format::VersionVerdict::kInvalid: return Fail(kInvalidPatch);
    case velk_format::VersionVerdict::kOlder: return Fail(kOlderVersion);
    case velk_format::VersionVerdict::kUnknown: return Fail(kUnknownVersion);
    case velk_format::VersionVerdict::kCurrent: break;
    }

    uint64_t patchedSize = 0, targetCrc = 0, dataOffset = 0;
    if (!velk_format::ReadField(source, &patchedSize, 8)) return Fail(kDamaged1);
    if (!velk_format::ReadField(source, &targetCrc, 4)) return Fail(kDamaged2);
    if (targetCrc != 0) {
        switch (CheckTargetCrc(target, static_cast<uint32_t>(targetCrc))) {
        case CrcVerdict::kMatches: break;
        case CrcVerdict::kDiffers:
            if (!m_owner.AskOkCancel(kCrcQuestion)) return false;
            break;
        case CrcVerdict::kReadFailed: return Fail(kTargetReadFailed);
        case CrcVerdict::kStopped: return Stop();
        }
    }
    if (!velk_format::ReadField(source, &dataOffset, 4)) return Fail(kDamaged3);
    const int64_t payloadLength = source.GetSize() - payloadOffset;
    if (dataOffset < velk_format::kHeaderBytes || static_cast<int64_t>(dataOffset) >= payloadLength)
        return Fail(kDamaged4);

    // The whole stream is read once before the target is touched: a damaged payload is refused
    // with the message the writing pass would have shown, and the target stays as it was.
    const int64_t streamStart = payloadOffset + static_cast<int64_t>(dataOffset);
    if (!source.Seek(streamStart)) return Fail(kSourceSeekFailed);
    const int64_t span = payloadLength - static_cast<int64_t>(dataOffset);
    CVELK_ReadAhead checked(source, span < m_streamMemoryBytes ? static_cast<uint32_t>(span) + 1
                                                               : m_streamMemoryBytes);
    if (const char16_t* fault = CheckRecords(checked)) return Fail(fault);
    const int64_t streamBytes = checked.Consumed();

    // A stream the checking pass still holds whole is written from memory: once the target has
    // changed, no read of the patch source is left that could fail. A longer one is read again,
    // positioned before the target is touched.
    bool written;
    if (checked.Rewind()) {
        if (!target.SetSize(static_cast<int64_t>(patchedSize))) return Fail(kResizeFailed);
        written = WriteRecords(checked, target, streamBytes);
    } else {
        if (!source.Seek(streamStart)) return Fail(kSourceSeekFailed);
        CVELK_ReadAhead input(source);
        if (!target.SetSize(static_cast<int64_t>(patchedSize))) return Fail(kResizeFailed);
        written = WriteRecords(input, target, streamBytes);
    }
    if (!written) return false;
    m_owner.ShowMessage(kSuccess);
    return true;
}

const char16_t* CVELK_IPS_IN::CheckRecords(CVELK_ReadAhead& input)
{
    CVELK_RecordReader reader(input, m_work);
    for (;;) {
        switch (reader.Next(false)) {
        case RecordStatus::kEnd: return nullptr;
        case RecordStatus::kFault: return reader.Fault();
        case RecordStatus::kRecord:
            if (static_cast<int64_t>(reader.Position()) < 0) return kTargetSeekFailed;
            break;
        }
    }
}

bool CVELK_IPS_IN::ApplyRecords(CVELK_xFile& source, CVELK_xFile& target)
{
    const int64_t streamStart = source.Tell();
    const int64_t streamBytes = streamStart < 0 ? 0 : source.GetSize() - streamStart;
    CVELK_ReadAhead input(source);
    return WriteRecords(input, target, streamBytes);
}

bool CVELK_IPS_IN::WriteRecords(CVELK_ReadAhead& input, CVELK_xFile& target, int64_t streamBytes)
{
    CVELK_RecordReader reader(input, m_work);
    CVELK_TargetWriter writer(target);
    for (uint32_t count = 0;; ++count) {
        if (count % kProgressInterval == 0)
            m_owner.ReportProgress(VelkProgressStage::kRecords, input.Consumed(), streamBytes);
        if (count % kStopPollInterval == 0 && count != 0 && m_owner.StopRequested()) {
            writer.Finish();
            return Stop();
        }
        const RecordStatus status = reader.Next(true);
        if (status == RecordStatus::kFault) {
            // Records held back by the writer came first: their failure is the one to report.
            const TargetWriteStatus held = writer.Finish();
            return held != TargetWriteStatus::kOk ? FailTargetWrite(held) : Fail(reader.Fault());
        }
        if (status == RecordStatus::kEnd) break;
        const TargetWriteStatus written = writer.Write(reader.Position(), m_work, reader.Delivered());
        if (written != TargetWriteStatus::kOk) return FailTargetWrite(written);
    }
    const TargetWriteStatus held = writer.Finish();
    if (held != TargetWriteStatus::kOk) return FailTargetWrite(held);
    m_owner.ReportProgress(VelkProgressStage::kRecords, streamBytes, streamBytes);
    return true;
}
