#include "journal/undo_journal.h"

#include <algorithm>
#include <ctime>

#include "file/io.h"
#include "file/velk_file.h"
#include "journal/journal_player.h"

uint64_t NewJournalNonce(const void* salt)
{
    // (std::chrono would pull a thread library into the patch program.)
    uint64_t x = static_cast<uint64_t>(std::time(nullptr)) << 20 ^ static_cast<uint64_t>(std::clock()) ^
                 reinterpret_cast<uintptr_t>(salt) * 0x9E3779B97F4A7C15ull;
    // splitmix64's finaliser spreads every input bit over the result.
    x = (x ^ x >> 30) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ x >> 27) * 0x94D049BB133111EBull;
    return x ^ x >> 31;
}

VelkPath CVELK_UndoJournal::JournalPathOf(CVELK_FileSystem& files, const NativeChar* targetPath)
{
    return PathBeside(files, targetPath, kJournalSuffix);
}

CVELK_UndoJournal::CVELK_UndoJournal(CVELK_FileSystem& files, const NativeChar* targetPath)
    : m_files(files), m_path(JournalPathOf(files, targetPath))
{
}

CVELK_UndoJournal::~CVELK_UndoJournal()
{
    // An unsealed journal never protected anything.
    if (m_writer && !m_sealed) Abandon();
}

RecoveryOutcome CVELK_UndoJournal::Recover(CVELK_xFile& target)
{
    if (!m_files.Exists(m_path.data())) return RecoveryOutcome::kNothingPending;
    // A link, a folder or anything else that is not a plain file is not opened, let alone played.
    m_file = m_files.OpenExistingRegular(m_path.data());
    if (!m_file) return RecoveryOutcome::kUnusable;
    const RecoveryOutcome outcome = Judge(target);
    // A kept journal stays open: it is the one a restore plays, whatever comes to the name.
    if (outcome != RecoveryOutcome::kKept) m_file.reset();
    return outcome;
}

bool CVELK_UndoJournal::HoldsKept()
{
    const std::unique_ptr<CVELK_xFile> file = m_files.OpenExistingRegular(m_path.data());
    uint8_t bytes[velk_journal::kHeaderBytes];
    velk_journal::Header header;
    return file && velk_io::ReadFullyAt(*file, 0, bytes, sizeof bytes) == sizeof bytes &&
           velk_journal::DecodeHeader(bytes, sizeof bytes, &header) && header.state == velk_journal::State::kKept;
}

RecoveryOutcome CVELK_UndoJournal::Judge(CVELK_xFile& target)
{
    if (!IsTrustedJournal(m_files, *m_file, target)) return RecoveryOutcome::kUnusable;
    VelkFileFacts facts;
    const VelkFileFacts* identity = target.Describe(&facts) ? &facts : nullptr;
    CVELK_JournalPlayer player(*m_file, m_pacer);
    const JournalVerdict verdict = player.Examine();
    // A set's member belongs to its set alone.
    const bool header = verdict != JournalVerdict::kUnusable && verdict != JournalVerdict::kUnwritten;
    if (header && player.Header().setNonce != m_setNonce)
        return m_setNonce == 0 ? RecoveryOutcome::kSetMember : RecoveryOutcome::kUnusable;
    switch (verdict) {
    case JournalVerdict::kUnusable: return RecoveryOutcome::kUnusable;
    case JournalVerdict::kKept:
        if (!player.Belongs(identity)) return RecoveryOutcome::kUnusable;
        m_header = player.Header();
        return RecoveryOutcome::kKept;
    case JournalVerdict::kUnwritten: return RemoveFile() ? RecoveryOutcome::kDiscarded : RecoveryOutcome::kUnusable;
    case JournalVerdict::kWriting:
    case JournalVerdict::kDone:
        if (!player.Belongs(identity)) return RecoveryOutcome::kUnusable;
        return RemoveFile() ? RecoveryOutcome::kDiscarded : RecoveryOutcome::kUnusable;
    case JournalVerdict::kDamaged:
        return player.Belongs(identity) ? RecoveryOutcome::kDamaged : RecoveryOutcome::kUnusable;
    case JournalVerdict::kPlayable: break;
    }
    if (!player.Belongs(identity)) return RecoveryOutcome::kUnusable;
    switch (player.Fits(target)) {
    case JournalFit::kFits: break;
    case JournalFit::kDoesNotFit: return RecoveryOutcome::kUnusable;
    case JournalFit::kTargetReadFailed: return RecoveryOutcome::kFailed;
    }
    if (!player.PlayBack(target)) return RecoveryOutcome::kFailed;
    return RemoveFile() ? RecoveryOutcome::kRestored : RecoveryOutcome::kFailed;
}

