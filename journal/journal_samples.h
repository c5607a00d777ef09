// The samples of an undo journal: evidence, kept in its trailer, that a file is the journal's
// own target. A sample is a stretch of the target with its bytes before the application and the
// bytes the application leaves there. Whenever an application is interrupted, and whatever of
// its writes reached the disk, torn ones included, every byte of a sample is one of those two
// (past the part of the file both sizes keep it may also be a zero the resize made, or missing).
// Another file fails a sample unless it agrees with it at each of its bytes.
//
// Samples lie in changed and unchanged stretches alike, so that no patch can leave none: one
// that rewrites every byte, or one from an empty original, has samples of what it writes. Only a
// stretch that the records write twice with different bytes cannot be a sample (an interruption
// between the two leaves a third value); of many candidates spread over the file the best are
// kept.
#pragma once

#include <cstdint>

#include "file/velk_xfile.h"
#include "journal/journal_format.h"

class CVELK_JournalSamples {
public:
    static constexpr uint32_t kCandidates = 64;

    explicit CVELK_JournalSamples(const velk_journal::Header& header);

    // Data the application will write, as its records come.
    void Note(int64_t position, const uint8_t* data, uint32_t length);
    // Before the target changes: reads its bytes at the candidates and picks the samples. False
    // when the target cannot be read.
    bool Choose(CVELK_xFile& target, velk_journal::Trailer* trailer);

    // Whether `target`, of `size` bytes, agrees with a sample of the journal with this header.
    enum class Agreement { kAgrees, kDisagrees, kReadFailed };
    static Agreement Check(const velk_journal::Sample& sample, const velk_journal::Header& header,
                           CVELK_xFile& target, int64_t size);

private:
    struct Candidate {
        int64_t position = 0;
        uint32_t length = 0;
        bool spoilt = false;  // a byte is written twice, with different values
        uint8_t written[velk_journal::kSampleBytes] = {};
        uint8_t after[velk_journal::kSampleBytes] = {};
    };
    // How strongly a sample tells files apart: its bytes that may not be zero.
    static uint32_t Strength(const velk_journal::Sample& sample, const velk_journal::Header& header);

    velk_journal::Header m_header;
    Candidate m_candidates[kCandidates];
    uint32_t m_count = 0;
};
