// Shows an application's progress in the dialog's title, after the caption, and on its taskbar
// button; puts the caption back when the application ends.
#pragma once

#include <windows.h>

#include "ui/progress_title.h"
#include "ui/taskbar_progress_win32.h"

class CVELKProgressDisplay {
public:
    CVELKProgressDisplay(HWND window, const wchar_t* caption) : m_window(window), m_caption(caption), m_taskbar(window) {}

    void Show(VelkShownProgress progress);
    void End();

private:
    HWND m_window;
    const wchar_t* m_caption;
    CVELKTaskbarProgress m_taskbar;
};
