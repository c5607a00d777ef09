// The undo journal of one target through an application's life: recovery of what an earlier,
// interrupted application left; the journal written and made durable before the target changes;
// rollback when the application fails; removal when it has succeeded. The journal is
// NAME.velk-undo beside the target, always a file of the application's own making; one found
// there is judged by its contents, never trusted for its name.
#pragma once

#include <memory>
#include <vector>

#include "file/file_system.h"
#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "payload/journal_format.h"
#include "payload/journal_writer.h"
#include "payload/message_owner.h"

enum class RecoveryOutcome {
    kNothingPending,  // no journal
    kDiscarded,       // a journal written before its target changed: removed
    kRestored,        // the target is back as it was before the interrupted application
    kUnusable,        // something that is not a journal of this target has the name: left alone
    kFailed,          // the target or the journal failed during playback; the journal is kept
};

constexpr NativeChar kJournalSuffix[] = VELK_NATIVE(".velk-undo");

class CVELK_UndoJournal {
public:
    CVELK_UndoJournal(CVELK_FileSystem& files, const NativeChar* targetPath);
    ~CVELK_UndoJournal();
    CVELK_UndoJournal(const CVELK_UndoJournal&) = delete;
    CVELK_UndoJournal& operator=(const CVELK_UndoJournal&) = delete;

    // Inline: a NativeString in the engine's own code would bring the wide string class into the
    // patch program.
    static NativeString PathFor(const NativeChar* targetPath) { return NativeString(targetPath) + kJournalSuffix; }

    // Plays back or removes a journal an earlier application left. Only while the target is
    // held open so that no other application can be writing it.
    RecoveryOutcome Recover(CVELK_xFile& target);

    // Starts a new journal for an application described by `header` (the nonce is filled in).
    // kJournalFailed when none can be created here; the application may go on without one.
    JournalStatus Begin(CVELK_xFile& target, velk_journal::Header header, CVELK_MessageOwner& owner);
    JournalStatus Save(int64_t from, int64_t to) { return m_writer->Save(from, to); }
    // Completes the journal and makes it and its folder entry durable. On any failure the
    // journal is removed again.
    JournalStatus Seal();
    // Removes an unfinished journal: the application will not touch the target with it.
    void Abandon();
    // True between a successful Seal and Commit or RollBack.
    bool Sealed() const { return m_sealed; }

    // The target is patched and durable: removes the journal. False when it could not be
    // removed nor made void; it still undoes the application then.
    bool Commit();
    // Writes the saved bytes back and removes the journal. False when the target is not
    // restored, or its journal could not be removed; the journal is kept then.
    bool RollBack(CVELK_xFile& target);

private:
    bool RemoveFile();

    CVELK_FileSystem& m_files;
    std::vector<NativeChar> m_path;  // NUL-terminated
    std::unique_ptr<CVELK_xFile> m_file;
    std::unique_ptr<CVELK_JournalWriter> m_writer;
    bool m_sealed = false;
};
