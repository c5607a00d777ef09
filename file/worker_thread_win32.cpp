// Win32 threads: a kernel semaphore, and the C runtime's own thread start, so that the
// runtime's per-thread data is set up and freed.
#include <windows.h>

#include <process.h>

#include <new>

#include "file/worker_thread.h"

namespace {

struct Thread {
    HANDLE handle;
    void (*body)(void*);
    void* context;
};

unsigned __stdcall ThreadMain(void* argument)
{
    const Thread* thread = static_cast<const Thread*>(argument);
    thread->body(thread->context);
    return 0;
}

}  // namespace

CVELK_Semaphore::CVELK_Semaphore(uint32_t count)
    : m_native(CreateSemaphoreW(nullptr, static_cast<LONG>(count), 0x7FFFFFFF, nullptr))
{
}

CVELK_Semaphore::~CVELK_Semaphore()
{
    if (m_native != nullptr) CloseHandle(m_native);
}

void CVELK_Semaphore::Post()
{
    if (m_native != nullptr) ReleaseSemaphore(m_native, 1, nullptr);
}

void CVELK_Semaphore::Wait()
{
    if (m_native != nullptr) WaitForSingleObject(m_native, INFINITE);
}

bool CVELK_WorkerThread::Start(void (*body)(void*), void* context)
{
    Join();
    auto* thread = new (std::nothrow) Thread{nullptr, body, context};
    if (thread == nullptr) return false;
    thread->handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadMain, thread, 0, nullptr));
    if (thread->handle == nullptr) {
        delete thread;
        return false;
    }
    m_native = thread;
    return true;
}

void CVELK_WorkerThread::Join()
{
    auto* thread = static_cast<Thread*>(m_native);
    if (thread == nullptr) return;
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
    m_native = nullptr;
}
