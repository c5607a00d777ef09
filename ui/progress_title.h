// How an application's progress reaches the patch program's window: as a whole percentage after
// the caption ("DRAV补丁程序 3.0.2010.11250 - 校验 42%"), changed a few times per second at most.
#pragma once

#include <cstdint>
#include <string>

#include "apply/message_owner.h"

// A progress report as the window shows it: the stage and a whole percentage, -1 when the total
// is unknown.
struct VelkShownProgress {
    VelkProgressStage stage;
    int percent;

    bool operator==(const VelkShownProgress& other) const
    {
        return stage == other.stage && percent == other.percent;
    }
    bool operator!=(const VelkShownProgress& other) const { return !(*this == other); }
};

VelkShownProgress ShownProgress(VelkProgressStage stage, int64_t done, int64_t total);

// The window title for `progress`: the caption, the stage and the percentage.
std::u16string ProgressTitle(const char16_t* caption, VelkShownProgress progress);

// Decides which reports reach the window. The engine may report thousands of times a second;
// the window takes a changed text at most once per interval, so that the worker's messages never
// crowd the dialog's queue and the title stays readable.
class CVELKProgressPacer {
public:
    static constexpr uint64_t kIntervalMs = 250;

    explicit CVELKProgressPacer(uint64_t intervalMs = kIntervalMs) : m_intervalMs(intervalMs) {}

    // Notes the latest report, made at `nowMs` on a monotonic clock; true when it is to be shown.
    bool Note(VelkShownProgress progress, uint64_t nowMs);
    // True when the latest report has not been shown; it counts as shown from then on. Called
    // before a message appears, so that the title behind it is current whatever the interval.
    bool CatchUp();
    // True when a report that the interval held back may be shown now, at `nowMs`: the work may
    // report nothing more for a while (a long flush), and the title is not to lag meanwhile. It
    // counts as shown from then on.
    bool Due(uint64_t nowMs);
    VelkShownProgress Latest() const { return m_latest; }

private:
    uint64_t m_intervalMs;
    bool m_noted = false;
    bool m_shownAny = false;
    uint64_t m_shownAtMs = 0;
    VelkShownProgress m_shown = {VelkProgressStage::kCrc, 0};
    VelkShownProgress m_latest = {VelkProgressStage::kCrc, 0};
};
