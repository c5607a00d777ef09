// The message owner of an application that runs on the worker thread. Only the dialog's thread
// touches windows: every message and question is handed to it by a private message and shown
// there, owned by the dialog, while the worker waits for the answer. Progress is posted, a few
// times per second at most; a timer posts what the pacing held back once its interval has
// passed. The dialog can hold the work while it asks whether to exit, and then let it go on or
// have it stop.
#pragma once

#include <windows.h>

#include <atomic>

#include "apply/message_owner.h"
#include "ui/progress_title.h"

// The private messages the worker's side posts to the dialog.
enum : UINT {
    kVelkWorkerRequest = WM_APP + 1,  // a message or question waits: CVELKCrossThreadOwner::Pending()
    kVelkWorkerProgress,              // wParam: the stage; lParam: the percentage, -1 when unknown
    kVelkWorkerFinished,              // the application has returned
};

class CVELKCrossThreadOwner : public CVELK_MessageOwner {
public:
    struct Request {
        const char16_t* text;
        bool question;  // OK/Cancel rather than OK alone
    };

    explicit CVELKCrossThreadOwner(HWND dialog);
    ~CVELKCrossThreadOwner() override;
    CVELKCrossThreadOwner(const CVELKCrossThreadOwner&) = delete;
    CVELKCrossThreadOwner& operator=(const CVELKCrossThreadOwner&) = delete;

    // False when the system could not give the owner its events; the work then cannot move.
    bool Ready() const { return m_answered != nullptr && m_released != nullptr; }

    // The worker's side.
    void ShowMessage(const char16_t* text) override;
    bool AskOkCancel(const char16_t* text) override;
    void ReportProgress(VelkProgressStage stage, int64_t done, int64_t total) override;
    // Waits while the work is held, then tells whether it is to stop.
    bool StopRequested() override;
    // The one notice the user hears of: before anything is written, that it cannot be undone.
    void Notice(VelkNotice notice) override;

    // The dialog's side. The request behind kVelkWorkerRequest, valid until it is answered.
    const Request& Pending() const { return m_request; }
    void Answer(bool ok);
    // Holds the work at the engine's next stop check.
    void Hold();
    // Lets held work go on, or has it stop for good.
    void Release(bool stop);

private:
    bool Ask(const char16_t* text, bool question);
    void PostProgress(VelkShownProgress progress);
    static VOID CALLBACK OnTimer(PVOID self, BOOLEAN);

    HWND m_dialog;
    HANDLE m_answered;  // set by Answer()
    HANDLE m_released;  // set while the work is not held
    Request m_request = {nullptr, false};
    bool m_answer = false;
    std::atomic<bool> m_held{false};
    std::atomic<bool> m_stop{false};
    // The worker's and the timer's, under the lock.
    CVELKProgressPacer m_pacer;
    CRITICAL_SECTION m_lock;
    HANDLE m_timer = nullptr;
};
