// The program's only window: shows the payload's description and summary, and applies the
// payload to a file the user picks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ui/file_dialog_win32.h"

class CVELKPatchDialog {
public:
    static constexpr int kCaptionUnits = 100;
    // The exit code after a failed start; a confirmed exit gives IDCANCEL.
    static constexpr INT_PTR kInitFailedResult = 3;

    explicit CVELKPatchDialog(HINSTANCE instance);
    CVELKPatchDialog(const CVELKPatchDialog&) = delete;
    CVELKPatchDialog& operator=(const CVELKPatchDialog&) = delete;

    // Runs the dialog modally; its result is the program's exit code.
    INT_PTR Run();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog(HWND window);
    BOOL OnCommand(HWND window, WORD command);
    void ApplyToChosenFile(HWND window);

    HINSTANCE m_instance;
    wchar_t m_caption[kCaptionUnits] = {};
    WideString m_executablePath;
    int64_t m_payloadOffset = -1;
    WideString m_summary;
    std::unique_ptr<CVELKFileDialog_Open> m_chooser;
    // The chooser has no owner window, so the dialog stays enabled while it is open: a second
    // press of the apply button then arrives inside the first one and must be turned away.
    bool m_applying = false;
    bool m_exitConfirmed = false;
};
