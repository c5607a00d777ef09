// The progress of an application on the window's taskbar button (ITaskbarList3, Windows 7 and
// later). Where the system has no such button, or COM cannot start, it shows nothing and says
// nothing: the window title carries the same progress.
#pragma once

#include <windows.h>

struct ITaskbarList3;

class CVELKTaskbarProgress {
public:
    explicit CVELKTaskbarProgress(HWND window) : m_window(window) {}
    ~CVELKTaskbarProgress();
    CVELKTaskbarProgress(const CVELKTaskbarProgress&) = delete;
    CVELKTaskbarProgress& operator=(const CVELKTaskbarProgress&) = delete;

    // A percentage from 0 to 100, or -1 for work of unknown length.
    void Show(int percent);
    // The button as it was before the first Show.
    void Clear();

private:
    bool Connect();

    HWND m_window;
    ITaskbarList3* m_taskbar = nullptr;
    bool m_tried = false;
    bool m_comStarted = false;
};
