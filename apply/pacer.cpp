#include "apply/pacer.h"

void CVELK_StagePacer::Begin(VelkProgressStage stage, bool stoppable, int pass, int passes)
{
    m_stage = stage;
    m_stoppable = stoppable;
    m_pass = pass;
    m_passes = passes;
}

void CVELK_StagePacer::Progress(int64_t done, int64_t total)
{
    m_owner.ReportProgress(m_stage, m_pass * total + done, m_passes * total);
}

bool CVELK_StagePacer::BetweenRecords(uint32_t count, int64_t done, int64_t total)
{
    if (count % kRecordsPerReport == 0) Progress(done, total);
    return count % kRecordsPerStopLook == 0 && StopRequested();
}
