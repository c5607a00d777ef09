// What an application, or any step of it, comes to. Every step returns an outcome: kGoOn lets
// the next step run; anything else ends the application, and CVELK_IPS_IN turns it into the one
// message the user sees (or none), after the target has been put back where it changed.
#pragma once

#include "file/stretch_reader.h"
#include "format/record_stream.h"
#include "journal/set_journal.h"
#include "journal/undo_journal.h"

enum class VelkOutcome {
    kGoOn,
    // Endings without a message.
    kSilent,    // nothing to apply from (a negative payload offset)
    kDeclined,  // the CRC question was answered Cancel
    kStopped,   // the owner asked to stop
    // Endings with a message of their own.
    kPatched,
    kAlreadyPatched,
    // An undo journal kept beside the target by an earlier application.
    kRestored,
    kKeptUndoStale,     // the target is no longer the result the journal was kept with
    kKeptUndoOther,     // the journal was kept by another patch
    kNoKeptUndo,        // a restore was asked for, and there is nothing to restore from
    kRestoreFailed,
    kRestoredCrcFailed,  // the played-back file is not the original the journal was kept from
    // Failures of an application.
    kPatchOpenFailed,
    kTargetOpenFailed,
    kInvalidPatch,
    kOlderVersion,
    kUnknownVersion,
    kHeaderDamaged1,  // the patched size cannot be read
    kHeaderDamaged2,  // the target CRC
    kHeaderDamaged3,  // the data offset
    kHeaderDamaged4,  // a data offset outside the payload
    kSourceSeekFailed,
    kTargetReadFailed,
    kResizeFailed,
    kRecordDamaged5,  // the record faults, in the order of the record's fields (RecordFault)
    kRecordDamaged6_1,
    kRecordDamaged6_2,
    kRecordUnknownType,
    kRecordDamaged7,
    kRecordDamaged8,
    kTargetSeekFailed,
    kWriteFailed,
    kFlushFailed,    // the target's flush: what reached the disk is unknown, the journal stays
    kCommitFailed,   // the journal could not be removed: it stays, and undoes the application
    kResultMismatch,
    kJournalUnusable,
    kJournalDamaged,
    kRecoveryFailed,
    kTargetBusy,
    kSetMemberJournal,  // beside the target, the journal of a member of an unfinished set
    // Endings of sets.
    kSetDamaged,        // a set that does not check out, refused whole
    kSetMissingFiles,   // files the set modifies are not there (named)
    kSetBlockedFiles,   // files the set cannot touch: through a link, not a plain file (named)
    kNoUndoFile,        // no undo file could be written: a set is not applied without
};

// The message of an outcome that has one of its own; null for the others.
const char16_t* MessageOf(VelkOutcome outcome);

inline VelkOutcome OutcomeOf(RecordFault fault)
{
    switch (fault) {
    case RecordFault::kType: return VelkOutcome::kRecordDamaged5;
    case RecordFault::kDelta: return VelkOutcome::kRecordDamaged6_1;
    case RecordFault::kPosition: return VelkOutcome::kRecordDamaged6_2;
    case RecordFault::kUnknownType: return VelkOutcome::kRecordUnknownType;
    case RecordFault::kLength: return VelkOutcome::kRecordDamaged7;
    case RecordFault::kData: return VelkOutcome::kRecordDamaged8;
    case RecordFault::kNone: break;
    }
    return VelkOutcome::kGoOn;
}

// A read of the target through (its CRC-32).
inline VelkOutcome OutcomeOf(StretchCrcVerdict verdict)
{
    switch (verdict) {
    case StretchCrcVerdict::kComputed: return VelkOutcome::kGoOn;
    case StretchCrcVerdict::kStopped: return VelkOutcome::kStopped;
    case StretchCrcVerdict::kReadFailed: break;
    }
    return VelkOutcome::kTargetReadFailed;
}

// What a recovery came to: go on (nothing pending, or the target put back), or the ending.
inline VelkOutcome OutcomeOf(RecoveryOutcome recovery)
{
    switch (recovery) {
    case RecoveryOutcome::kNothingPending:
    case RecoveryOutcome::kKept:
    case RecoveryOutcome::kDiscarded:
    case RecoveryOutcome::kCompleted:
    case RecoveryOutcome::kRestored: return VelkOutcome::kGoOn;
    case RecoveryOutcome::kUnusable: return VelkOutcome::kJournalUnusable;
    case RecoveryOutcome::kDamaged: return VelkOutcome::kJournalDamaged;
    case RecoveryOutcome::kSetMember: return VelkOutcome::kSetMemberJournal;
    case RecoveryOutcome::kFailed: break;
    }
    return VelkOutcome::kRecoveryFailed;
}

// A set's recovery in the terms of a single file's.
inline RecoveryOutcome OutcomeOf(SetRecovery recovery)
{
    switch (recovery) {
    case SetRecovery::kNothingPending: return RecoveryOutcome::kNothingPending;
    case SetRecovery::kDiscarded: return RecoveryOutcome::kDiscarded;
    case SetRecovery::kRestored: return RecoveryOutcome::kRestored;
    case SetRecovery::kCompleted: return RecoveryOutcome::kCompleted;
    case SetRecovery::kUnusable: return RecoveryOutcome::kUnusable;
    case SetRecovery::kDamaged: return RecoveryOutcome::kDamaged;
    case SetRecovery::kFailed: break;
    }
    return RecoveryOutcome::kFailed;
}

// What became of the target by the end of an application that did not succeed.
enum class VelkTargetFate {
    kAsItWas,          // never changed
    kRestored,         // changed, and put back by the journal
    kRestoreNextTime,  // changed, and the journal that restores it stays beside it
    kLeftChanged,      // changed, with no journal to put it back
};
