// The steps of one application of a payload to a target, and what they learn on the way.
// CVELK_IPS_IN runs them in order until one of them ends the application; every step returns a
// VelkOutcome, and Conclude puts back what a failed application changed.
#pragma once

#include <cstdint>
#include <memory>

#include "apply/message_owner.h"
#include "apply/outcome.h"
#include "apply/pacer.h"
#include "apply/result_check.h"
#include "file/velk_xfile.h"
#include "format/extension_block.h"
#include "format/record_stream.h"
#include "journal/undo_journal.h"

// What an application does about an undo journal that an earlier one kept beside its target.
enum class VelkKeptUndo {
    kAsk,      // asks whether to restore the original where the patch made the target (patch program)
    kReport,   // says that the target is already patched (velkpatch apply, which has `undo` for it)
    kRestore,  // restores the original without asking, and never applies (velkpatch undo)
};

// How CVELK_IPS_IN's users set its applications up.
struct VelkApplicationSettings {
    uint32_t streamMemoryBytes;
    int64_t resultRangeCost;
    bool journalEnabled;
    bool keepUndo = false;  // keep the journal for undo whatever the payload says
    VelkKeptUndo keptUndo = VelkKeptUndo::kAsk;
};


// The payload's header as an application reads it.
struct VelkPayloadHeader {
    int64_t patchedSize = 0;
    uint32_t targetCrc = 0;
    bool dataOffsetRead = false;
    uint64_t dataOffset = 0;
    bool hasIdentity = false;
    VelkResultIdentity identity;
    int64_t streamStart = 0;
    int64_t streamSpan = 0;  // from the stream's start to the end of the source
};

// What tells one patch from another in a journal kept for undo: a CRC-32 of what the payload's
// header and extension block record.
uint32_t VelkPatchMark(const VelkPayloadHeader& header);

class CVELK_ApplicationSteps {
public:
    CVELK_ApplicationSteps(CVELK_MessageOwner& owner, const VelkApplicationSettings& settings, CVELK_xFile& source,
                           CVELK_xFile& target, int64_t payloadOffset, CVELK_UndoJournal* journal, uint8_t* work);
    ~CVELK_ApplicationSteps();
    CVELK_ApplicationSteps(const CVELK_ApplicationSteps&) = delete;
    CVELK_ApplicationSteps& operator=(const CVELK_ApplicationSteps&) = delete;

    // Runs the steps below in their order until one of them ends the application.
    VelkOutcome Run();

    // The steps, in their order.
    VelkOutcome Recover();         // what an interrupted application left beside the target
    VelkOutcome Prepare();         // header, the target's CRC-32 and the question, the stream read once
    VelkOutcome SaveUndo();        // the journal: what the records overwrite, durable
    VelkOutcome ReserveSpace();    // without a journal: the space the records write
    VelkOutcome ResizeAndWrite();  // the first change: the size, then the records
    VelkOutcome VerifyResult();    // the result's CRC-32, where the payload records it
    VelkOutcome FlushAndCommit();  // the target on the disk, then the journal gone (or kept): kPatched
    // After the last step that ran: puts back what an application that did not succeed changed,
    // and tells what became of the target.
    VelkTargetFate Conclude(VelkOutcome outcome);

    // Applies the payload to one member of a set: the set has computed the target's CRC-32 and,
    // where it did not match, asked the question; the member's journal must be written (no
    // member goes without one), and it stays when the member is done, for the set to commit.
    void ApplyAsSetMember(uint32_t targetCrc) { m_memberCrc = targetCrc, m_member = true; }
    // Reads the payload through as Prepare does, without a target: its header, its data offset
    // and its record stream.
    VelkOutcome CheckPayload();

    // What Prepare learnt.
    const VelkPayloadHeader& Header() const { return m_header; }
    int64_t TargetSize() const { return m_oldSize; }
    uint32_t TargetCrc() const { return m_targetCrc; }

private:
    VelkOutcome ReadHeader();
    VelkOutcome CheckDataOffset();
    VelkOutcome CheckTarget();
    VelkOutcome CheckRecords();
    VelkOutcome JudgeKept();
    // Where Prepare finds the journal kept for undo is to be played: the original back from it,
    // verified, then the journal gone, instead of the steps after Prepare: kRestored.
    VelkOutcome Restore();
    // The CRC question, with a line above it that says why the target is not the original,
    // where that is known.
    bool AskCrcQuestion();
    // Whether this application keeps its journal for undo (if it has one).
    bool Keeping() const;
    // The stream from its first byte again: from memory when the checking pass held it whole.
    CVELK_ReadAhead* Restart();
    VelkOutcome WriteJournal(CVELK_ReadAhead& input);

    CVELK_MessageOwner& m_owner;
    const VelkApplicationSettings& m_settings;
    CVELK_xFile& m_source;
    CVELK_xFile& m_target;
    int64_t m_payloadOffset;
    CVELK_UndoJournal* m_journal;  // null: no journal is tried
    uint8_t* m_work;               // a record's data: 65535 bytes
    CVELK_StagePacer m_pacer;
    // The journal pass goes through the records, then the tail a shrink cuts off: its progress
    // runs on through the tail.
    class TailPacer : public CVELK_Pacer {
    public:
        explicit TailPacer(CVELK_StagePacer& pass) : m_pass(pass) {}
        void Progress(int64_t done, int64_t) override { m_pass.Progress(m_before + done, m_total); }
        bool StopRequested() override { return m_pass.StopRequested(); }
        int64_t m_before = 0, m_total = 0;

    private:
        CVELK_StagePacer& m_pass;
    } m_tailPacer{m_pacer};

    VelkPayloadHeader m_header;
    int64_t m_oldSize = -1;  // the target's size before the application
    uint32_t m_targetCrc = 0;
    std::unique_ptr<CVELK_ReadAhead> m_checked;  // the stream, as the checking pass read it
    std::unique_ptr<CVELK_ReadAhead> m_again;    // the stream read anew, where it did not fit
    int64_t m_streamBytes = 0;  // the stream, end record included
    // What a pass over the records counts: the stream, and a shrink's tail where it is saved.
    int64_t m_passBytes = 0;
    int64_t m_largestEnd = 0;   // the furthest byte any record reaches
    // Set when the result is to be verified: the target passed the CRC check and the payload
    // records the result's CRC-32.
    std::unique_ptr<CVELK_ResultCheck> m_result;
    bool m_verify = false;     // the result's CRC-32 is checked against the payload's
    uint32_t m_resultCrc = 0;  // known once the result check has read the result back
    bool m_kept = false;       // Recover found a journal kept for undo beside the target
    int m_recordPasses = 1;    // passes over the records: 2 where the journal pass ran
    bool m_journaled = false;  // a sealed journal stands behind every change
    bool m_member = false;     // a member of a set (ApplyAsSetMember)
    uint32_t m_memberCrc = 0;
    bool m_changed = false;    // the target may have changed
};
