#include "apply/application.h"

#include <algorithm>
#include <cstring>

#include "apply/messages.h"
#include "apply/result_check.h"
#include "apply/target_writer.h"
#include "file/io.h"
#include "file/velk_file.h"
#include "format/payload_format.h"
#include "format/record_stream.h"

using namespace velk_messages;

namespace {

// How many records go by between two progress reports, and between two looks at the stop request.
constexpr uint32_t kProgressInterval = 1u << 14;
constexpr uint32_t kStopPollInterval = 256;

const char16_t* TargetWriteFault(TargetWriteStatus status)
{
    switch (status) {
    case TargetWriteStatus::kOk: return nullptr;
    case TargetWriteStatus::kSeekFailed: return kTargetSeekFailed;
    case TargetWriteStatus::kWriteFailed: break;
    }
    return kWriteFailed;
}

}  // namespace

bool CVELK_IPS_IN::Fail(const char16_t* message)
{
    m_owner.ShowMessage(message);
    return false;
}

bool CVELK_IPS_IN::Fail(const char16_t* message, const char16_t* lastLine)
{
    // Every message and line is far shorter; a fixed buffer keeps the string classes out of the
    // patch program.
    char16_t text[256];
    size_t n = 0;
    for (const char16_t* part : {message, u"\n", lastLine}) {
        for (; *part != 0 && n + 1 < sizeof text / sizeof text[0]; ++part) text[n++] = *part;
    }
    text[n] = 0;
    return Fail(text);
}

CVELK_IPS_IN::Prepared CVELK_IPS_IN::End(const char16_t* message)
{
    Fail(message);
    return Prepared::kEnded;
}

bool CVELK_IPS_IN::Stop()
{
    m_stopped = true;
    return false;
}

std::unique_ptr<CVELK_xFile> CVELK_IPS_IN::OpenFile(const NativeChar* path, int mode, int share)
{
    return m_files->Open(path, mode, share);
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
    // The target is held now, so no other application is writing it: what a journal beside it
    // says is left from one that was interrupted.
    CVELK_UndoJournal journal(*m_files, targetPath);
    const RecoveryOutcome recovery = journal.Recover(*target);
    if (!Recovered(recovery)) return false;
    if (recovery == RecoveryOutcome::kRestored) m_owner.Notice(VelkNotice::kRestoredInterrupted);
    return Apply(*source, *target, payloadOffset, &journal);
}

VelkExamination CVELK_IPS_IN::Examine(const NativeChar* sourcePath, const NativeChar* targetPath,
                                      int64_t payloadOffset)
{
    m_stopped = false;
    VelkExamination facts;
    if (payloadOffset < 0) return facts;
    const std::unique_ptr<CVELK_xFile> source = OpenFile(sourcePath, kModeReadExisting, kShareRead);
    const std::unique_ptr<CVELK_xFile> target =
        source ? OpenFile(targetPath, kModeReadExisting, kShareRead) : std::unique_ptr<CVELK_xFile>();
    if (!target) {
        Fail(source ? kTargetOpenFailed : kPatchOpenFailed);
        return facts;
    }

    Plan plan;
    const Prepared prepared = Prepare(*source, *target, payloadOffset, &plan);
    facts.outcome = prepared == Prepared::kWrite            ? VelkExamination::Outcome::kWouldApply
                    : prepared == Prepared::kAlreadyPatched ? VelkExamination::Outcome::kAlreadyPatched
                                                            : VelkExamination::Outcome::kRefused;
    facts.patchedSize = plan.header.patchedSize;
    facts.expectedCrc = plan.header.targetCrc;
    facts.hasIdentity = plan.header.hasIdentity;
    facts.identity = plan.header.identity;
    facts.targetSize = plan.oldSize;
    facts.targetCrcKnown = plan.targetCrcKnown;
    facts.targetCrc = plan.targetCrc;
    return facts;
}

RecoveryOutcome CVELK_IPS_IN::RecoverTarget(const NativeChar* targetPath)
{
    m_stopped = false;
    const std::unique_ptr<CVELK_xFile> target = OpenFile(targetPath, kModeReadWriteExisting, kShareRead);
    if (!target) {
        Fail(kTargetOpenFailed);
        return RecoveryOutcome::kFailed;
    }
    CVELK_UndoJournal journal(*m_files, targetPath);
    const RecoveryOutcome outcome = journal.Recover(*target);
    Recovered(outcome);
    return outcome;
}

