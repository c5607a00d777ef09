// Reads an undo journal back (journal_format.h): judges whether it is whole, whether it belongs
// to the target beside it, and writes the saved bytes back. Nothing is written to the target
// before the whole journal has been read and found good.
#pragma once

#include <cstdint>
#include <memory>

#include "file/velk_xfile.h"
#include "payload/journal_format.h"

enum class JournalVerdict {
    kIncomplete,  // no completion mark: the application it was written for never touched its target
    kUnusable,    // not a journal, damaged, or unreadable: never played back
    kPlayable,
};

enum class JournalFit { kFits, kDoesNotFit, kTargetReadFailed };

class CVELK_JournalPlayer {
public:
    explicit CVELK_JournalPlayer(CVELK_xFile& journal);
    CVELK_JournalPlayer(const CVELK_JournalPlayer&) = delete;
    CVELK_JournalPlayer& operator=(const CVELK_JournalPlayer&) = delete;

    // Reads the whole journal and checks every checksum.
    JournalVerdict Examine();
    // Whether the target is in a state that the journal's application can have left it in: a
    // size it can have set, and the samples of what it left alone unchanged. After Examine.
    JournalFit Fits(CVELK_xFile& target);
    // Restores the target's size and writes every saved byte back, then makes the target
    // durable. After Examine; false when the target's I/O or a read of the journal failed.
    bool PlayBack(CVELK_xFile& target);

private:
    // Goes through the blocks; with a target, writes their entries into it.
    bool WalkBlocks(CVELK_xFile* target);
    bool ReadJournal(int64_t position, uint8_t* buffer, uint32_t count);

    CVELK_xFile& m_journal;
    velk_journal::Header m_header;
    velk_journal::Trailer m_trailer;
    std::unique_ptr<uint8_t[]> m_block;
};
