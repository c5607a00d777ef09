// The little of threads the engine needs: one function run on a thread of its own, and a
// counting semaphore to pass work between it and the thread that started it. One source per
// platform (worker_thread_posix.cpp, worker_thread_win32.cpp) calls the platform's own threads;
// the standard library's would bring a threading library into the patch program.
#pragma once

#include <cstdint>

class CVELK_Semaphore {
public:
    explicit CVELK_Semaphore(uint32_t count);
    ~CVELK_Semaphore();
    CVELK_Semaphore(const CVELK_Semaphore&) = delete;
    CVELK_Semaphore& operator=(const CVELK_Semaphore&) = delete;

    // False when the platform could not make one; Post and Wait then do nothing.
    bool IsValid() const { return m_native != nullptr; }
    void Post();
    // Waits until the count is above zero, then takes one.
    void Wait();

private:
    void* m_native;
};

class CVELK_WorkerThread {
public:
    CVELK_WorkerThread() = default;
    // Waits for the thread to end.
    ~CVELK_WorkerThread() { Join(); }
    CVELK_WorkerThread(const CVELK_WorkerThread&) = delete;
    CVELK_WorkerThread& operator=(const CVELK_WorkerThread&) = delete;

    // Runs `body(context)` on a new thread. False when none could be started: whoever asked does
    // the work itself then.
    bool Start(void (*body)(void*), void* context);
    // Waits for the thread to end (at once when none runs).
    void Join();

private:
    void* m_native = nullptr;
};
