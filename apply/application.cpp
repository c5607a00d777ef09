#include "apply/application.h"

#include "apply/messages.h"
#include "apply/set_application.h"
#include "file/velk_file.h"
#include "format/set_format.h"

// The message of an outcome that has one of its own, as the user knows it.
const char16_t* MessageOf(VelkOutcome outcome)
{
    using namespace velk_messages;
    switch (outcome) {
    case VelkOutcome::kPatched: return kSuccess;
    case VelkOutcome::kAlreadyPatched: return kAlreadyPatched;
    case VelkOutcome::kPatchOpenFailed: return kPatchOpenFailed;
    case VelkOutcome::kTargetOpenFailed: return kTargetOpenFailed;
    case VelkOutcome::kInvalidPatch: return kInvalidPatch;
    case VelkOutcome::kOlderVersion: return kOlderVersion;
    case VelkOutcome::kUnknownVersion: return kUnknownVersion;
    case VelkOutcome::kHeaderDamaged1: return kDamaged1;
    case VelkOutcome::kHeaderDamaged2: return kDamaged2;
    case VelkOutcome::kHeaderDamaged3: return kDamaged3;
    case VelkOutcome::kHeaderDamaged4: return kDamaged4;
    case VelkOutcome::kSourceSeekFailed: return kSourceSeekFailed;
    case VelkOutcome::kTargetReadFailed: return kTargetReadFailed;
    case VelkOutcome::kResizeFailed: return kResizeFailed;
    case VelkOutcome::kRecordDamaged5: return kDamaged5;
    case VelkOutcome::kRecordDamaged6_1: return kDamaged6_1;
    case VelkOutcome::kRecordDamaged6_2: return kDamaged6_2;
    case VelkOutcome::kRecordUnknownType: return kInvalidRecordType;
    case VelkOutcome::kRecordDamaged7: return kDamaged7;
    case VelkOutcome::kRecordDamaged8: return kDamaged8;
    case VelkOutcome::kTargetSeekFailed: return kTargetSeekFailed;
    case VelkOutcome::kWriteFailed:
    case VelkOutcome::kFlushFailed:
    case VelkOutcome::kCommitFailed: return kWriteFailed;
    case VelkOutcome::kResultMismatch: return kResultCrcFailedKept;
    case VelkOutcome::kJournalUnusable: return kJournalUnusable;
    case VelkOutcome::kJournalDamaged: return kJournalDamaged;
    case VelkOutcome::kRecoveryFailed: return kRecoveryFailed;
    case VelkOutcome::kTargetBusy: return kTargetBusy;
    case VelkOutcome::kSetMemberJournal: return kSetMemberJournal;
    case VelkOutcome::kSetDamaged: return kSetDamaged;
    case VelkOutcome::kSetMissingFiles: return kSetMissingFiles;
    case VelkOutcome::kSetBlockedFiles: return kSetBlockedFiles;
    case VelkOutcome::kNoUndoFile: return kNoUndoFile;
    case VelkOutcome::kStopped: return kStoppedUnfinished;
    case VelkOutcome::kRestored: return kRestored;
    case VelkOutcome::kKeptUndoStale: return kKeptUndoStale;
    case VelkOutcome::kKeptUndoOther: return kKeptUndoOther;
    case VelkOutcome::kNoKeptUndo: return kNoKeptUndo;
    case VelkOutcome::kRestoreFailed: return kRestoreFailed;
    case VelkOutcome::kRestoredCrcFailed: return kRestoredCrcFailed;
    case VelkOutcome::kGoOn:
    case VelkOutcome::kSilent:
    case VelkOutcome::kDeclined: break;
    }
    return nullptr;
}

std::unique_ptr<CVELK_xFile> CVELK_IPS_IN::OpenFile(const NativeChar* path, int mode, int share)
{
    return m_files->Open(path, mode, share);
}

bool CVELK_IPS_IN::ApplyPatch(const NativeChar* sourcePath, const NativeChar* targetPath, int64_t payloadOffset)
{
    m_stopped = false;
    if (payloadOffset < 0) return false;
    // Both files are closed when they go out of scope, after the message has been dismissed.
    const std::unique_ptr<CVELK_xFile> source = OpenFile(sourcePath, kModeReadExisting, kShareRead);
    if (!source) return Tell(VelkOutcome::kPatchOpenFailed);
    // A set's target is its anchor, the file the user picked among its files.
    if (velk_set::IsSet(*source, payloadOffset)) {
        // A set keeps no journal for undo: it is taken back whole only while it is applied.
        if (m_settings.keptUndo == VelkKeptUndo::kRestore) return Tell(VelkOutcome::kNoKeptUndo);
        CVELK_SetApplication set(m_owner, *m_files, m_settings, m_work);
        const VelkOutcome outcome = set.Apply(*source, payloadOffset, targetPath);
        return Tell(outcome, set.Fate(), set.About().c_str());
    }
    const std::unique_ptr<CVELK_xFile> target = OpenFile(targetPath, kModeReadWriteExisting, kShareRead);
    if (!target) return Tell(VelkOutcome::kTargetOpenFailed);
    CVELK_UndoJournal journal(*m_files, targetPath);
    return Apply(*source, *target, payloadOffset, &journal);
}

