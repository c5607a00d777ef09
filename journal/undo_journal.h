// The undo journal of one target through an application's life. The rules it keeps are written
// here once; the code follows them.
//
// ORDER OF WRITES, FLUSHES AND FOLDER SYNCS
//   1. The target is opened for reading and writing, sharing only reading (on POSIX the share
//      mode is kept with locks taken in one step), and stays so until the application is over:
//      a second application cannot open it meanwhile.
//   2. What lies beside it under the journal's name is judged (below) and played back or
//      removed, or the application stops.
//   3. NAME.velk-undo is made as a new file, never over an existing name nor through a link,
//      with the target's permission bits less writing by group and others. Its header, in state
//      WRITING, is written and flushed. A name found taken now is another application's: stop.
//   4. The blocks (what the records overwrite and the tail a shrink cuts off), the trailer with
//      the samples; flush.
//   5. The header again, in state SEALED; flush; the folder is synced.
//   6. Only now the target changes: its size, then the records; it is verified and flushed.
//   7. Commit: the journal is removed and the folder synced. Where it cannot be removed, its
//      header becomes DONE and is flushed. An application that keeps its journal for undo
//      instead writes the header in state KEPT, with the CRC-32 of the original and of the
//      result, the result's size and the patch's mark, and flushes it (where that fails, the
//      journal is committed as above: the application stands, it cannot be taken back).
//   A failure in 6 plays the journal back (the target's size and bytes restored, the target
//   flushed), then removes it. A flush of the target that fails keeps the journal: the next
//   application plays it back.
//
// TAKING AN APPLICATION BACK (a journal KEPT for undo)
//   8. Only on request: the patch that made the result, applied to it again, asks (the patch
//      program) or is told to (velkpatch undo). The target must be the result it was kept with
//      (its size and CRC-32); the kept journal must be whole, trusted and fit the target as any
//      journal played back.
//   9. Its header becomes SEALED again and is flushed: from here it is an ordinary journal, which
//      an interruption leaves for recovery to play.
//  10. Played back; the target's CRC-32 must then be the original's; then it is removed as in 7.
//
// WHAT A POWER CUT LEAVES, AND WHAT RECOVERY DOES
//   nothing at the name          the target is untouched, or patched and committed
//   shorter than a header, only  3 before its flush: the target is untouched; removed
//     zeros or the magic's start
//   WRITING                      3 to 5 before its flush: the target is untouched; removed
//   SEALED, whole                anywhere in 6 and 7: played back, which gives the original
//                                whether the target had changed not at all, partly or wholly;
//                                then removed
//   SEALED, damaged              something changed it after it was sealed (a checksum that
//                                fails, cut short, grown): kept, reported; the target may be
//                                partly patched
//   DONE                         the application had completed: removed
//   KEPT                         the application had completed, and its journal is kept for
//                                undo: never played nor removed by recovery. It stands in the
//                                way of every other application to the target, which stops
//                                before any change and says so: the user restores the original
//                                with the patch that kept it, or moves the journal away. One
//                                whose target has changed since it was kept (the CRC-32 is no
//                                longer the result's) is never played; the user is told why.
//   anything else                not a journal of this program: kept, reported
//
// TRUST. A file at the journal's name is played or removed only when
//   - it is a regular file, reached without a link;
//   - no one but its owner may write it, and its owner is the target's owner, the superuser (the
//     administrators, on Windows) or the user this program runs as, who could write the target
//     anyway; where anyone may write the target (a FAT drive mounted for everyone), anyone's
//     journal will do;
//   - the identity in its header is the target's: the inode number on POSIX, the volume serial
//     and file index on Windows (where the file system keeps lasting ones);
//   - a member of a set (its header names the set) is played, or removed, only by the recovery
//     of its set (set_journal.h), never on its own;
//   - to be played: the target's size is one its application can have left, and every sample
//     agrees with the target (journal_samples.h).
//   Otherwise it is left alone and reported, and the application stops before any change.
//   Nothing is removed on doubt.
//
// LINKS. The journal is named after the file itself, symbolic links resolved, so that every path
// through links to the file finds it. A hard link is another name of the same file with nothing
// to resolve: the journal lies beside the name the application used, and only through that name
// do the next application and `recover` find it.
//
// PLATFORMS. POSIX syncs the folder (fsync of its descriptor) so that a new or removed name
// survives a power cut; macOS flushes with F_FULLFSYNC, which reaches the medium. Windows has no
// folder sync: NTFS logs name changes in its own journal, which flushing a file of the volume
// commits. Owners are compared on both; only POSIX asks who else may write (Windows' access
// lists are not examined). On network file systems a flush means the server has the bytes,
// locks may not reach other machines (two applications from two computers are not kept apart),
// and the inode numbers of SMB and FUSE mounts, like those of FAT and exFAT under Linux, are not
// taken to last: there the size and the samples alone tell the target.
#pragma once

#include <memory>

#include "file/file_system.h"
#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "journal/journal_format.h"
#include "journal/journal_writer.h"

enum class RecoveryOutcome {
    kNothingPending,  // no journal
    kDiscarded,       // a journal of the target that undoes nothing (never sealed, or done): removed
    kKept,            // a journal of the target kept for undo: left alone (Kept() tells of it)
    kRestored,        // the target is back as it was before the interrupted application
    kUnusable,        // something that is not a trusted journal of this target: left alone
    kDamaged,         // a sealed journal of this target, damaged since: kept, the target untouched
    kFailed,          // the target or the journal failed during playback; the journal is kept
    kSetMember,       // the journal of a member of a set, which only the set's recovery plays: kept
    kCompleted,       // a set that had got as far as its commit: what it kept for undoing removed
};

