// The one pacer of an application: every long stretch of its work (the CRC check, the journal
// pass, the writing pass, the reads of the result check) shows its progress to the message owner
// and looks at its stop request through it. Each stretch says which stage of the title it is
// and whether a stop may be honoured there: only while nothing has changed, or where a journal
// can undo what has.
#pragma once

#include <cstdint>

#include "apply/message_owner.h"
#include "file/pacer.h"

class CVELK_StagePacer : public CVELK_Pacer {
public:
    // Records go by between two progress reports, and between two looks at the stop request.
    static constexpr uint32_t kRecordsPerReport = 1u << 14;
    static constexpr uint32_t kRecordsPerStopLook = 256;

    explicit CVELK_StagePacer(CVELK_MessageOwner& owner) : m_owner(owner) {}

    // What follows is `stage`; with several passes over the records (save, then write), this is
    // pass `pass` of `passes`, each counting as an equal share of the one stage, so that the
    // percentage neither stalls through the first pass nor runs back at the second.
    void Begin(VelkProgressStage stage, bool stoppable, int pass = 0, int passes = 1);
    void AllowStop(bool stoppable) { m_stoppable = stoppable; }

    void Progress(int64_t done, int64_t total) override;
    bool StopRequested() override { return m_stoppable && m_owner.StopRequested(); }
    // Before record number `count` of a pass, `done` bytes of its `total` read: the progress now
    // and then, and now and then a look at the stop request, the first before the first record.
    // True: stop.
    bool BetweenRecords(uint32_t count, int64_t done, int64_t total);

private:
    CVELK_MessageOwner& m_owner;
    VelkProgressStage m_stage = VelkProgressStage::kCrc;
    bool m_stoppable = false;
    int m_pass = 0, m_passes = 1;
};
