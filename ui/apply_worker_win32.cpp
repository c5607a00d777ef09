#include "ui/apply_worker_win32.h"

#include <process.h>

#include "ui/cross_thread_owner_win32.h"

CVELKApplyWorker::CVELKApplyWorker(CVELK_MessageOwner& owner, HWND dialog)
    : m_application(owner), m_dialog(dialog)
{
}

CVELKApplyWorker::~CVELKApplyWorker()
{
    if (m_thread == nullptr) return;
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
}

bool CVELKApplyWorker::Start(const WideString& source, const WideString& target, int64_t payloadOffset)
{
    m_source = source;
    m_target = target;
    m_payloadOffset = payloadOffset;
    // The C runtime's own thread start, so that its per-thread data is set up and freed.
    const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadMain, this, 0, nullptr);
    m_thread = reinterpret_cast<HANDLE>(thread);
    return m_thread != nullptr;
}

unsigned __stdcall CVELKApplyWorker::ThreadMain(void* self)
{
    auto* worker = static_cast<CVELKApplyWorker*>(self);
    worker->m_application.ApplyPatch(WidePtr(worker->m_source), WidePtr(worker->m_target),
                                     worker->m_payloadOffset);
    PostMessageW(worker->m_dialog, kVelkWorkerFinished, 0, 0);
    return 0;
}
