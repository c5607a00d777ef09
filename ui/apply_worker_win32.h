// Runs one application of the payload on a thread of its own, so that the dialog's thread stays
// free for the window. When the application has returned, the worker posts kVelkWorkerFinished
// to the dialog; the dialog then lets the worker go, which waits for the thread's last steps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "apply/application.h"
#include "file/worker_thread.h"
#include "ui/file_dialog_win32.h"

class CVELKApplyWorker {
public:
    CVELKApplyWorker(CVELK_MessageOwner& owner, HWND dialog);
    CVELKApplyWorker(const CVELKApplyWorker&) = delete;
    CVELKApplyWorker& operator=(const CVELKApplyWorker&) = delete;

    // False when no thread could be started; nothing has been done then.
    bool Start(const WideString& source, const WideString& target, int64_t payloadOffset);

private:
    static void ThreadMain(void* self);

    CVELK_IPS_IN m_application;
    HWND m_dialog;
    WideString m_source;
    WideString m_target;
    int64_t m_payloadOffset = -1;
    // Last: the thread is waited for before anything it uses goes.
    CVELK_WorkerThread m_thread;
};
