#include "ui/taskbar_progress_win32.h"

#include <shobjidl.h>

CVELKTaskbarProgress::~CVELKTaskbarProgress()
{
    if (m_taskbar != nullptr) m_taskbar->Release();
    if (m_comStarted) CoUninitialize();
}

// Connects on first use only: most runs of the program never apply anything.
bool CVELKTaskbarProgress::Connect()
{
    if (m_tried) return m_taskbar != nullptr;
    m_tried = true;
    // The dialog's thread is a single-threaded apartment, as COM's shell objects expect.
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_comStarted = SUCCEEDED(started);
    ITaskbarList3* taskbar = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&taskbar))))
        return false;
    if (FAILED(taskbar->HrInit())) {
        taskbar->Release();
        return false;
    }
    m_taskbar = taskbar;
    return true;
}

void CVELKTaskbarProgress::Show(int percent)
{
    if (!Connect()) return;
    if (percent < 0) {
        m_taskbar->SetProgressState(m_window, TBPF_INDETERMINATE);
        return;
    }
    m_taskbar->SetProgressState(m_window, TBPF_NORMAL);
    m_taskbar->SetProgressValue(m_window, static_cast<ULONGLONG>(percent), 100);
}

void CVELKTaskbarProgress::Clear()
{
    if (m_taskbar != nullptr) m_taskbar->SetProgressState(m_window, TBPF_NOPROGRESS);
}