constexpr NativeChar kJournalSuffix[] = VELK_NATIVE(".velk-undo");

// What taking an application back with its kept journal came to.
enum class RestoreOutcome {
    kRestored,   // the target is as it was before the application; the journal is still there
    kDamaged,    // the journal was changed since it was kept: left alone, the target untouched
    kUnusable,   // it does not fit the target: left alone, the target untouched
    kUntouched,  // a read or a write failed before anything changed: left alone
    kFailed,     // the playback failed: the journal, sealed, restores the target at the next application
};

class CVELK_UndoJournal {
public:
    // The journal of the file at `targetPath`, named after that file itself (links resolved).
    CVELK_UndoJournal(CVELK_FileSystem& files, const NativeChar* targetPath);
    ~CVELK_UndoJournal();
    CVELK_UndoJournal(const CVELK_UndoJournal&) = delete;
    CVELK_UndoJournal& operator=(const CVELK_UndoJournal&) = delete;

    // Where the journal of `targetPath` lies, links resolved through `files`, NUL-terminated.
    static VelkPath JournalPathOf(CVELK_FileSystem& files, const NativeChar* targetPath);
    // The same as a string. Inline: a NativeString in the engine's own code would bring the wide
    // string class into the patch program.
    static NativeString PathFor(CVELK_FileSystem& files, const NativeChar* targetPath)
    {
        return JournalPathOf(files, targetPath).data();
    }
    // Beside the path as it is spelt, for file systems without links.
    static NativeString PathFor(const NativeChar* targetPath) { return NativeString(targetPath) + kJournalSuffix; }

    // Plays back or removes a journal an earlier application left. Only while the target is
    // held open so that no other application can be writing it.
    RecoveryOutcome Recover(CVELK_xFile& target);
    // Reading a journal through and playing it back (Recover, Restore) report to `pacer`.
    void Pace(CVELK_Pacer* pacer) { m_pacer = pacer; }
    // The header of the journal that Recover found kept for undo.
    const velk_journal::Header& Kept() const { return m_header; }
    // Whether what lies at the journal's name is, by its header, a journal kept for undo.
    bool HoldsKept();

    // Makes this the journal of a member of the set whose journal has `setNonce`: Begin stamps it
    // in, and Recover plays back only that set's member journals (and no longer refuses them).
    void JoinSet(uint64_t setNonce) { m_setNonce = setNonce; }
    // The set is complete: removes the journal if it is one of that set's members. False only when
    // such a journal is there and could not be removed, or what is there could not be read. The
    // caller that removes many syncs their folders itself (`syncFolder` false).
    bool ReleaseMember(bool syncFolder = true);

    // Starts a new journal for an application that finds the target `oldSize` bytes long, sets it
    // to `patchedSize` and whose records reach as far as `largestSize`. kJournalFailed when none
    // can be made here (the application may go on without one); kTaken when something has its
    // name. `pacer` is asked about stopping as the journal grows.
    JournalStatus Begin(CVELK_xFile& target, int64_t oldSize, int64_t patchedSize, int64_t largestSize,
                        CVELK_Pacer& pacer);
    JournalStatus Note(int64_t position, const uint8_t* data, uint32_t length)
    {
        return m_writer->Note(position, data, length);
    }
    // Completes the journal and makes it and its folder entry durable. On any failure the
    // journal is removed again.
    JournalStatus Seal();
    // Removes an unsealed journal: the application will not touch the target with it.
    void Abandon();

    // The target is patched and durable: removes the journal. False when it could not be
    // removed nor marked done; it still undoes the application then.
    bool Commit();
    // Instead of Commit: keeps the journal for undo, with what `kept` tells of the application
    // (its originalCrc, resultCrc, resultSize and patchMark). False when that could not be made
    // durable; Commit is then still to be done.
    bool Keep(const velk_journal::Header& kept);
    // After Recover answered kKept: plays the kept journal back onto the target (undo_journal.h,
    // steps 8 to 10, but for the CRC check of the original, which is the caller's, and the
    // removal, which is Commit).
    RestoreOutcome Restore(CVELK_xFile& target);
    // Writes the saved bytes back and removes the journal. False when the target is not
    // restored, or its journal could not be removed; the journal is kept then.
    bool RollBack(CVELK_xFile& target);

private:
    RecoveryOutcome Judge(CVELK_xFile& target);
    bool RemoveFile();

    CVELK_FileSystem& m_files;
    CVELK_Pacer* m_pacer = nullptr;
    VelkPath m_path;  // NUL-terminated
    std::unique_ptr<CVELK_xFile> m_file;
    std::unique_ptr<CVELK_JournalWriter> m_writer;
    velk_journal::Header m_header;
    uint64_t m_setNonce = 0;
    bool m_sealed = false;
};

// Whether a journal may write into its target: no one but the target's owner, whoever speaks for
// everyone, or (for a target anyone may write) anyone can have written it.
bool IsTrustedJournal(CVELK_FileSystem& files, CVELK_xFile& journal, CVELK_xFile& target);

// Ties a journal's completion mark to its header; not a secret: it only has to differ between
// journals.
uint64_t NewJournalNonce(const void* salt);