// A journal may write into the target only when whoever can have written it may write the
// target anyway: the target's owner, whoever speaks for everyone, or, for a target anyone may
// write (a FAT drive mounted for everyone), anyone.
bool IsTrustedJournal(CVELK_FileSystem& files, CVELK_xFile& journalFile, CVELK_xFile& target)
{
    VelkFileFacts journal, own;
    if (!journalFile.Describe(&journal)) return false;
    const bool targetKnown = target.Describe(&own);
    if (targetKnown && own.othersMayWrite) return true;
    if (journal.othersMayWrite) return false;
    if (journal.owner.length == 0) return true;  // a file system without owners
    if (targetKnown && journal.owner == own.owner) return true;
    return files.OwnerSpeaksForAll(journal.owner);
}

bool CVELK_UndoJournal::ReleaseMember(bool syncFolder)
{
    if (m_setNonce == 0) return false;
    // Only a name known to be free lets the set forget this member: a failed look is no answer.
    m_file = m_files.OpenExistingRegular(m_path.data());
    if (!m_file) return m_files.KindOf(m_path.data()) == VelkPathKind::kMissing;
    // Its header says whose it is; a sealed one, damaged or not, goes with its set.
    CVELK_JournalPlayer player(*m_file);
    const JournalVerdict verdict = player.Examine(false);
    const bool member = verdict != JournalVerdict::kUnusable && verdict != JournalVerdict::kUnwritten &&
                        player.Header().setNonce == m_setNonce;
    m_file.reset();
    if (player.ReadFailed()) return false;
    // Something else at the name is not the set's to remove.
    if (!member) return true;
    if (!m_files.Remove(m_path.data())) return false;
    if (syncFolder) m_files.SyncFolderOf(m_path.data());
    return true;
}

JournalStatus CVELK_UndoJournal::Begin(CVELK_xFile& target, int64_t oldSize, int64_t patchedSize, int64_t largestSize,
                                       CVELK_Pacer& pacer)
{
    velk_journal::Header header;
    header.oldSize = oldSize;
    header.patchedSize = patchedSize;
    header.largestSize = std::max(patchedSize, largestSize);
    VelkFileFacts facts;
    const bool known = target.Describe(&facts);
    // The journal holds the target's bytes: it lets others read no more than the target does,
    // and no one else write. Its owner must read it back.
    const uint32_t permissions = (known ? facts.permissions & 0644 : 0) | 0600;
    m_file = m_files.CreateNew(m_path.data(), permissions);
    if (!m_file) return m_files.Exists(m_path.data()) ? JournalStatus::kTaken : JournalStatus::kJournalFailed;
    header.nonce = NewJournalNonce(this);
    header.setNonce = m_setNonce;
    if (known) {
        header.volume = facts.volume;
        header.index = facts.index;
    }
    m_header = header;
    m_writer.reset(new CVELK_JournalWriter(*m_file, target, header, pacer));
    const JournalStatus status = m_writer->Begin();
    if (status != JournalStatus::kOk) Abandon();
    return status;
}

