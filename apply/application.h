// Applies a payload to a target file in place, reporting every outcome through its message owner.
// An application through ApplyPatch is undoable: before the target changes, a journal beside it
// saves what the records overwrite (undo_journal.h); a failure or a stop request puts the target
// back, and a journal that an interrupted application left is played back before the next one.
#pragma once

#include <cstdint>
#include <memory>

#include "apply/message_owner.h"
#include "apply/result_check.h"
#include "file/file_system.h"
#include "file/native_path.h"
#include "file/velk_xfile.h"
#include "format/extension_block.h"
#include "journal/undo_journal.h"

class CVELK_ReadAhead;

// What an application would find, learnt without changing anything (CVELK_IPS_IN::Examine).
struct VelkExamination {
    enum class Outcome {
        kWouldApply,      // it would go on to write (after the CRC question, if the owner was asked)
        kAlreadyPatched,  // the target already is what the patch makes
        kRefused,         // a message was shown, or the owner declined or asked to stop
    };
    Outcome outcome = Outcome::kRefused;
    int64_t patchedSize = 0;
    uint32_t expectedCrc = 0;  // the original's CRC-32 the payload records; 0: none
    bool hasIdentity = false;  // the payload carries an extension block that counts
    VelkResultIdentity identity;
    int64_t targetSize = -1;
    bool targetCrcKnown = false;  // computed only where the payload needs it
    uint32_t targetCrc = 0;
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
    void SetUndoJournal(bool enabled) { m_journalEnabled = enabled; }

    static constexpr uint32_t kWorkBufferBytes = 65536;
    // A record stream up to this long is read from the patch source once and written from
    // memory; a longer one is read a second time for writing. Together with the target writer's
    // window and the read-ahead this keeps an application well under 64 MiB of memory.
    static constexpr uint32_t kStreamMemoryBytes = 32u << 20;

protected:
    // Opens one of ApplyPatch's two files; null when the open fails. The file is closed when the
    // pointer goes. Tests override it to watch the files or make their operations fail.
    virtual std::unique_ptr<CVELK_xFile> OpenFile(const NativeChar* path, int mode, int share);
    void SetStreamMemoryLimit(uint32_t bytes) { m_streamMemoryBytes = bytes; }
    // What the result check counts a range as costing (CVELK_ResultCheck); 0 makes it read the
    // changed ranges of the smallest file, instead of the whole file.
    void SetResultRangeCost(int64_t bytes) { m_resultRangeCost = bytes; }

private:
    struct Header {
        int64_t patchedSize = 0;
        uint32_t targetCrc = 0;
        bool dataOffsetRead = false;
        uint64_t dataOffset = 0;
        bool hasIdentity = false;
        VelkResultIdentity identity;
        int64_t streamStart = 0;
        int64_t streamSpan = 0;  // from the stream's start to the end of the source
    };
    struct StreamCheck {
        const char16_t* fault = nullptr;
        int64_t bytes = 0;       // the stream, end record included
        int64_t largestEnd = 0;  // the furthest byte any record reaches
    };
    enum class Prepared { kWrite, kAlreadyPatched, kEnded };
    // What the steps before the first change have learnt.
    struct Plan {
        Plan();
        ~Plan();
        Header header;
        int64_t oldSize = -1;  // the target's size before the application
        bool targetCrcKnown = false;
        uint32_t targetCrc = 0;
        std::unique_ptr<CVELK_ReadAhead> checked;  // the stream, as the checking pass read it
        StreamCheck stream;
        // Set when the result is to be verified: the target passed the CRC check and the payload
        // records the result's CRC-32.
        std::unique_ptr<CVELK_ResultCheck> result;
    };
    // What the writing pass came to: nothing (done), a fault's message, or a stop.
    struct Written {
        const char16_t* fault = nullptr;
        bool stopped = false;
    };

    bool Apply(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset, CVELK_UndoJournal* journal);
    // Every step before the target changes; kEnded after a message, a declined question or a stop.
    Prepared Prepare(CVELK_xFile& source, CVELK_xFile& target, int64_t payloadOffset, Plan* plan);
    // From the magic text to the data offset, and the extension block. Only the failures that
    // come before the CRC step are reported here.
    bool ReadHeader(CVELK_xFile& source, int64_t payloadOffset, Header* header);
    // Message (3) or (4) when the data offset is not usable; otherwise the stream's place is set.
    const char16_t* CheckDataOffset(CVELK_xFile& source, int64_t payloadOffset, Header* header);
    // The CRC step: the CRC question, or "already patched", or a result to verify.
    Prepared CheckTarget(CVELK_xFile& target, Plan* plan);
    StretchCrcVerdict TargetCrc(CVELK_xFile& target, int64_t size, uint32_t* crc);
    // Reads the stream once without writing: the message of the first fault the writing pass
    // would meet, or none. Each record's range goes to `result` when there is one.
    StreamCheck CheckRecords(CVELK_ReadAhead& input, CVELK_ResultCheck* result);
    // The stream from its first byte again: from memory when the checking pass held it whole.
    CVELK_ReadAhead* Restart(CVELK_ReadAhead& checked, std::unique_ptr<CVELK_ReadAhead>& again,
                             CVELK_xFile& source, int64_t streamStart);
    // Saves what the records will overwrite. False after a message or a stop; true with
    // `journaled` false when no journal could be written and the application goes on without.
    bool WriteJournal(CVELK_ReadAhead& input, int64_t streamBytes, CVELK_xFile& target,
                      const velk_journal::Header& plan, CVELK_UndoJournal& journal, bool* journaled);
    // Makes sure the space every record writes is there; the fault's message otherwise.
    const char16_t* ReserveRecords(CVELK_ReadAhead& input, CVELK_xFile& target);
    Written WriteRecords(CVELK_ReadAhead& input, CVELK_xFile& target, int64_t streamBytes, bool stoppable);
    // With a journal the stream is gone through twice, to save what the records overwrite and
    // then to write them; each pass shows as its share of the one records stage, so that the
    // percentage neither stalls through the first pass nor runs back at the second.
    void ReportRecords(int64_t done, int64_t streamBytes);
    // Before record number `count` of a pass: the progress now and then and, where the pass may
    // stop, a look at the stop request now and then. True: stop.
    bool BetweenRecords(uint32_t count, int64_t done, int64_t streamBytes, bool stoppable);
    bool Recovered(RecoveryOutcome outcome);
    // Ends an application whose target has changed; with a journal, the target is put back first.
    // A null message: the owner asked to stop. `restoredMessage`, where given, is shown instead
    // of `message` once the target is back as it was.
    bool Undo(CVELK_UndoJournal* journal, CVELK_xFile& target, const char16_t* message,
              const char16_t* restoredMessage = nullptr);
    bool Fail(const char16_t* message);
    bool Fail(const char16_t* message, const char16_t* lastLine);
    Prepared End(const char16_t* message);
    bool Stop();

    CVELK_MessageOwner& m_owner;
    CVELK_FileSystem* m_files = &DiskFileSystem();
    uint32_t m_streamMemoryBytes = kStreamMemoryBytes;
    int64_t m_resultRangeCost = CVELK_ResultCheck::kRangeCostBytes;
    bool m_journalEnabled = true;
    bool m_stopped = false;
    int m_recordPass = 0, m_recordPasses = 1;
    uint8_t m_work[kWorkBufferBytes] = {};
};
