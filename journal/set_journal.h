// The set journal beside a set's anchor (ANCHOR.velk-set-undo): what makes the application of a
// set (format/set_format.h) all or nothing. It names every member; each modified or created
// member has an undo journal of its own beside it (undo_journal.h) whose header carries this
// journal's nonce, and which only this journal's recovery plays.
//
//   header   128 bytes: magic, nonce, state, the anchor's identity (volume and file index), how
//            many folders below the set's root the anchor lies, the number of records, the
//            records' length and CRC-32; CRC-32 of the 124 bytes before.
//   records  one a member or a folder the set makes: length (4), kind (1), flags (1: 1 for the
//            anchor, which is held open throughout), path length (2), path (UTF-8, '/' between folders, relative to the set's root).
//
// ORDER OF WRITES, FLUSHES AND FOLDER SYNCS
//   1. The journal is written whole in state WRITING and flushed, its header rewritten SEALED
//      and flushed, its folder synced: all before any member changes.
//   2. Member by member: a folder the set makes is made; a modified or created file gets its own
//      journal, sealed, before it changes (a created file is made empty first, as a new file that
//      no link can stand for); a file that goes, or one a created file takes the place of, is
//      moved aside to NAME.velk-removed within its folder; each member is flushed when written.
//   3. Every member written and flushed: the header becomes COMMITTING and is flushed. This is the
//      commit point: from here on recovery completes the set instead of undoing it.
//   4. The members' journals and the moved-aside files are removed, and the folders synced;
//      then this journal.
//
// WHAT RECOVERY DOES (at the next application of a set through the anchor, or velkpatch recover)
//   shorter than a header, zeros or the magic's start; or WRITING: no member has changed; removed
//   SEALED: every member is put back: a member's journal is played; a created file is taken back
//            to nothing by its journal and removed (an empty one without a journal too); a
//            moved-aside file goes back to its name; a folder the set made is removed once empty.
//            Then the journal is removed.
//   COMMITTING: the members' journals and moved-aside files are removed, then the journal.
//   anything else, or a journal of another anchor, or one that is not trusted (the rules of
//   undo_journal.h): kept, reported, and nothing changes.
// Where a member cannot be put back (its journal damaged, a created file with bytes and no
// journal), the journal is kept, and everything else is put back.
#pragma once

#include <cstdint>
#include <memory>

#include "crc/crc32.h"
#include "file/file_system.h"
#include "file/velk_xfile.h"

enum class SetRecordKind : uint8_t { kModify = 1, kCreate = 2, kDelete = 3, kFolder = 4 };

enum class SetRecovery {
    kNothingPending,
    kDiscarded,  // a set journal written before any member changed: removed
    kRestored,   // every member is back as it was before the interrupted application
    kCompleted,  // the interrupted application had reached its commit point: it is complete now
    kUnusable,   // not a trusted set journal of this anchor: left alone
    kDamaged,    // a set journal of this anchor that cannot be read whole: kept
    kFailed,     // a member could not be put back (or its leftovers removed): the journal is kept
};

constexpr NativeChar kSetJournalSuffix[] = VELK_NATIVE(".velk-set-undo");
constexpr NativeChar kRemovedSuffix[] = VELK_NATIVE(".velk-removed");

class CVELK_SetJournal {
public:
    // The set journal of the set whose anchor is `anchorPath`; it lies beside the anchor itself.
    CVELK_SetJournal(CVELK_FileSystem& files, const NativeChar* anchorPath);
    ~CVELK_SetJournal();
    CVELK_SetJournal(const CVELK_SetJournal&) = delete;
    CVELK_SetJournal& operator=(const CVELK_SetJournal&) = delete;

    const NativeChar* Path() const { return m_path.data(); }
    // Where the set journal of the set whose anchor is `anchorPath` lies, NUL-terminated.
    static VelkPath JournalPathOf(CVELK_FileSystem& files, const NativeChar* anchorPath)
    {
        return PathBeside(files, anchorPath, kSetJournalSuffix);
    }
    // The path of a member: the root, then the member's path with the platform's separators.
    VelkPath MemberPath(const char* path, size_t bytes) const;
    // Where a member that goes, or that a created file takes the place of, waits for the commit:
    // beside its own name (a member is never a link).
    static VelkPath RemovedPath(const NativeChar* member);

    // Undoes or completes what an interrupted application of a set left, the anchor held open.
    SetRecovery Recover(CVELK_xFile& anchor);

    // Writing, before any member changes: Begin, one Add a record, Seal. Each false when the
    // journal cannot be written here (the set is then not applied). The anchor lies `depth`
    // folders below the set's root.
    bool Begin(CVELK_xFile& anchor, uint32_t depth);
    bool Add(SetRecordKind kind, const char* path, size_t bytes, bool anchor = false);
    bool Seal();
    // The nonce every member's journal carries.
    uint64_t Nonce() const { return m_nonce; }
    // The commit point, once every member is written and flushed.
    bool Commit();
    // After the commit point: removes what the set kept for undoing, and the journal. False when
    // something could not be removed; the journal is kept then, for recovery to finish.
    bool Finish();
    // Before the commit point: puts every member back and removes the journal. False when a
    // member could not be put back; the journal is kept then.
    bool RollBack();
    // Gives up a journal that was never sealed.
    void Abandon();

private:
    struct Header;
    // Goes through the records of the journal open in m_file; `visit` answers false to stop.
    // `sum`, where there is one, is fed every record whole.
    template <class Visit>
    bool WalkRecords(const Header& header, Visit&& visit, _m_CRC32* sum = nullptr);
    bool PutBack(const Header& header);
    bool CleanUp(const Header& header);
    bool WriteHeader(uint32_t state);
    bool RemoveJournal();

    CVELK_FileSystem& m_files;
    VelkPath m_anchor;  // NUL-terminated
    VelkPath m_path;    // NUL-terminated
    VelkPath m_root;    // without its NUL
    uint32_t m_depth = 0;
    std::unique_ptr<CVELK_xFile> m_file;
    CVELK_xFile* m_anchorFile = nullptr;  // held by the caller: a second open would be refused
    uint64_t m_nonce = 0;
    uint64_t m_volume = 0, m_index = 0;
    uint32_t m_records = 0;
    uint64_t m_recordBytes = 0;
    _m_CRC32 m_recordsSum;
    uint32_t m_recordsCrc = 0;  // of the records written
    bool m_sealed = false;
    bool m_commitTried = false;
};
