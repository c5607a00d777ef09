#include "apply/application_steps.h"

#include <algorithm>
#include <cstring>

#include "apply/messages.h"
#include "apply/mismatch_reason.h"
#include "apply/record_walk.h"
#include "apply/target_writer.h"
#include "crc/crc32.h"
#include "file/io.h"
#include "format/payload_format.h"

namespace {

VelkOutcome OutcomeOf(TargetWriteStatus status)
{
    switch (status) {
    case TargetWriteStatus::kOk: return VelkOutcome::kGoOn;
    case TargetWriteStatus::kSeekFailed: return VelkOutcome::kTargetSeekFailed;
    case TargetWriteStatus::kWriteFailed: break;
    }
    return VelkOutcome::kWriteFailed;
}

// The end of a record at `position` of `length` bytes; past 2^63 the record fails at its write
// anyway, and the end saturates.
int64_t EndOf(uint64_t position, uint32_t length)
{
    const auto at = static_cast<int64_t>(position);
    return at + std::min<int64_t>(length, INT64_MAX - at);
}

}  // namespace

uint32_t VelkPatchMark(const VelkPayloadHeader& header)
{
    uint8_t facts[36] = {};
    velk_io::StoreLE(facts, static_cast<uint64_t>(header.patchedSize), 8);
    velk_io::StoreLE(facts + 8, header.targetCrc, 4);
    velk_io::StoreLE(facts + 12, header.dataOffset, 8);
    if (header.hasIdentity) {
        facts[20] = 1;
        velk_io::StoreLE(facts + 24, header.identity.resultCrc, 4);
        velk_io::StoreLE(facts + 28, header.identity.originalSize, 8);
    }
    return _m_CRC32::Of(facts, sizeof facts);
}

CVELK_ApplicationSteps::CVELK_ApplicationSteps(CVELK_MessageOwner& owner, const VelkApplicationSettings& settings,
                                               CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset,
                                               CVELK_UndoJournal* journal, uint8_t* work)
    : m_owner(owner), m_settings(settings), m_source(source), m_target(target), m_payloadOffset(payloadOffset),
      m_journal(journal), m_work(work), m_pacer(owner)
{
    // Playing a large journal back (recovery, a restore) takes a while: its two passes show as
    // the records stage until another stage begins.
    m_pacer.Begin(VelkProgressStage::kRecords, false);
    if (m_journal) m_journal->Pace(&m_pacer);
}

CVELK_ApplicationSteps::~CVELK_ApplicationSteps() = default;

VelkOutcome CVELK_ApplicationSteps::Run()
{
    using Step = VelkOutcome (CVELK_ApplicationSteps::*)();
    static const Step kSteps[] = {
        &CVELK_ApplicationSteps::Recover,        &CVELK_ApplicationSteps::Prepare,
        &CVELK_ApplicationSteps::SaveUndo,       &CVELK_ApplicationSteps::ReserveSpace,
        &CVELK_ApplicationSteps::ResizeAndWrite, &CVELK_ApplicationSteps::VerifyResult,
        &CVELK_ApplicationSteps::FlushAndCommit,
    };
    VelkOutcome outcome = VelkOutcome::kGoOn;
    for (const Step step : kSteps) {
        outcome = (this->*step)();
        if (outcome != VelkOutcome::kGoOn) break;
    }
    return outcome;
}

// The target is held now, so no other application is writing it: what a journal beside it says
// is left from one that was interrupted.
VelkOutcome CVELK_ApplicationSteps::Recover()
{
    // A set's member was recovered with its set.
    if (!m_journal || m_member) return VelkOutcome::kGoOn;
    const RecoveryOutcome recovery = m_journal->Recover(m_target);
    if (recovery == RecoveryOutcome::kRestored) m_owner.Notice(VelkNotice::kRestoredInterrupted);
    m_kept = recovery == RecoveryOutcome::kKept;
    if (!m_kept && m_settings.keptUndo == VelkKeptUndo::kRestore && OutcomeOf(recovery) == VelkOutcome::kGoOn)
        return VelkOutcome::kNoKeptUndo;
    return OutcomeOf(recovery);
}

