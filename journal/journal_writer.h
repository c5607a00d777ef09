// Writes an undo journal (journal_format.h): the header, then the target's bytes in every range
// the application is going to change, read before anything changes, then the completion mark.
// Ranges may come in any order and overlap; each one is merged with the one before it when they
// touch or nearly do, so a stream of increasing records saves each stretch once. Ranges the
// merge cannot join are saved as they come: an overlap costs space, never correctness, since
// every saved byte is the target's byte from before the application.
#pragma once

#include <cstdint>

#include "crc/crc32.h"
#include "file/io_buffer.h"
#include "file/pacer.h"
#include "file/velk_xfile.h"
#include "journal/journal_format.h"
#include "journal/journal_samples.h"

enum class JournalStatus {
    kOk,
    kJournalFailed,     // no journal can be written here
    kTaken,             // something else has the journal's name: another application, at work
    kTargetReadFailed,
    kStopped,
};

class CVELK_JournalWriter {
public:
    // Ranges closer than this are saved as one: an entry header costs more than the bytes between.
    static constexpr int64_t kMergeGapBytes = velk_journal::kEntryHeaderBytes;

    // `pacer` is asked about stopping between blocks, and hears how far the saving of the tail a
    // shrink cuts off has come (which may be most of the file).
    CVELK_JournalWriter(CVELK_xFile& journal, CVELK_xFile& target, const velk_journal::Header& header,
                        CVELK_Pacer& pacer);
    CVELK_JournalWriter(const CVELK_JournalWriter&) = delete;
    CVELK_JournalWriter& operator=(const CVELK_JournalWriter&) = delete;

    // Writes the header, in the state "being written", and makes it durable: from then on the
    // journal's name holds nothing but this journal.
    JournalStatus Begin();
    // A record's data is going to be written at `position`: what it overwrites is saved (only
    // what lies in the part of the target that both sizes keep; the cut-off tail is saved by
    // Finish), and the samples learn what it writes.
    JournalStatus Note(int64_t position, const uint8_t* data, uint32_t length);
    // The range [from, to) of the target is going to be written.
    JournalStatus Save(int64_t from, int64_t to);
    // Saves what is still held and the tail a shrink cuts off, picks the samples, makes the
    // blocks and the trailer durable, then the header's state "sealed".
    JournalStatus Finish();

private:
    // With `report`, the progress through [from, to) goes to the pacer.
    JournalStatus SaveNow(int64_t from, int64_t to, bool report = false);
    bool Fill(int64_t from, int64_t need);
    bool CloseBlock();
    JournalStatus MarkComplete();

    CVELK_xFile& m_journal;
    CVELK_xFile& m_target;
    velk_journal::Header m_header;
    CVELK_Pacer& m_pacer;
    int64_t m_kept;  // the part of the target that both sizes keep
    // The range held back for merging.
    int64_t m_heldFrom = 0, m_heldTo = 0;
    // A block: its header, then its entries; it starts in phase with where it goes in the
    // journal (io_buffer.h).
    CVELK_IoBuffer m_blockBuffer;
    uint8_t* m_block = nullptr;
    uint32_t m_blockCapacity = 0;  // header included
    uint32_t m_blockUsed = velk_journal::kBlockHeaderBytes;
    // The target's bytes [m_readFrom, m_readTo), in phase, read ahead by doubling while ranges
    // keep landing close behind what was read.
    CVELK_IoBuffer m_readBuffer;
    uint8_t* m_read = nullptr;
    uint32_t m_readCapacity = 0;
    int64_t m_readFrom = 0, m_readTo = 0;
    uint32_t m_readAhead;
    velk_journal::Trailer m_trailer;
    _m_CRC32 m_blocksCrc;
    CVELK_JournalSamples m_samples;
};

// Writes the header with a new state where it stands, at the start of the journal, and makes it
// durable.
bool RewriteJournalState(CVELK_xFile& journal, velk_journal::Header header, velk_journal::State state);
