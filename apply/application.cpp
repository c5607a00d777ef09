#include "apply/application.h"

#include "apply/messages.h"
#include "file/velk_file.h"

namespace {

// The message of an outcome that has one of its own, as the user knows it.
const char16_t* TextOf(VelkOutcome outcome)
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
    case VelkOutcome::kStopped: return kStoppedUnfinished;
    case VelkOutcome::kGoOn:
    case VelkOutcome::kSilent:
    case VelkOutcome::kDeclined: break;
    }
    return nullptr;
}

}  // namespace

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
    const std::unique_ptr<CVELK_xFile> target = OpenFile(targetPath, kModeReadWriteExisting, kShareRead);
    if (!target) return Tell(VelkOutcome::kTargetOpenFailed);
    CVELK_UndoJournal journal(*m_files, targetPath);
    return Apply(*source, *target, payloadOffset, &journal);
}

bool CVELK_IPS_IN::ApplyOpened(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset)
{
    m_stopped = false;
    return Apply(source, target, payloadOffset, nullptr);
}

bool CVELK_IPS_IN::Apply(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset, CVELK_UndoJournal* journal)
{
    using Step = VelkOutcome (CVELK_ApplicationSteps::*)();
    static const Step kSteps[] = {
        &CVELK_ApplicationSteps::Recover,        &CVELK_ApplicationSteps::Prepare,
        &CVELK_ApplicationSteps::SaveUndo,       &CVELK_ApplicationSteps::ReserveSpace,
        &CVELK_ApplicationSteps::ResizeAndWrite, &CVELK_ApplicationSteps::VerifyResult,
        &CVELK_ApplicationSteps::FlushAndCommit,
    };
    CVELK_ApplicationSteps steps(m_owner, m_settings, source, target, payloadOffset, journal, m_work);
    VelkOutcome outcome = VelkOutcome::kGoOn;
    for (const Step step : kSteps) {
        outcome = (steps.*step)();
        if (outcome != VelkOutcome::kGoOn) break;
    }
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
    facts.patchedSize = header.patchedSize;
    facts.expectedCrc = header.targetCrc;
    facts.hasIdentity = header.hasIdentity;
    facts.identity = header.identity;
    facts.targetSize = steps.TargetSize();
    facts.targetCrcKnown = steps.TargetCrcKnown();
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
    CVELK_UndoJournal journal(*m_files, targetPath);
    const RecoveryOutcome outcome = journal.Recover(*target);
    Tell(OutcomeOf(outcome));
    return outcome;
}

bool CVELK_IPS_IN::Tell(VelkOutcome outcome, VelkTargetFate fate)
{
    using namespace velk_messages;
    const char16_t* text = TextOf(outcome);
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
    if (!lastLine) {
        m_owner.ShowMessage(text);
    } else {
        // Every message and line is far shorter; a fixed buffer keeps the string classes out of
        // the patch program.
        char16_t joined[256];
        size_t n = 0;
        for (const char16_t* part : {text, u"\n", lastLine}) {
            for (; *part != 0 && n + 1 < sizeof joined / sizeof joined[0]; ++part) joined[n++] = *part;
        }
        joined[n] = 0;
        m_owner.ShowMessage(joined);
    }
    return outcome == VelkOutcome::kPatched || outcome == VelkOutcome::kAlreadyPatched;
}