VelkOutcome CVELK_ApplicationSteps::CheckPayload()
{
    VelkOutcome outcome = ReadHeader();
    if (outcome == VelkOutcome::kGoOn) outcome = CheckDataOffset();
    if (outcome == VelkOutcome::kGoOn) outcome = CheckRecords();
    return outcome;
}

VelkOutcome CVELK_ApplicationSteps::Prepare()
{
    VelkOutcome outcome = ReadHeader();
    if (outcome != VelkOutcome::kGoOn) return outcome;
    m_oldSize = m_target.GetSize();
    // A block is judged against the data offset, so with one the data offset is checked before
    // the CRC step; without one the CRC question comes first, as it always has.
    const VelkOutcome offset = CheckDataOffset();
    if (m_header.hasIdentity && offset != VelkOutcome::kGoOn) return offset;
    // The records are gone through before the CRC step, so that the result check knows their
    // ranges and takes their old bytes from the CRC step's own read of the target. A damaged
    // stream is still reported in its turn, after the CRC step.
    if (offset == VelkOutcome::kGoOn && m_header.patchedSize >= 0 && m_oldSize >= 0 &&
        ((m_header.targetCrc != 0 && m_header.hasIdentity && (!m_member || m_memberCrc == m_header.targetCrc)) ||
         Keeping()))
        m_result.reset(new CVELK_ResultCheck(m_oldSize, m_header.patchedSize, m_settings.resultRangeCost));
    const VelkOutcome records = offset == VelkOutcome::kGoOn ? CheckRecords() : offset;
    outcome = CheckTarget();
    return outcome == VelkOutcome::kGoOn ? records : outcome;
}

VelkOutcome CVELK_ApplicationSteps::ReadHeader()
{
    if (m_payloadOffset < 0) return VelkOutcome::kSilent;
    // A source that cannot be positioned has nothing to read at the payload offset; reading on
    // from wherever it stands would take other bytes for the payload.
    if (!m_source.Seek(m_payloadOffset)) return VelkOutcome::kInvalidPatch;

    // Cleared first: a magic text cut short must not be completed by an earlier application's data.
    std::memset(m_work, 0, velk_format::kMagicBytes + 1);
    if (velk_io::ReadFully(m_source, m_work, velk_format::kMagicBytes) == 0) return VelkOutcome::kInvalidPatch;
    switch (velk_format::ClassifyMagic(m_work, velk_format::kMagicBytes)) {
    case velk_format::VersionVerdict::kInvalid: return VelkOutcome::kInvalidPatch;
    case velk_format::VersionVerdict::kOlder: return VelkOutcome::kOlderVersion;
    case velk_format::VersionVerdict::kUnknown: return VelkOutcome::kUnknownVersion;
    case velk_format::VersionVerdict::kCurrent: break;
    }

    uint64_t patchedSize = 0, targetCrc = 0;
    if (!velk_format::ReadField(m_source, &patchedSize, 8)) return VelkOutcome::kHeaderDamaged1;
    if (!velk_format::ReadField(m_source, &targetCrc, 4)) return VelkOutcome::kHeaderDamaged2;
    m_header.patchedSize = static_cast<int64_t>(patchedSize);
    m_header.targetCrc = static_cast<uint32_t>(targetCrc);
    // A data offset that cannot be read is reported in its turn, by CheckDataOffset.
    m_header.dataOffsetRead = velk_format::ReadField(m_source, &m_header.dataOffset, 4);
    m_header.hasIdentity = m_header.dataOffsetRead && velk_extension::Read(m_source, m_payloadOffset,
                                                                          m_header.dataOffset, &m_header.identity);
    return VelkOutcome::kGoOn;
}

VelkOutcome CVELK_ApplicationSteps::CheckDataOffset()
{
    if (!m_header.dataOffsetRead) return VelkOutcome::kHeaderDamaged3;
    const int64_t payloadLength = m_source.GetSize() - m_payloadOffset;
    const uint64_t dataOffset = m_header.dataOffset;
    if (dataOffset < velk_format::kHeaderBytes || static_cast<int64_t>(dataOffset) >= payloadLength)
        return VelkOutcome::kHeaderDamaged4;
    m_header.streamStart = m_payloadOffset + static_cast<int64_t>(dataOffset);
    m_header.streamSpan = payloadLength - static_cast<int64_t>(dataOffset);
    return VelkOutcome::kGoOn;
}

