#include "ui/progress_display_win32.h"

void CVELKProgressDisplay::Show(VelkShownProgress progress)
{
    const std::u16string title = ProgressTitle(reinterpret_cast<const char16_t*>(m_caption), progress);
    SetWindowTextW(m_window, reinterpret_cast<const wchar_t*>(title.c_str()));
    m_taskbar.Show(progress.percent);
}

void CVELKProgressDisplay::End()
{
    SetWindowTextW(m_window, m_caption);
    m_taskbar.Clear();
}
