#include "ui/cross_thread_owner_win32.h"

CVELKCrossThreadOwner::CVELKCrossThreadOwner(HWND dialog)
    : m_dialog(dialog),
      m_answered(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_released(CreateEventW(nullptr, TRUE, TRUE, nullptr))
{
}

CVELKCrossThreadOwner::~CVELKCrossThreadOwner()
{
    if (m_answered != nullptr) CloseHandle(m_answered);
    if (m_released != nullptr) CloseHandle(m_released);
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
    if (m_pacer.CatchUp()) PostProgress(m_pacer.Latest());
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
    if (m_pacer.Note(progress, GetTickCount64())) PostProgress(progress);
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