// The CRC step: the CRC question, or "already patched", or a result to verify; or, beside a
// journal kept for undo, whether that can restore the original.
VelkOutcome CVELK_ApplicationSteps::CheckTarget()
{
    // The target's CRC-32 is computed once: for the recorded CRC, or, where none is recorded,
    // only when the size already says it may be the patched file. Keeping the journal needs the
    // original's, and a kept journal the result's.
    const bool mayBePatched = m_header.hasIdentity && m_oldSize == m_header.patchedSize;
    if (m_header.targetCrc == 0 && !mayBePatched && !m_kept && !Keeping()) return VelkOutcome::kGoOn;
    if (m_oldSize < 0) return VelkOutcome::kTargetReadFailed;
    if (m_member && (!m_result || m_result->KeepsTheOriginal())) {
        // The set's check computed a member's CRC-32 before any change; its result check reads
        // the ranges' old bytes alone.
        m_targetCrc = m_memberCrc;
        if (m_result && !m_result->ReadRanges(m_target, m_memberCrc)) return VelkOutcome::kTargetReadFailed;
    } else {
        // Nothing has changed yet: a stop is honoured between any two chunks. (A member that
        // shrinks is read again: its check needs the CRC of the part the result keeps.)
        m_pacer.Begin(VelkProgressStage::kCrc, true);
        m_pacer.Progress(0, m_oldSize);
        const VelkOutcome read = OutcomeOf(StretchCrc(m_target, 0, m_oldSize, &m_pacer, &m_targetCrc, m_result.get()));
        if (read != VelkOutcome::kGoOn) return read;
    }
    if (m_kept) return JudgeKept();
    // Also where the original and the result are one file: nothing would change.
    if (mayBePatched && m_targetCrc == m_header.identity.resultCrc) return VelkOutcome::kAlreadyPatched;
    if (m_header.targetCrc != 0 && m_targetCrc != m_header.targetCrc) {
        // A set asks once for all its members.
        if (!m_member && !AskCrcQuestion()) return VelkOutcome::kDeclined;
    } else {
        // The target is the original the publisher patched: the result must be the file they
        // made. Where the user chose to go on with another file, or no CRC is recorded, it is
        // not checked.
        m_verify = m_header.targetCrc != 0 && m_header.hasIdentity;
    }
    // A kept journal needs the result's CRC-32 as well; the check knows it at little cost.
    if (!m_verify && !Keeping()) m_result.reset();
    if (m_result) m_result->Pace(&m_pacer);
    return VelkOutcome::kGoOn;
}

bool CVELK_ApplicationSteps::AskCrcQuestion()
{
    CVELK_MessageText question;
    ExplainMismatch(m_target, m_oldSize, m_header.hasIdentity ? &m_header.identity : nullptr, question);
    question.AddLine(velk_messages::kCrcQuestion);
    return m_owner.AskOkCancel(question.Text());
}

bool CVELK_ApplicationSteps::Keeping() const
{
    const bool asked = m_settings.keepUndo ||
                       (m_header.hasIdentity && (m_header.identity.flags & velk_extension::kFlagKeepUndo) != 0);
    // A set is taken back whole or not at all: its members keep nothing of their own.
    return asked && !m_member && m_journal && m_settings.journalEnabled;
}

// A journal kept for undo stands in the way of every application but the one that takes its
// own back, and that only from the result it was kept with.
VelkOutcome CVELK_ApplicationSteps::JudgeKept()
{
    const velk_journal::Header& kept = m_journal->Kept();
    if (m_oldSize != kept.resultSize || m_targetCrc != kept.resultCrc) return VelkOutcome::kKeptUndoStale;
    if (kept.patchMark != VelkPatchMark(m_header)) return VelkOutcome::kKeptUndoOther;
    switch (m_settings.keptUndo) {
    case VelkKeptUndo::kRestore: return Restore();
    case VelkKeptUndo::kReport: m_owner.Notice(VelkNotice::kUndoKept); return VelkOutcome::kAlreadyPatched;
    case VelkKeptUndo::kAsk: break;
    }
    return m_owner.AskOkCancel(velk_messages::kRestoreQuestion) ? Restore() : VelkOutcome::kDeclined;
}