bool CVELK_IPS_IN::Recovered(RecoveryOutcome outcome)
{
    switch (outcome) {
    case RecoveryOutcome::kNothingPending:
    case RecoveryOutcome::kDiscarded:
    case RecoveryOutcome::kRestored: return true;
    case RecoveryOutcome::kUnusable: return Fail(kJournalUnusable);
    case RecoveryOutcome::kDamaged: return Fail(kJournalDamaged);
    case RecoveryOutcome::kFailed: break;
    }
    return Fail(kRecoveryFailed, kRestoreNextTime);
}

bool CVELK_IPS_IN::ApplyOpened(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset)
{
    m_stopped = false;
    return Apply(source, target, payloadOffset, nullptr);
}

CVELK_IPS_IN::Plan::Plan() = default;
CVELK_IPS_IN::Plan::~Plan() = default;

bool CVELK_IPS_IN::Apply(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset, CVELK_UndoJournal* journal)
{
    Plan plan;
    switch (Prepare(source, target, payloadOffset, &plan)) {
    case Prepared::kEnded: return false;
    case Prepared::kAlreadyPatched: m_owner.ShowMessage(kAlreadyPatched); return true;
    case Prepared::kWrite: break;
    }
    const Header& header = plan.header;
    // The result's check reads what the records will overwrite before anything changes.
    if (plan.result && !plan.result->ReadBefore(target)) return plan.result->Stopped() ? Stop() : Fail(kTargetReadFailed);

    // What the records overwrite is saved before anything changes. (A negative size fails at the
    // resize, before anything changes.)
    std::unique_ptr<CVELK_ReadAhead> again;
    bool journaled = false;
    const bool journaling = journal && m_journalEnabled && header.patchedSize >= 0;
    m_recordPass = 0;
    m_recordPasses = journaling ? 2 : 1;
    if (journaling) {
        if (plan.oldSize < 0) return Fail(kTargetReadFailed);
        CVELK_ReadAhead* input = Restart(*plan.checked, again, source, header.streamStart);
        if (!input) return Fail(kSourceSeekFailed);
        velk_journal::Header journalPlan;
        journalPlan.oldSize = plan.oldSize;
        journalPlan.patchedSize = header.patchedSize;
        journalPlan.largestSize = std::max(header.patchedSize, plan.stream.largestEnd);
        if (!WriteJournal(*input, plan.stream.bytes, target, journalPlan, *journal, &journaled)) return false;
        if (!journaled) m_owner.Notice(VelkNotice::kNoUndoJournal);
        m_recordPass = 1;
    }
    CVELK_UndoJournal* undo = journaled ? journal : nullptr;
    // Without a journal nothing could undo a write that fails for want of space halfway: the
    // space the records write is made sure of before the first change.
    if (!journaled && m_journalEnabled && header.patchedSize >= 0) {
        CVELK_ReadAhead* input = Restart(*plan.checked, again, source, header.streamStart);
        if (!input) return Fail(kSourceSeekFailed);
        const char16_t* fault = ReserveRecords(*input, target);
        if (fault) return Fail(fault);
    }

    // A stream the checking pass still holds whole is written from memory: once the target has
    // changed, no read of the patch source is left that could fail. A longer one is read again,
    // positioned before the target is touched.
    CVELK_ReadAhead* input = Restart(*plan.checked, again, source, header.streamStart);
    if (!input) return Fail(kSourceSeekFailed);
    if (!target.SetSize(header.patchedSize)) {
        // An extension that failed part of the way is cut off again.
        if (!undo && plan.oldSize >= 0 && target.GetSize() != plan.oldSize) target.SetSize(plan.oldSize);
        return Undo(undo, target, kResizeFailed);
    }
    const Written written = WriteRecords(*input, target, plan.stream.bytes, journaled);
    if (written.stopped) return Undo(undo, target, nullptr);
    if (written.fault) return Undo(undo, target, written.fault);
    // The message claims the original back only where the journal did put it back.
    if (plan.result) {
        // Once the target has changed, only a journal can honour a stop.
        plan.result->AllowStop(journaled);
        uint32_t crc = 0;
        if (!plan.result->ReadAfter(target, &crc))
            return Undo(undo, target, plan.result->Stopped() ? nullptr : kTargetReadFailed);
        if (crc != header.identity.resultCrc) return Undo(undo, target, kResultCrcFailedKept, kResultCrcFailed);
    }

    // Success only once the target is on the disk and the journal gone; a journal that could not
    // be removed would undo this application at the next one. After a failed flush no one can
    // tell what reached the disk: the journal stays and restores the file at the next application.
    if (m_journalEnabled && !target.Flush()) return journaled ? Fail(kWriteFailed, kRestoreNextTime) : Fail(kWriteFailed);
    if (journaled && !journal->Commit()) return Fail(kWriteFailed, kRestoreNextTime);
    m_owner.ShowMessage(kSuccess);
    return true;
}