bool CVELK_IPS_IN::UndoPatch(const NativeChar* sourcePath, const NativeChar* targetPath, int64_t payloadOffset)
{
    const VelkKeptUndo was = m_settings.keptUndo;
    m_settings.keptUndo = VelkKeptUndo::kRestore;
    const bool restored = ApplyPatch(sourcePath, targetPath, payloadOffset);
    m_settings.keptUndo = was;
    return restored;
}

bool CVELK_IPS_IN::ApplyOpened(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset)
{
    m_stopped = false;
    return Apply(source, target, payloadOffset, nullptr);
}

bool CVELK_IPS_IN::Apply(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset, CVELK_UndoJournal* journal)
{
    CVELK_ApplicationSteps steps(m_owner, m_settings, source, target, payloadOffset, journal, m_work);
    const VelkOutcome outcome = steps.Run();
    return Tell(outcome, steps.Conclude(outcome));
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
        Tell(source ? VelkOutcome::kTargetOpenFailed : VelkOutcome::kPatchOpenFailed);
        return facts;
    }

    CVELK_ApplicationSteps steps(m_owner, m_settings, *source, *target, payloadOffset, nullptr, m_work);
    const VelkOutcome outcome = steps.Prepare();
    switch (outcome) {
    case VelkOutcome::kGoOn: facts.outcome = VelkExamination::Outcome::kWouldApply; break;
    case VelkOutcome::kAlreadyPatched: facts.outcome = VelkExamination::Outcome::kAlreadyPatched; break;
    default: Tell(outcome); break;
    }
    const VelkPayloadHeader& header = steps.Header();
    facts.expectedCrc = header.targetCrc;
    facts.hasIdentity = header.hasIdentity;
    facts.identity = header.identity;
    facts.targetSize = steps.TargetSize();
    facts.targetCrc = steps.TargetCrc();
    return facts;
}

RecoveryOutcome CVELK_IPS_IN::RecoverTarget(const NativeChar* targetPath)
{
    m_stopped = false;
    const std::unique_ptr<CVELK_xFile> target = OpenFile(targetPath, kModeReadWriteExisting, kShareRead);
    if (!target) {
        Tell(VelkOutcome::kTargetOpenFailed);
        return RecoveryOutcome::kFailed;
    }
    // The main file of a set: the set's journal puts back every file of the set.
    if (m_files->Exists(CVELK_SetJournal::JournalPathOf(*m_files, targetPath).data())) {
        CVELK_SetJournal set(*m_files, targetPath);
        const RecoveryOutcome outcome = OutcomeOf(set.Recover(*target));
        Tell(OutcomeOf(outcome));
        return outcome;
    }
    CVELK_UndoJournal journal(*m_files, targetPath);
    CVELK_StagePacer pacer(m_owner);
    pacer.Begin(VelkProgressStage::kRecords, false);
    journal.Pace(&pacer);
    const RecoveryOutcome outcome = journal.Recover(*target);
    Tell(OutcomeOf(outcome));
    return outcome;
}

bool CVELK_IPS_IN::Tell(VelkOutcome outcome, VelkTargetFate fate, const char16_t* about)
{
    using namespace velk_messages;
    const char16_t* text = MessageOf(outcome);
    // Added where a journal will undo the changes at the next application.
    const char16_t* lastLine = fate == VelkTargetFate::kRestoreNextTime ? kRestoreNextTime : nullptr;
    switch (outcome) {
    case VelkOutcome::kStopped:
        // A stop is silent when it left the target as it was.
        if (fate == VelkTargetFate::kAsItWas || fate == VelkTargetFate::kRestored) {
            m_stopped = true;
            return false;
        }
        break;
    // The message claims the original back only where the journal did put it back.
    case VelkOutcome::kResultMismatch:
        if (fate == VelkTargetFate::kRestored) text = kResultCrcFailed;
        break;
    case VelkOutcome::kRecoveryFailed: lastLine = kRestoreNextTime; break;
    default: break;
    }
    if (!text) return false;
    if (!lastLine && !*about) {
        m_owner.ShowMessage(text);
    } else {
        // The files a set's outcome names follow its message; the one file it is about comes first.
        const bool list = outcome == VelkOutcome::kSetMissingFiles || outcome == VelkOutcome::kSetBlockedFiles;
        std::u16string shown = list ? text + std::u16string(about) : *about ? about + (u"\n" + std::u16string(text)) : text;
        if (lastLine) shown += u"\n" + std::u16string(lastLine);
        m_owner.ShowMessage(shown.c_str());
    }
    return outcome == VelkOutcome::kPatched || outcome == VelkOutcome::kAlreadyPatched ||
           outcome == VelkOutcome::kRestored;
}