VelkOutcome CVELK_ApplicationSteps::Restore()
{
    m_pacer.Begin(VelkProgressStage::kRecords, false);
    switch (m_journal->Restore(m_target)) {
    case RestoreOutcome::kRestored: break;
    case RestoreOutcome::kDamaged:
    case RestoreOutcome::kUnusable: return VelkOutcome::kJournalUnusable;
    case RestoreOutcome::kUntouched: return VelkOutcome::kRestoreFailed;
    case RestoreOutcome::kFailed: m_changed = m_journaled = true; return VelkOutcome::kRestoreFailed;
    }
    m_changed = m_journaled = true;
    // The original is back only where it is the file the journal was kept from.
    m_pacer.Begin(VelkProgressStage::kCrc, false);
    uint32_t crc = 0;
    const int64_t size = m_target.GetSize();
    if (size < 0 || StretchCrc(m_target, 0, size, &m_pacer, &crc) != StretchCrcVerdict::kComputed)
        return VelkOutcome::kRestoreFailed;
    if (crc != m_journal->Kept().originalCrc) return VelkOutcome::kRestoredCrcFailed;
    // The original is on the disk (the playback flushed it). A journal that cannot be removed
    // now is sealed, and playing it again at the next application gives the same file.
    m_journal->Commit();
    return VelkOutcome::kRestored;
}

// The whole stream is read once before the target is touched: a damaged payload is refused with
// the message the writing pass would have shown, and the target stays as it was. Each record's
// range goes to the result check, where there is one.
VelkOutcome CVELK_ApplicationSteps::CheckRecords()
{
    if (!m_source.Seek(m_header.streamStart)) return VelkOutcome::kSourceSeekFailed;
    const int64_t span = m_header.streamSpan;
    const uint32_t limit = m_settings.streamMemoryBytes;
    m_checked.reset(new CVELK_ReadAhead(m_source, span < limit ? static_cast<uint32_t>(span) + 1 : limit,
                                        m_header.streamStart));
    const VelkOutcome outcome =
        WalkRecords(*m_checked, m_work, false, nullptr, 0, [this](uint64_t position, uint32_t length) {
            if (static_cast<int64_t>(position) < 0) return VelkOutcome::kTargetSeekFailed;
            const int64_t end = EndOf(position, length);
            m_largestEnd = std::max(m_largestEnd, end);
            if (m_result) m_result->Note(static_cast<int64_t>(position), end - static_cast<int64_t>(position));
            return VelkOutcome::kGoOn;
        });
    m_streamBytes = m_passBytes = m_checked->Consumed();
    return outcome;
}

CVELK_ReadAhead* CVELK_ApplicationSteps::Restart()
{
    if (m_checked->Rewind()) return m_checked.get();
    if (!m_source.Seek(m_header.streamStart)) return nullptr;
    m_again.reset(new CVELK_ReadAhead(m_source, CVELK_ReadAhead::kDefaultCapacity, m_header.streamStart));
    return m_again.get();
}

// What the records overwrite is saved before anything changes. (A negative size fails at the
// resize, before anything changes.)
VelkOutcome CVELK_ApplicationSteps::SaveUndo()
{
    if (!m_journal || !m_settings.journalEnabled || m_header.patchedSize < 0) return VelkOutcome::kGoOn;
    if (m_oldSize < 0) return VelkOutcome::kTargetReadFailed;
    CVELK_ReadAhead* input = Restart();
    if (!input) return VelkOutcome::kSourceSeekFailed;
    const VelkOutcome outcome = WriteJournal(*input);
    if (outcome != VelkOutcome::kGoOn || m_journaled) return outcome;
    // A set is all or nothing only while every member has its journal.
    if (m_member) return VelkOutcome::kNoUndoFile;
    m_owner.Notice(VelkNotice::kNoUndoJournal);
    return outcome;
}