JournalStatus CVELK_UndoJournal::Seal()
{
    JournalStatus status = m_writer->Finish();
    // The journal's name must be on the disk too before the target changes.
    if (status == JournalStatus::kOk && !m_files.SyncFolderOf(m_path.data())) status = JournalStatus::kJournalFailed;
    if (status != JournalStatus::kOk) {
        Abandon();
        return status;
    }
    m_header.state = velk_journal::State::kSealed;
    m_sealed = true;
    return status;
}

void CVELK_UndoJournal::Abandon()
{
    m_writer.reset();
    m_sealed = false;
    if (m_file) RemoveFile();
}

bool CVELK_UndoJournal::Commit()
{
    m_writer.reset();
    m_sealed = false;
    if (RemoveFile()) return true;
    // A journal that stays would undo a finished application at the next run: it is marked done.
    const std::unique_ptr<CVELK_xFile> file = m_files.Open(m_path.data(), kModeReadWriteExisting, kShareRead);
    return file && RewriteJournalState(*file, m_header, velk_journal::State::kDone);
}

bool CVELK_UndoJournal::Keep(const velk_journal::Header& kept)
{
    m_writer.reset();
    m_sealed = false;
    velk_journal::Header header = m_header;
    header.originalCrc = kept.originalCrc;
    header.resultCrc = kept.resultCrc;
    header.resultSize = kept.resultSize;
    header.patchMark = kept.patchMark;
    if (!m_file || !RewriteJournalState(*m_file, header, velk_journal::State::kKept)) return false;
    m_header = header;
    m_header.state = velk_journal::State::kKept;
    m_file.reset();
    return true;
}

RestoreOutcome CVELK_UndoJournal::Restore(CVELK_xFile& target)
{
    // The journal is written as well as read: opened anew for that, it must still be the one
    // Recover judged (the nonce) and still be trusted.
    const uint64_t judged = m_header.nonce;
    m_file.reset();
    m_file = m_files.Open(m_path.data(), kModeReadWriteExisting, kShareRead);
    if (!m_file) return RestoreOutcome::kUntouched;
    if (!IsTrustedJournal(m_files, *m_file, target)) return RestoreOutcome::kUnusable;
    CVELK_JournalPlayer player(*m_file, m_pacer);
    const JournalVerdict verdict = player.Examine();
    if (verdict != JournalVerdict::kKept || player.Header().nonce != judged) return RestoreOutcome::kUnusable;
    switch (player.ExamineKept()) {
    case JournalVerdict::kPlayable: break;
    case JournalVerdict::kDamaged: return RestoreOutcome::kDamaged;
    default: return RestoreOutcome::kUntouched;
    }
    switch (player.Fits(target)) {
    case JournalFit::kFits: break;
    case JournalFit::kDoesNotFit: return RestoreOutcome::kUnusable;
    case JournalFit::kTargetReadFailed: return RestoreOutcome::kUntouched;
    }
    // Sealed again before the first change: an interruption from here is recovered like any other.
    m_header = player.Header();
    if (!RewriteJournalState(*m_file, m_header, velk_journal::State::kSealed)) return RestoreOutcome::kUntouched;
    m_header.state = velk_journal::State::kSealed;
    return player.PlayBack(target) ? RestoreOutcome::kRestored : RestoreOutcome::kFailed;
}

bool CVELK_UndoJournal::RollBack(CVELK_xFile& target)
{
    m_writer.reset();
    m_sealed = false;
    if (!m_file) return false;
    CVELK_JournalPlayer player(*m_file);
    if (player.Examine() != JournalVerdict::kPlayable || !player.PlayBack(target)) {
        m_file.reset();
        return false;
    }
    return RemoveFile();
}

// Closes the journal (Windows cannot remove a file it holds open), removes it and makes the
// removal durable. Where the folder cannot be synced, a journal that comes back after a power cut
// restores the file to its state before the application: whole, never mixed.
bool CVELK_UndoJournal::RemoveFile()
{
    m_file.reset();
    if (!m_files.Remove(m_path.data())) return false;
    m_files.SyncFolderOf(m_path.data());
    return true;
}
