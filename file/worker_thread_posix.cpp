// POSIX threads. The semaphore is a mutex, a condition and a count: macOS has no unnamed
// semaphores (sem_init fails there).
#include <pthread.h>

#include <new>

#include "file/worker_thread.h"

namespace {

struct Semaphore {
    pthread_mutex_t mutex;
    pthread_cond_t changed;
    uint32_t count;
};

struct Thread {
    pthread_t id;
    void (*body)(void*);
    void* context;
};

void* ThreadMain(void* argument)
{
    const Thread* thread = static_cast<const Thread*>(argument);
    thread->body(thread->context);
    return nullptr;
}

}  // namespace

CVELK_Semaphore::CVELK_Semaphore(uint32_t count) : m_native(nullptr)
{
    auto* semaphore = new (std::nothrow) Semaphore;
    if (semaphore == nullptr) return;
    if (pthread_mutex_init(&semaphore->mutex, nullptr) != 0) {
        delete semaphore;
        return;
    }
    if (pthread_cond_init(&semaphore->changed, nullptr) != 0) {
        pthread_mutex_destroy(&semaphore->mutex);
        delete semaphore;
        return;
    }
    semaphore->count = count;
    m_native = semaphore;
}

CVELK_Semaphore::~CVELK_Semaphore()
{
    auto* semaphore = static_cast<Semaphore*>(m_native);
    if (semaphore == nullptr) return;
    pthread_cond_destroy(&semaphore->changed);
    pthread_mutex_destroy(&semaphore->mutex);
    delete semaphore;
}

void CVELK_Semaphore::Post()
{
    auto* semaphore = static_cast<Semaphore*>(m_native);
    if (semaphore == nullptr) return;
    pthread_mutex_lock(&semaphore->mutex);
    ++semaphore->count;
    pthread_cond_signal(&semaphore->changed);
    pthread_mutex_unlock(&semaphore->mutex);
}

void CVELK_Semaphore::Wait()
{
    auto* semaphore = static_cast<Semaphore*>(m_native);
    if (semaphore == nullptr) return;
    pthread_mutex_lock(&semaphore->mutex);
    while (semaphore->count == 0) pthread_cond_wait(&semaphore->changed, &semaphore->mutex);
    --semaphore->count;
    pthread_mutex_unlock(&semaphore->mutex);
}

bool CVELK_WorkerThread::Start(void (*body)(void*), void* context)
{
    Join();
    auto* thread = new (std::nothrow) Thread{pthread_t(), body, context};
    if (thread == nullptr) return false;
    if (pthread_create(&thread->id, nullptr, ThreadMain, thread) != 0) {
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
    pthread_join(thread->id, nullptr);
    delete thread;
    m_native = nullptr;
}
