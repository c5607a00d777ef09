// Reads an undo journal back (journal_format.h): judges what it is, whether it belongs to the
// target beside it, and writes the saved bytes back. Nothing is written to the target before
// the whole journal has been read and found good.
#pragma once

#include <cstdint>

#include "file/io_buffer.h"
#include "file/pacer.h"
#include "file/velk_xfile.h"
#include "journal/journal_format.h"

enum class JournalVerdict {
    kUnwritten,  // a header that never reached the disk whole: the power failed as it was created
    kWriting,    // its application had not yet touched its target
    kDone,       // its application is over
    kKept,       // its application is over, and it is kept for undo (its blocks not yet read)
    kPlayable,   // sealed, whole, every checksum good
    kDamaged,    // sealed, but a part of it is missing or does not check out
    kUnusable,   // not a journal, or unreadable
};

enum class JournalFit { kFits, kDoesNotFit, kTargetReadFailed };

class CVELK_JournalPlayer {
public:
    // Reading the journal through and writing it back are two passes of equal length: `pacer`,
    // where there is one, hears of both as one piece of work.
    explicit CVELK_JournalPlayer(CVELK_xFile& journal, CVELK_Pacer* pacer = nullptr);
    CVELK_JournalPlayer(const CVELK_JournalPlayer&) = delete;
    CVELK_JournalPlayer& operator=(const CVELK_JournalPlayer&) = delete;

    // Reads the whole journal and checks every checksum; of a journal kept for undo, only its
    // header, and without `blocks` of a sealed one too (kPlayable then says no more than that
    // its header is sound).
    JournalVerdict Examine(bool blocks = true);
    // After Examine found a journal kept for undo: reads the rest of it. kPlayable or kDamaged.
    JournalVerdict ExamineKept();
    // After Examine found a header: whether the file with these facts (unknown: null) is the
    // one the journal was written for, as far as its identity tells.
    bool Belongs(const VelkFileFacts* target) const;
    // After Examine found it playable: whether the target is in a state that the journal's
    // application can have left it in: a size it can have set, and every sample agreeing.
    JournalFit Fits(CVELK_xFile& target);
    // Restores the target's size and writes every saved byte back, then makes the target
    // durable. After Examine; false when the target's I/O or a read of the journal failed.
    bool PlayBack(CVELK_xFile& target);

    const velk_journal::Header& Header() const { return m_header; }
    // Whether a read of the journal failed: what Examine said is then no verdict on its bytes.
    bool ReadFailed() const { return m_readFailed; }

private:
    JournalVerdict ExamineSealed(int64_t size);
    // Goes through the blocks; with a target, writes their entries into it.
    bool WalkBlocks(CVELK_xFile* target);
    bool ReadJournal(int64_t position, uint8_t* buffer, uint32_t count);
    // Writes an entry's saved bytes back into the target.
    bool WriteBack(CVELK_xFile& target, int64_t position, const uint8_t* data, uint32_t count);

    CVELK_xFile& m_journal;
    CVELK_Pacer* m_pacer;
    velk_journal::Header m_header;
    velk_journal::Trailer m_trailer;
    CVELK_IoBuffer m_block;
    // An entry's bytes copied in phase with their place in the target before they are written.
    CVELK_IoBuffer m_stage;
    bool m_readFailed = false;
};