CVELK_IPS_IN::Prepared CVELK_IPS_IN::Prepare(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset,
                                             Plan* plan)
{
    Header& header = plan->header;
    if (!ReadHeader(source, payloadOffset, &header)) return Prepared::kEnded;
    // A block is judged against the data offset, so with one the data offset is checked before
    // the CRC step; without one the CRC question comes first, as it always has.
    const char16_t* fault = header.hasIdentity ? CheckDataOffset(source, payloadOffset, &header) : nullptr;
    if (fault) return End(fault);
    const Prepared checked = CheckTarget(target, plan);
    if (checked != Prepared::kWrite) return checked;
    fault = header.hasIdentity ? nullptr : CheckDataOffset(source, payloadOffset, &header);
    if (fault) return End(fault);

    // The whole stream is read once before the target is touched: a damaged payload is refused
    // with the message the writing pass would have shown, and the target stays as it was.
    if (!source.Seek(header.streamStart)) return End(kSourceSeekFailed);
    const int64_t span = header.streamSpan;
    plan->checked.reset(
        new CVELK_ReadAhead(source, span < m_streamMemoryBytes ? static_cast<uint32_t>(span) + 1 : m_streamMemoryBytes));
    plan->stream = CheckRecords(*plan->checked, plan->result.get());
    if (plan->stream.fault) return End(plan->stream.fault);
    return Prepared::kWrite;
}

bool CVELK_IPS_IN::ReadHeader(CVELK_xFile& source, int64_t payloadOffset, Header* header)
{
    if (payloadOffset < 0) return false;
    // A source that cannot be positioned has nothing to read at the payload offset; reading on
    // from wherever it stands would take other bytes for the payload.
    if (!source.Seek(payloadOffset)) return Fail(kInvalidPatch);

    // Cleared first: a magic text cut short must not be completed by an earlier application's data.
    std::memset(m_work, 0, velk_format::kMagicBytes + 1);
    if (velk_io::ReadFully(source, m_work, velk_format::kMagicBytes) == 0) return Fail(kInvalidPatch);
    m_work[velk_format::kMagicBytes] = 0;
    switch (velk_format::ClassifyMagic(m_work, velk_format::kMagicBytes)) {
    case velk_format::VersionVerdict::kInvalid: return Fail(kInvalidPatch);
    case velk_format::VersionVerdict::kOlder: return Fail(kOlderVersion);
    case velk_format::VersionVerdict::kUnknown: return Fail(kUnknownVersion);
    case velk_format::VersionVerdict::kCurrent: break;
    }

    uint64_t patchedSize = 0, targetCrc = 0;
    if (!velk_format::ReadField(source, &patchedSize, 8)) return Fail(kDamaged1);
    if (!velk_format::ReadField(source, &targetCrc, 4)) return Fail(kDamaged2);
    header->patchedSize = static_cast<int64_t>(patchedSize);
    header->targetCrc = static_cast<uint32_t>(targetCrc);
    // A data offset that cannot be read is reported in its turn, by CheckDataOffset.
    header->dataOffsetRead = velk_format::ReadField(source, &header->dataOffset, 4);
    header->hasIdentity = header->dataOffsetRead &&
                          velk_extension::Read(source, payloadOffset, header->dataOffset, &header->identity);
    return true;
}

const char16_t* CVELK_IPS_IN::CheckDataOffset(CVELK_xFile& source, int64_t payloadOffset, Header* header)
{
    if (!header->dataOffsetRead) return kDamaged3;
    const int64_t payloadLength = source.GetSize() - payloadOffset;
    const uint64_t dataOffset = header->dataOffset;
    if (dataOffset < velk_format::kHeaderBytes || static_cast<int64_t>(dataOffset) >= payloadLength) return kDamaged4;
    header->streamStart = payloadOffset + static_cast<int64_t>(dataOffset);
    header->streamSpan = payloadLength - static_cast<int64_t>(dataOffset);
    return nullptr;
}

