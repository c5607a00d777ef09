// The patch program never catches an exception: running out of memory ends it, as an uncaught
// exception would. These definitions take the place of the C++ runtime's thread-safe and
// message-printing versions, which would otherwise pull a thread library, a name demangler and
// the exception classes' string machinery into an executable that is meant to stay small.
// Linked into velkstub only; tests keep the full runtime.
//
// The program has two threads, the dialog's and the application's worker, so what stands in
// for the thread library here is safe for several threads: built on atomics and Win32 calls.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void EndProgram()
{
    std::abort();
}

// Waits are rare and short (another thread finishing an initialisation or a table lookup);
// giving up the time slice is enough.
void YieldToOthers()
{
    Sleep(0);
}

}  // namespace

namespace std {
void __throw_bad_alloc() { EndProgram(); }
void __throw_bad_array_new_length() { EndProgram(); }
void __throw_length_error(const char*) { EndProgram(); }
void __throw_logic_error(const char*) { EndProgram(); }
void __throw_out_of_range(const char*) { EndProgram(); }
void __throw_out_of_range_fmt(const char*, ...) { EndProgram(); }
void __throw_invalid_argument(const char*) { EndProgram(); }
}  // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() { EndProgram(); }
}  // namespace __gnu_cxx

// The runtime's operator new throws std::bad_alloc and its nothrow forms catch it, which would
// bring in the whole exception machinery that the program, compiled without exceptions, has
// no use for. These allocate from the same heap (delete frees with free()), and a failure of
// the throwing forms ends the program as the uncaught exception would.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept
{
    return operator new(size, nothrow);
}
void* operator new(std::size_t size)
{
    void* block = operator new(size, std::nothrow);
    if (block == nullptr) EndProgram();
    return block;
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}

extern "C" {

// Function-local statics (the CRC path chosen once, the short path entry points) may be first
// reached by either thread. The guard's first byte says "done", as the ABI requires; its second
// byte is taken by the thread that runs the initialisation while others wait.
int __cxa_guard_acquire(long long* guard)
{
    char* done = reinterpret_cast<char*>(guard);
    char* busy = done + 1;
    for (;;) {
        if (__atomic_load_n(done, __ATOMIC_ACQUIRE) != 0) return 0;
        char idle = 0;
        if (__atomic_compare_exchange_n(busy, &idle, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            // Another thread may have finished between the two looks.
            if (__atomic_load_n(done, __ATOMIC_ACQUIRE) == 0) return 1;
            __atomic_store_n(busy, 0, __ATOMIC_RELEASE);
            return 0;
        }
        YieldToOthers();
    }
}
void __cxa_guard_release(long long* guard)
{
    char* done = reinterpret_cast<char*>(guard);
    __atomic_store_n(done, 1, __ATOMIC_RELEASE);
    __atomic_store_n(done + 1, 0, __ATOMIC_RELEASE);
}
void __cxa_guard_abort(long long* guard)
{
    __atomic_store_n(reinterpret_cast<char*>(guard) + 1, 0, __ATOMIC_RELEASE);
}

// The runtime's per-thread exception record (caught exceptions, uncaught count). Only a thread
// that throws asks for one, on its way to ending the program, so it is made then and never freed.
void* __cxa_get_globals() noexcept
{
    static const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) EndProgram();
    void* record = TlsGetValue(slot);
    if (record == nullptr) {
        record = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 4 * sizeof(void*));
        if (record == nullptr || !TlsSetValue(slot, record)) EndProgram();
    }
    return record;
}
void* __cxa_get_globals_fast() noexcept
{
    return __cxa_get_globals();
}

// The unwinder and the exception allocator guard their tables with these; the thread library
// they would come from is most of the runtime's weight in the 32-bit build. The mutexes are held
// for a table lookup and never taken twice by one thread, so a lock word suffices. The word is
// pointer-sized, as the thread library's own; any value but kLocked (its static initialiser
// included) means free.
constexpr intptr_t kLocked = 0x10CC;

int pthread_once(long* once, void (*run)(void))
{
    enum : long { kNotRun = 0, kRunning = 1, kRun = 2 };
    for (;;) {
        long state = __atomic_load_n(once, __ATOMIC_ACQUIRE);
        if (state == kRun) return 0;
        if (state == kNotRun &&
            __atomic_compare_exchange_n(once, &state, kRunning, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
            run();
            __atomic_store_n(once, kRun, __ATOMIC_RELEASE);
            return 0;
        }
        YieldToOthers();
    }
}
int pthread_mutex_init(void* mutex, const void*)
{
    __atomic_store_n(static_cast<intptr_t*>(mutex), 0, __ATOMIC_RELEASE);
    return 0;
}
int pthread_mutex_destroy(void*)
{
    return 0;
}
int pthread_mutex_lock(void* mutex)
{
    auto* word = static_cast<intptr_t*>(mutex);
    for (;;) {
        intptr_t seen = __atomic_load_n(word, __ATOMIC_RELAXED);
        if (seen != kLocked &&
            __atomic_compare_exchange_n(word, &seen, kLocked, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
            return 0;
        YieldToOthers();
    }
}
int pthread_mutex_unlock(void* mutex)
{
    __atomic_store_n(static_cast<intptr_t*>(mutex), 0, __ATOMIC_RELEASE);
    return 0;
}

}  // extern "C"
