#include "ui/cross_thread_owner_win32.h"

#include "apply/messages.h"

CVELKCrossThreadOwner::CVELKCrossThreadOwner(HWND dialog)
    : m_dialog(dialog),
      m_answered(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_released(CreateEventW(nullptr, TRUE, TRUE, nullptr))
{
    InitializeCriticalSection(&m_lock);
    // Without the timer a held-back report waits for the next one, as it always did.
    const DWORD interval = static_cast<DWORD>(CVELKProgressPacer::kIntervalMs);
    if (!CreateTimerQueueTimer(&m_timer, nullptr, OnTimer, this, interval, interval, WT_EXECUTEDEFAULT))
        m_timer = nullptr;
}

CVELKCrossThreadOwner::~CVELKCrossThreadOwner()
{
    // Waits for a callback under way.
    if (m_timer != nullptr) DeleteTimerQueueTimer(nullptr, m_timer, INVALID_HANDLE_VALUE);
    DeleteCriticalSection(&m_lock);
    if (m_answered != nullptr) CloseHandle(m_answered);
    if (m_released != nullptr) CloseHandle(m_released);
}

VOID CALLBACK CVELKCrossThreadOwner::OnTimer(PVOID context, BOOLEAN)
{
    auto* self = static_cast<CVELKCrossThreadOwner*>(context);
    // Held work stands still, and so does its title, while the user decides.
    if (self->m_held.load(std::memory_order_acquire)) return;
    EnterCriticalSection(&self->m_lock);
    if (self->m_pacer.Due(GetTickCount64())) self->PostProgress(self->m_pacer.Latest());
    LeaveCriticalSection(&self->m_lock);
}

void CVELKCrossThreadOwner::Notice(VelkNotice notice)
{
    if (notice == VelkNotice::kNoUndoJournal) Ask(velk_messages::kNoUndoJournal, false);
}

void CVELKCrossThreadOwner::ShowMessage(const char16_t* text)
{
    Ask(text, false);
}

bool CVELKCrossThreadOwner::AskOkCancel(const char16_t* text)
{
    return Ask(text, true);
}

// The request is written before it is posted and read by the dialog only after the message has
// arrived; the answer is written before the event is set. The message queue and the event order
// the two threads' accesses.
bool CVELKCrossThreadOwner::Ask(const char16_t* text, bool question)
{
    // The title behind the message shows where the work stands, whatever the pacing held back.
    EnterCriticalSection(&m_lock);
    if (m_pacer.CatchUp()) PostProgress(m_pacer.Latest());
    LeaveCriticalSection(&m_lock);
    m_request = {text, question};
    // A message that cannot reach the dialog is never answered: take it as unseen, and a
    // question as declined, which changes nothing.
    if (!PostMessageW(m_dialog, kVelkWorkerRequest, 0, 0)) return false;
    WaitForSingleObject(m_answered, INFINITE);
    return m_answer;
}

void CVELKCrossThreadOwner::ReportProgress(VelkProgressStage stage, int64_t done, int64_t total)
{
    const VelkShownProgress progress = ShownProgress(stage, done, total);
    EnterCriticalSection(&m_lock);
    if (m_pacer.Note(progress, GetTickCount64())) PostProgress(progress);
    LeaveCriticalSection(&m_lock);
}

void CVELKCrossThreadOwner::PostProgress(VelkShownProgress progress)
{
    PostMessageW(m_dialog, kVelkWorkerProgress, static_cast<WPARAM>(progress.stage),
                 static_cast<LPARAM>(progress.percent));
}

bool CVELKCrossThreadOwner::StopRequested()
{
    // The engine asks often; only held work pays for a wait.
    if (m_held.load(std::memory_order_acquire)) WaitForSingleObject(m_released, INFINITE);
    return m_stop.load(std::memory_order_acquire);
}

void CVELKCrossThreadOwner::Answer(bool ok)
{
    m_answer = ok;
    SetEvent(m_answered);
}

void CVELKCrossThreadOwner::Hold()
{
    // The event is reset before the flag is seen, so a worker that sees the flag waits.
    ResetEvent(m_released);
    m_held.store(true, std::memory_order_release);
}

void CVELKCrossThreadOwner::Release(bool stop)
{
    if (stop) m_stop.store(true, std::memory_order_release);
    m_held.store(false, std::memory_order_release);
    SetEvent(m_released);
}