CVELK_IPS_IN::Prepared CVELK_IPS_IN::CheckTarget(CVELK_xFile& target, Plan* plan)
{
    const Header& header = plan->header;
    plan->oldSize = target.GetSize();
    // The target's CRC-32 is computed once: for the recorded CRC, or, where none is recorded,
    // only when the size already says it may be the patched file.
    const bool mayBePatched = header.hasIdentity && plan->oldSize == header.patchedSize;
    if (header.targetCrc == 0 && !mayBePatched) return Prepared::kWrite;
    switch (TargetCrc(target, plan->oldSize, &plan->targetCrc)) {
    case StretchCrcVerdict::kComputed: break;
    case StretchCrcVerdict::kReadFailed: return End(kTargetReadFailed);
    case StretchCrcVerdict::kStopped: Stop(); return Prepared::kEnded;
    }
    plan->targetCrcKnown = true;
    // Also where the original and the result are one file: nothing would change.
    if (mayBePatched && plan->targetCrc == header.identity.resultCrc) return Prepared::kAlreadyPatched;
    if (header.targetCrc == 0) return Prepared::kWrite;
    if (plan->targetCrc != header.targetCrc)
        return m_owner.AskOkCancel(kCrcQuestion) ? Prepared::kWrite : Prepared::kEnded;
    // The target is the original the publisher patched: the result must be the file they made.
    // Where the user chose to go on with another file, or no CRC is recorded, it is not checked.
    if (header.hasIdentity && header.patchedSize >= 0) {
        plan->result.reset(new CVELK_ResultCheck(plan->targetCrc, plan->oldSize, header.patchedSize, m_resultRangeCost));
        plan->result->Watch(&m_owner);
    }
    return Prepared::kWrite;
}

// The whole-file CRC of the target, a chunk at a time, reporting progress and stopping between
// chunks when asked.
StretchCrcVerdict CVELK_IPS_IN::TargetCrc(CVELK_xFile& target, int64_t size, uint32_t* result)
{
    if (size < 0) return StretchCrcVerdict::kReadFailed;
    m_owner.ReportProgress(VelkProgressStage::kCrc, 0, size);
    return StretchCrc(target, 0, size, &m_owner, true, result);
}

CVELK_IPS_IN::StreamCheck CVELK_IPS_IN::CheckRecords(CVELK_ReadAhead& input, CVELK_ResultCheck* result)
{
    StreamCheck check;
    CVELK_RecordReader reader(input, m_work);
    for (;;) {
        switch (reader.Next(false)) {
        case RecordStatus::kEnd:
            check.bytes = input.Consumed();
            return check;
        case RecordStatus::kFault:
            check.fault = reader.Fault();
            return check;
        case RecordStatus::kRecord: {
            const auto position = static_cast<int64_t>(reader.Position());
            if (position < 0) {
                check.fault = kTargetSeekFailed;
                return check;
            }
            // Past 2^63 the record fails at its write anyway; the largest size saturates.
            const int64_t room = INT64_MAX - position;
            const int64_t end = reader.Delivered() > room ? INT64_MAX : position + reader.Delivered();
            check.largestEnd = std::max(check.largestEnd, end);
            if (result) result->Note(position, end - position);
            break;
        }
        }
    }
}

CVELK_ReadAhead* CVELK_IPS_IN::Restart(CVELK_ReadAhead& checked, std::unique_ptr<CVELK_ReadAhead>& again,
                                       CVELK_xFile& source, int64_t streamStart)
{
    if (checked.Rewind()) return &checked;
    if (!source.Seek(streamStart)) return nullptr;
    again.reset(new CVELK_ReadAhead(source));
    return again.get();
}