VelkOutcome CVELK_ApplicationSteps::WriteJournal(CVELK_ReadAhead& input)
{
    CVELK_UndoJournal& journal = *m_journal;
    // The first of the two passes over the records: saving, then writing. Saving also reads the
    // tail a shrink cuts off, which may be most of the file.
    m_recordPasses = 2;
    m_passBytes = m_streamBytes + std::max<int64_t>(0, m_oldSize - m_header.patchedSize);
    m_tailPacer.m_before = m_streamBytes;
    m_tailPacer.m_total = m_passBytes;
    m_pacer.Begin(VelkProgressStage::kRecords, true, 0, m_recordPasses);
    JournalStatus status = journal.Begin(m_target, m_oldSize, m_header.patchedSize, m_largestEnd, m_tailPacer);
    if (status == JournalStatus::kOk) {
        const VelkOutcome walked =
            WalkRecords(input, m_work, true, &m_pacer, m_passBytes, [&](uint64_t position, uint32_t length) {
                status = journal.Note(static_cast<int64_t>(position), m_work, length);
                // Any other outcome ends the walk; the status says why.
                return status == JournalStatus::kOk ? VelkOutcome::kGoOn : VelkOutcome::kStopped;
            });
        // Only a long stream is read again here; its source may fail where it did not before.
        if (walked != VelkOutcome::kGoOn && status == JournalStatus::kOk) {
            journal.Abandon();
            return walked;
        }
    }
    if (status == JournalStatus::kOk) status = journal.Seal();
    switch (status) {
    case JournalStatus::kOk: m_journaled = true; return VelkOutcome::kGoOn;
    case JournalStatus::kJournalFailed: journal.Abandon(); return VelkOutcome::kGoOn;
    // Recovery has just found the name free and no one else can open the target: whoever made
    // the file there does not keep to the locks. No application without a journal beside it.
    case JournalStatus::kTaken: return VelkOutcome::kTargetBusy;
    case JournalStatus::kTargetReadFailed: journal.Abandon(); return VelkOutcome::kTargetReadFailed;
    case JournalStatus::kStopped: journal.Abandon(); return VelkOutcome::kStopped;
    }
    return VelkOutcome::kGoOn;
}

// Without a journal nothing could undo a write that fails for want of space halfway: the space
// the records write is made sure of before the first change. Ranges closer than the target
// writer's gap are reserved as one.
VelkOutcome CVELK_ApplicationSteps::ReserveSpace()
{
    if (m_journaled || !m_settings.journalEnabled || m_header.patchedSize < 0) return VelkOutcome::kGoOn;
    CVELK_ReadAhead* input = Restart();
    if (!input) return VelkOutcome::kSourceSeekFailed;
    int64_t from = 0, to = 0;
    const auto reserve = [&]() { return from >= to || m_target.Reserve(from, to - from); };
    const VelkOutcome walked = WalkRecords(*input, m_work, false, nullptr, 0, [&](uint64_t position, uint32_t length) {
        const auto at = static_cast<int64_t>(position);
        const int64_t end = EndOf(position, length), gap = CVELK_TargetWriter::kGapBytes;
        if (from < to && at <= to + gap && end + gap >= from) {
            from = std::min(from, at);
            to = std::max(to, end);
            return VelkOutcome::kGoOn;
        }
        if (!reserve()) return VelkOutcome::kResizeFailed;
        from = at;
        to = end;
        return VelkOutcome::kGoOn;
    });
    if (walked != VelkOutcome::kGoOn) return walked;
    return reserve() ? VelkOutcome::kGoOn : VelkOutcome::kResizeFailed;
}

