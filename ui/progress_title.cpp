#include "ui/progress_title.h"

#include "apply/messages.h"
#include "format/payload_text.h"

VelkShownProgress ShownProgress(VelkProgressStage stage, int64_t done, int64_t total)
{
    if (total <= 0) return {stage, -1};
    if (done <= 0) return {stage, 0};
    if (done >= total) return {stage, 100};
    // Both halved where the product would overflow (files of exabytes): the share stays.
    while (done > INT64_MAX / 100) {
        done >>= 1;
        total >>= 1;
    }
    const int64_t percent = done * 100 / total;
    // 100% means done, whatever the halving rounded.
    return {stage, percent < 99 ? static_cast<int>(percent) : 99};
}

std::u16string ProgressTitle(const char16_t* caption, VelkShownProgress progress)
{
    std::u16string title(caption);
    title += u" - ";
    title += progress.stage == VelkProgressStage::kCrc ? velk_messages::kProgressChecking
                                                       : velk_messages::kProgressPatching;
    if (progress.percent >= 0) {
        title += u' ';
        title += DecimalText(progress.percent);
        title += u'%';
    }
    return title;
}

bool CVELKProgressPacer::Note(VelkShownProgress progress, uint64_t nowMs)
{
    m_latest = progress;
    m_noted = true;
    if (m_shownAny && (progress == m_shown || nowMs - m_shownAtMs < m_intervalMs)) return false;
    m_shown = progress;
    m_shownAtMs = nowMs;
    m_shownAny = true;
    return true;
}

bool CVELKProgressPacer::CatchUp()
{
    if (!m_noted || (m_shownAny && m_latest == m_shown)) return false;
    m_shown = m_latest;
    m_shownAny = true;
    return true;
}

bool CVELKProgressPacer::Due(uint64_t nowMs)
{
    if (!m_shownAny || m_latest == m_shown || nowMs - m_shownAtMs < m_intervalMs) return false;
    m_shown = m_latest;
    m_shownAtMs = nowMs;
    return true;
}
