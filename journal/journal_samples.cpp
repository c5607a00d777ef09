#include "journal/journal_samples.h"

#include <algorithm>
#include <cstring>

#include "file/io.h"


using namespace velk_journal;

CVELK_JournalSamples::CVELK_JournalSamples(const Header& header) : m_header(header)
{
    // Over the whole of the larger size; where both are empty, over what the records write.
    int64_t span = std::max(header.oldSize, header.patchedSize);
    if (span == 0) span = header.largestSize;
    if (span <= 0) return;
    m_count = static_cast<uint32_t>(std::min<int64_t>(kCandidates, std::max<int64_t>(1, span / kSampleBytes)));
    for (uint32_t i = 0; i < m_count; ++i) {
        // The middle of each of m_count equal stretches: they never overlap.
        Candidate& candidate = m_candidates[i];
        candidate.position = span / (2 * m_count) * (2 * i + 1);
        candidate.length = static_cast<uint32_t>(std::min<int64_t>(kSampleBytes, span - candidate.position));
    }
}

void CVELK_JournalSamples::Note(int64_t position, const uint8_t* data, uint32_t length)
{
    if (position < 0 || length == 0) return;
    const int64_t end = position > INT64_MAX - length ? INT64_MAX : position + length;
    // The first candidate that ends after the record starts.
    const Candidate* first = std::upper_bound(
        m_candidates, m_candidates + m_count, position,
        [](int64_t at, const Candidate& c) { return at < c.position + static_cast<int64_t>(c.length); });
    for (Candidate* c = m_candidates + (first - m_candidates); c < m_candidates + m_count && c->position < end; ++c) {
        const int64_t from = std::max(position, c->position);
        const int64_t to = std::min(end, c->position + static_cast<int64_t>(c->length));
        for (int64_t x = from; x < to; ++x) {
            const auto i = static_cast<size_t>(x - c->position);
            const uint8_t value = data[x - position];
            if (c->written[i] && c->after[i] != value) c->spoilt = true;
            c->written[i] = 1;
            c->after[i] = value;
        }
    }
}

bool CVELK_JournalSamples::Choose(CVELK_xFile& target, Trailer* trailer)
{
    Sample samples[kCandidates];
    uint32_t strength[kCandidates];
    bool usable[kCandidates];
    for (uint32_t i = 0; i < m_count; ++i) {
        const Candidate& c = m_candidates[i];
        Sample& s = samples[i];
        s.position = c.position;
        s.length = c.length;
        const int64_t stored = std::max<int64_t>(0, std::min<int64_t>(c.length, m_header.oldSize - c.position));
        const auto count = static_cast<uint32_t>(stored);
        if (count > 0 && velk_io::ReadFullyAt(target, c.position, s.before, count) != count) return false;
        for (uint32_t b = 0; b < c.length; ++b) {
            // What a byte no record writes ends as: its old value where the resize keeps it,
            // otherwise a zero or nothing.
            const int64_t x = c.position + b;
            const bool kept = x < m_header.oldSize && x < m_header.patchedSize;
            s.after[b] = c.written[b] ? c.after[b] : kept ? s.before[b] : 0;
        }
        strength[i] = Strength(s, m_header);
        usable[i] = !c.spoilt;
    }
    // The strongest usable candidates, in the order of their positions.
    uint32_t chosen = 0;
    bool taken[kCandidates] = {};
    for (; chosen < kSamples; ++chosen) {
        int best = -1;
        for (uint32_t i = 0; i < m_count; ++i) {
            if (usable[i] && !taken[i] && (best < 0 || strength[i] > strength[best])) best = static_cast<int>(i);
        }
        if (best < 0) break;
        taken[best] = true;
    }
    trailer->sampleCount = 0;
    for (uint32_t i = 0; i < m_count; ++i) {
        if (taken[i]) trailer->samples[trailer->sampleCount++] = samples[i];
    }
    return true;
}

uint32_t CVELK_JournalSamples::Strength(const Sample& sample, const Header& header)
{
    const int64_t kept = std::min(header.oldSize, header.patchedSize);
    uint32_t strength = 0;
    for (uint32_t b = 0; b < sample.length; ++b) {
        if (sample.position + b < kept && sample.before[b] != 0 && sample.after[b] != 0) ++strength;
    }
    return strength;
}

CVELK_JournalSamples::Agreement CVELK_JournalSamples::Check(const Sample& sample, const Header& header,
                                                            CVELK_xFile& target, int64_t size)
{
    const int64_t kept = std::min(header.oldSize, header.patchedSize);
    uint8_t bytes[kSampleBytes];
    const auto present =
        static_cast<uint32_t>(std::max<int64_t>(0, std::min<int64_t>(sample.length, size - sample.position)));
    if (present > 0 && velk_io::ReadFullyAt(target, sample.position, bytes, present) != present)
        return Agreement::kReadFailed;
    for (uint32_t b = 0; b < sample.length; ++b) {
        const int64_t x = sample.position + b;
        const bool outsideKept = x >= kept;
        const bool agrees = b >= present ? outsideKept
                                         : (x < header.oldSize && bytes[b] == sample.before[b]) ||
                                               bytes[b] == sample.after[b] || (outsideKept && bytes[b] == 0);
        if (!agrees) return Agreement::kDisagrees;
    }
    return Agreement::kAgrees;
}
