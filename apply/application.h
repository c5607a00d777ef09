// Applies a payload to a target file in place, reporting every outcome through its message owner.
// An application through ApplyPatch is undoable: before the target changes, a journal beside it
// saves what the records overwrite (undo_journal.h); a failure or a stop request puts the target
// back, and a journal that an interrupted application left is played back before the next one.
#pragma once

#include <cstdint>
#include <memory>

#include "apply/application_steps.h"
#include "apply/message_owner.h"
#include "apply/outcome.h"
#include "apply/result_check.h"
#include "file/file_system.h"
#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "format/extension_block.h"
#include "journal/undo_journal.h"

// What an application would find, learnt without changing anything (CVELK_IPS_IN::Examine).
struct VelkExamination {
    enum class Outcome {
        kWouldApply,      // it would go on to write (after the CRC question, if the owner was asked)
        kAlreadyPatched,  // the target already is what the patch makes
        kRefused,         // a message was shown, or the owner declined or asked to stop
    };
    Outcome outcome = Outcome::kRefused;
    uint32_t expectedCrc = 0;  // the original's CRC-32 the payload records; 0: none
    bool hasIdentity = false;  // the payload carries an extension block that counts
    VelkResultIdentity identity;
    int64_t targetSize = -1;
    uint32_t targetCrc = 0;  // computed only where the payload needs it, 0 elsewhere
};

class CVELK_IPS_IN {
public:
    explicit CVELK_IPS_IN(CVELK_MessageOwner& owner) : m_owner(owner) {}
    virtual ~CVELK_IPS_IN() {}
    CVELK_IPS_IN(const CVELK_IPS_IN&) = delete;
    CVELK_IPS_IN& operator=(const CVELK_IPS_IN&) = delete;

    // Opens the patch source (read only) and the target (read and write), both sharing only
    // reading, and applies. True when the patch was applied completely; every outcome but a
    // negative offset, a declined CRC question and a stop has shown exactly one message.
    bool ApplyPatch(const NativeChar* sourcePath, const NativeChar* targetPath, int64_t payloadOffset);

    // Goes through everything an application does before it changes the target (the header,
    // the target's CRC-32, the record stream) on a target opened only for reading, and stops
    // there. The owner sees what an application would show; its answer to the CRC question
    // decides whether the rest is examined.
    VelkExamination Examine(const NativeChar* sourcePath, const NativeChar* targetPath, int64_t payloadOffset);

    // Takes back an application of this patch whose undo journal was kept beside the target:
    // opens both files as ApplyPatch does and restores the original without asking, or says why
    // it cannot. Applies nothing. True when the original is back.
    bool UndoPatch(const NativeChar* sourcePath, const NativeChar* targetPath, int64_t payloadOffset);

    // Opens the target as ApplyPatch does and plays back or removes what an interrupted
    // application left beside it, applying nothing. Shows a message only when that fails
    // (kUnusable, kFailed, or the target could not be opened, which answers kFailed).
    RecoveryOutcome RecoverTarget(const NativeChar* targetPath);

    // The application proper, over files that are already open; without a journal, since the
    // target's name is not known.
    bool ApplyOpened(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset);

    // True when the last application ended because the message owner asked it to stop, with the
    // target as it was. It then showed no message.
    bool Stopped() const { return m_stopped; }

    // Where ApplyPatch and RecoverTarget find their files: the disk unless a test says otherwise.
    void UseFileSystem(CVELK_FileSystem& files) { m_files = &files; }
    // Applications without a journal and without flushing the target, as before journals
    // existed; for benchmarks that measure what the journal costs.
    void SetUndoJournal(bool enabled) { m_settings.journalEnabled = enabled; }
    // Keeps the journal of every successful application beside the target for undo, as a patch
    // marked for it does.
    void SetKeepUndo(bool keep) { m_settings.keepUndo = keep; }
    // What an application does about a journal kept beside its target (ask by default).
    void SetKeptUndo(VelkKeptUndo use) { m_settings.keptUndo = use; }

    static constexpr uint32_t kWorkBufferBytes = 65536;
    // A record stream up to this long is read from the patch source once and written from
    // memory; a longer one is read a second time for writing. Together with the target writer's
    // window and the read-ahead this keeps an application well under 64 MiB of memory.
    static constexpr uint32_t kStreamMemoryBytes = 32u << 20;

protected:
    // Opens one of ApplyPatch's two files; null when the open fails. The file is closed when the
    // pointer goes. Tests override it to watch the files or make their operations fail.
    virtual std::unique_ptr<CVELK_xFile> OpenFile(const NativeChar* path, int mode, int share);
    void SetStreamMemoryLimit(uint32_t bytes) { m_settings.streamMemoryBytes = bytes; }
    // What the result check counts a range as costing (CVELK_ResultCheck); 0 makes it read the
    // changed ranges of the smallest file, instead of the whole file.
    void SetResultRangeCost(int64_t bytes) { m_settings.resultRangeCost = bytes; }

private:
    // The steps of an application, in their order, until one of them ends it.
    bool Apply(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset, CVELK_UndoJournal* journal);
    // The one place an outcome becomes what the user sees: one message, or none. True for the
    // outcomes that leave the target patched.
    // `about` is the file (or the list of files) the outcome concerns, where it names any.
    bool Tell(VelkOutcome outcome, VelkTargetFate fate = VelkTargetFate::kAsItWas, const char16_t* about = u"");

    CVELK_MessageOwner& m_owner;
    CVELK_FileSystem* m_files = &DiskFileSystem();
    VelkApplicationSettings m_settings = {kStreamMemoryBytes, CVELK_ResultCheck::kRangeCostBytes, true};
    bool m_stopped = false;
    uint8_t m_work[kWorkBufferBytes] = {};
};