// A stream the checking pass still holds whole is written from memory: once the target has
// changed, no read of the patch source is left that could fail. A longer one is read again,
// positioned before the target is touched.
VelkOutcome CVELK_ApplicationSteps::ResizeAndWrite()
{
    CVELK_ReadAhead* input = Restart();
    if (!input) return VelkOutcome::kSourceSeekFailed;
    // The last moment a stop leaves everything as it was, with a journal or without.
    // A journal written for nothing goes again.
    m_pacer.AllowStop(true);
    if (m_pacer.StopRequested()) {
        if (m_journaled) m_journal->Commit();
        return VelkOutcome::kStopped;
    }
    m_changed = true;
    if (!m_target.SetSize(m_header.patchedSize)) return VelkOutcome::kResizeFailed;
    // Without a journal a stop cannot be honoured from here on: nothing could undo what it cut short.
    m_pacer.Begin(VelkProgressStage::kRecords, m_journaled, m_recordPasses - 1, m_recordPasses);
    CVELK_TargetWriter writer(m_target);
    VelkOutcome refused = VelkOutcome::kGoOn;
    const VelkOutcome walked =
        WalkRecords(*input, m_work, true, &m_pacer, m_passBytes, [&](uint64_t position, uint32_t length) {
            refused = OutcomeOf(writer.Write(position, m_work, length));
            return refused;
        });
    if (refused != VelkOutcome::kGoOn) return refused;
    // Records held back by the writer came before the end or the fault: their failure is the one
    // to report.
    const VelkOutcome held = OutcomeOf(writer.Finish());
    if (walked == VelkOutcome::kStopped) return walked;
    if (held != VelkOutcome::kGoOn) return held;
    if (walked != VelkOutcome::kGoOn) return walked;
    m_pacer.Progress(m_passBytes, m_passBytes);
    return VelkOutcome::kGoOn;
}

VelkOutcome CVELK_ApplicationSteps::VerifyResult()
{
    if (!m_result) return VelkOutcome::kGoOn;
    // Once the target has changed, only a journal can honour a stop.
    m_pacer.Begin(VelkProgressStage::kCrc, m_journaled);
    if (!m_result->ReadAfter(m_target, &m_resultCrc))
        return m_result->Stopped() ? VelkOutcome::kStopped : VelkOutcome::kTargetReadFailed;
    return !m_verify || m_resultCrc == m_header.identity.resultCrc ? VelkOutcome::kGoOn : VelkOutcome::kResultMismatch;
}

// Success only once the target is on the disk and the journal gone, or kept for undo; a journal
// that could not be removed nor kept would undo this application at the next one.
VelkOutcome CVELK_ApplicationSteps::FlushAndCommit()
{
    if (m_settings.journalEnabled && !m_target.Flush()) return VelkOutcome::kFlushFailed;
    if (!m_journaled) return VelkOutcome::kPatched;
    if (Keeping() && m_result) {
        velk_journal::Header kept;
        kept.originalCrc = m_targetCrc;
        kept.resultCrc = m_resultCrc;
        kept.resultSize = m_target.GetSize();
        kept.patchMark = VelkPatchMark(m_header);
        if (kept.resultSize >= 0 && m_journal->Keep(kept)) return VelkOutcome::kPatched;
    }
    // A member's journal waits for the set's commit.
    if (m_member) return VelkOutcome::kPatched;
    return m_journal->Commit() ? VelkOutcome::kPatched : VelkOutcome::kCommitFailed;
}

VelkTargetFate CVELK_ApplicationSteps::Conclude(VelkOutcome outcome)
{
    if (!m_changed || outcome == VelkOutcome::kPatched || outcome == VelkOutcome::kRestored)
        return VelkTargetFate::kAsItWas;
    if (!m_journaled) return VelkTargetFate::kLeftChanged;
    // A restore that failed once it had begun leaves the journal sealed: the next application
    // plays it again.
    if (outcome == VelkOutcome::kRestoreFailed || outcome == VelkOutcome::kRestoredCrcFailed)
        return VelkTargetFate::kRestoreNextTime;
    // After a failed flush no one can tell what reached the disk: the journal stays, and
    // restores the file at the next application; so does one that could not be removed.
    if (outcome == VelkOutcome::kFlushFailed || outcome == VelkOutcome::kCommitFailed)
        return VelkTargetFate::kRestoreNextTime;
    return m_journal->RollBack(m_target) ? VelkTargetFate::kRestored : VelkTargetFate::kRestoreNextTime;
}
