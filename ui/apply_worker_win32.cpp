#include "ui/apply_worker_win32.h"

#include "ui/cross_thread_owner_win32.h"

CVELKApplyWorker::CVELKApplyWorker(CVELK_MessageOwner& owner, HWND dialog)
    : m_application(owner), m_dialog(dialog)
{
}

bool CVELKApplyWorker::Start(const WideString& source, const WideString& target, int64_t payloadOffset)
{
    m_source = source;
    m_target = target;
    m_payloadOffset = payloadOffset;
    return m_thread.Start(ThreadMain, this);
}

void CVELKApplyWorker::ThreadMain(void* self)
{
    auto* worker = static_cast<CVELKApplyWorker*>(self);
    worker->m_application.ApplyPatch(WidePtr(worker->m_source), WidePtr(worker->m_target),
                                     worker->m_payloadOffset);
    PostMessageW(worker->m_dialog, kVelkWorkerFinished, 0, 0);
}
