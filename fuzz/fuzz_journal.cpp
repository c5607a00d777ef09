// A journal found beside a target is judged by its contents alone: any bytes at all go through
// the player, over in-memory files, and whatever they hold, nothing is read or written out of
// bounds, and a journal is played back only when it is whole and fits the target, which then has
// the size the journal's header names and bytes that are the journal's or the target's own.
//
// Input: the target's length (2 bytes), the target, the rest is the journal.
#include "file/memory_file.h"
#include "fuzz/fuzz_support.h"
#include "journal/journal_format.h"
#include "journal/journal_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::vector<uint8_t> original = input.TakeBytes(static_cast<size_t>(input.Take(2)));
    const std::vector<uint8_t> journalBytes = input.Rest();
    CVELK_MemoryFile journal(journalBytes, kAccessRead), target(original);
    target.SetSizeLimit(1u << 20);
    CVELK_JournalPlayer player(journal);
    const JournalVerdict verdict = player.Examine();
    // Judging reads: the journal is never written, whatever it is.
    if (verdict != JournalVerdict::kPlayable) {
        VELK_FUZZ_CHECK(journal.Bytes() == journalBytes);
        return 0;
    }
    // Played only when sealed, with a whole header of its own.
    velk_journal::Header header;
    VELK_FUZZ_CHECK(velk_journal::DecodeHeader(journalBytes.data(), static_cast<uint32_t>(journalBytes.size()), &header));
    VELK_FUZZ_CHECK(header.state == velk_journal::State::kSealed);
    if (player.Fits(target) != JournalFit::kFits) {
        VELK_FUZZ_CHECK(target.Bytes() == original);
        return 0;
    }
    if (player.PlayBack(target)) VELK_FUZZ_CHECK(target.GetSize() == header.oldSize);
    return 0;
}
