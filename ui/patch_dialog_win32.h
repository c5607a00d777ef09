// The program's only window: shows the payload's description and summary, and applies the
// payload to a file the user picks. The application runs on a worker thread; this window's
// thread shows its messages and progress and stays free to answer the user.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ui/apply_worker_win32.h"
#include "ui/cross_thread_owner_win32.h"
#include "ui/file_dialog_win32.h"
#include "ui/progress_display_win32.h"

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
    void OnExitAsked(HWND window);
    void ApplyToChosenFile(HWND window);
    void StartApplying(HWND window, const WideString& target);
    void ApplyHere(HWND window, const WideString& target);
    void OnWorkerRequest(HWND window);
    void OnWorkerProgress(WPARAM stage, LPARAM percent);
    void OnWorkerFinished(HWND window);
    bool Working() const { return m_worker != nullptr; }
    // A message box of the dialog's own. A message of the worker that arrives meanwhile waits
    // until the caller has dealt with the answer (AnswerWaitingRequest): the answer to the exit
    // question decides what becomes of it.
    int ShowOwnBox(HWND owner, const wchar_t* text, UINT type);
    void AnswerWaitingRequest(HWND window);

    HINSTANCE m_instance;
    wchar_t m_caption[kCaptionUnits] = {};
    WideString m_executablePath;
    int64_t m_payloadOffset = -1;
    WideString m_summary;
    // Of a set: the name of the file the user picks, in the chooser's name box at first.
    WideString m_anchorName;
    std::unique_ptr<CVELKFileDialog_Open> m_chooser;
    // The chooser has no owner window, so the dialog stays enabled while it is open: a second
    // press of the apply button then arrives inside the first one and must be turned away.
    bool m_choosing = false;
    bool m_exitConfirmed = false;

    std::unique_ptr<CVELKProgressDisplay> m_progress;
    // The application in progress, if any. The owner outlives the worker that reports to it.
    std::unique_ptr<CVELKCrossThreadOwner> m_owner;
    std::unique_ptr<CVELKApplyWorker> m_worker;
    int m_ownBoxesOpen = 0;
    bool m_requestWaiting = false;
};