bool CVELK_IPS_IN::WriteJournal(CVELK_ReadAhead& input, int64_t streamBytes, CVELK_xFile& target,
                                const velk_journal::Header& plan, CVELK_UndoJournal& journal, bool* journaled)
{
    *journaled = false;
    struct OwnerPacer : CVELK_Pacer {
        explicit OwnerPacer(CVELK_MessageOwner& owner) : m_owner(owner) {}
        void Progress(int64_t, int64_t) override {}
        bool StopRequested() override { return m_owner.StopRequested(); }
        CVELK_MessageOwner& m_owner;
    } pacer(m_owner);
    JournalStatus status = journal.Begin(target, plan, pacer);
    CVELK_RecordReader reader(input, m_work);
    for (uint32_t count = 0; status == JournalStatus::kOk; ++count) {
        if (BetweenRecords(count, input.Consumed(), streamBytes, true)) {
            status = JournalStatus::kStopped;
            break;
        }
        const RecordStatus record = reader.Next(true);
        if (record == RecordStatus::kEnd) break;
        // Only a long stream is read again here; its source may fail where it did not before.
        if (record == RecordStatus::kFault) {
            journal.Abandon();
            return Fail(reader.Fault());
        }
        status = journal.Note(static_cast<int64_t>(reader.Position()), m_work, reader.Delivered());
    }
    if (status == JournalStatus::kOk) status = journal.Seal();
    switch (status) {
    case JournalStatus::kOk: *journaled = true; return true;
    case JournalStatus::kJournalFailed: journal.Abandon(); return true;
    // Recovery has just found the name free and no one else can open the target: whoever made
    // the file there does not keep to the locks. No application without a journal beside it.
    case JournalStatus::kTaken: return Fail(kTargetBusy);
    case JournalStatus::kTargetReadFailed: journal.Abandon(); return Fail(kTargetReadFailed);
    case JournalStatus::kStopped: journal.Abandon(); return Stop();
    }
    return false;
}

const char16_t* CVELK_IPS_IN::ReserveRecords(CVELK_ReadAhead& input, CVELK_xFile& target)
{
    CVELK_RecordReader reader(input, m_work);
    int64_t from = 0, to = 0;  // ranges closer than the target writer's gap are reserved as one
    for (;;) {
        const RecordStatus status = reader.Next(false);
        if (status == RecordStatus::kEnd) break;
        if (status == RecordStatus::kFault) return reader.Fault();
        const auto position = static_cast<int64_t>(reader.Position());
        const int64_t end = position + std::min<int64_t>(reader.Delivered(), INT64_MAX - position);
        const int64_t gap = CVELK_TargetWriter::kGapBytes;
        if (from < to && position <= to + gap && end + gap >= from) {
            from = std::min(from, position);
            to = std::max(to, end);
            continue;
        }
        if (from < to && !target.Reserve(from, to - from)) return kResizeFailed;
        from = position;
        to = end;
    }
    return from < to && !target.Reserve(from, to - from) ? kResizeFailed : nullptr;
}

CVELK_IPS_IN::Written CVELK_IPS_IN::WriteRecords(CVELK_ReadAhead& input, CVELK_xFile& target, int64_t streamBytes,
                                                bool stoppable)
{
    Written result;
    CVELK_RecordReader reader(input, m_work);
    CVELK_TargetWriter writer(target);
    for (uint32_t count = 0;; ++count) {
        if (BetweenRecords(count, input.Consumed(), streamBytes, stoppable)) {
            writer.Finish();
            result.stopped = true;
            return result;
        }
        const RecordStatus status = reader.Next(true);
        if (status == RecordStatus::kFault) {
            // Records held back by the writer came first: their failure is the one to report.
            const char16_t* held = TargetWriteFault(writer.Finish());
            result.fault = held ? held : reader.Fault();
            return result;
        }
        if (status == RecordStatus::kEnd) break;
        result.fault = TargetWriteFault(writer.Write(reader.Position(), m_work, reader.Delivered()));
        if (result.fault) return result;
    }
    result.fault = TargetWriteFault(writer.Finish());
    if (!result.fault) ReportRecords(streamBytes, streamBytes);
    return result;
}

bool CVELK_IPS_IN::BetweenRecords(uint32_t count, int64_t done, int64_t streamBytes, bool stoppable)
{
    if (count % kProgressInterval == 0) ReportRecords(done, streamBytes);
    return stoppable && count % kStopPollInterval == 0 && count != 0 && m_owner.StopRequested();
}

void CVELK_IPS_IN::ReportRecords(int64_t done, int64_t streamBytes)
{
    m_owner.ReportProgress(VelkProgressStage::kRecords, m_recordPass * streamBytes + done,
                           m_recordPasses * streamBytes);
}

bool CVELK_IPS_IN::Undo(CVELK_UndoJournal* journal, CVELK_xFile& target, const char16_t* message,
                        const char16_t* restoredMessage)
{
    const bool restored = journal && journal->RollBack(target);
    if (!message) return restored ? Stop() : Fail(kStoppedUnfinished, kRestoreNextTime);
    if (restored && restoredMessage) return Fail(restoredMessage);
    if (journal && !restored) return Fail(message, kRestoreNextTime);
    return Fail(message);
}
