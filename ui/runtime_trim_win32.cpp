// The patch program is one thread that never catches an exception: running out of memory ends
// it, as an uncaught exception would. These definitions take the place of the C++ runtime's
// thread-safe and message-printing versions, which would otherwise pull a thread library, a
// name demangler and the exception classes' string machinery into an executable that is meant
// to stay small. Linked into velkstub only; tests keep the full runtime.
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void EndProgram()
{
    std::abort();
}

// The runtime's per-thread exception record (caught exceptions, uncaught count); one thread.
void* g_exceptionGlobals[4];

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

extern "C" {

// Function-local statics are initialised on the one thread there is.
int __cxa_guard_acquire(long long* guard)
{
    return *reinterpret_cast<char*>(guard) == 0 ? 1 : 0;
}
void __cxa_guard_release(long long* guard)
{
    *reinterpret_cast<char*>(guard) = 1;
}
void __cxa_guard_abort(long long*) {}

void* __cxa_get_globals() noexcept
{
    return g_exceptionGlobals;
}
void* __cxa_get_globals_fast() noexcept
{
    return g_exceptionGlobals;
}

// The unwinder and the exception allocator guard their tables with these. With one thread the
// guards have nothing to do, and the thread library they would come from is most of the
// runtime's weight in the 32-bit build.
int pthread_once(long* once, void (*run)(void))
{
    if (*once == 0) {
        *once = 1;
        run();
    }
    return 0;
}
int pthread_mutex_init(void*, const void*)
{
    return 0;
}
int pthread_mutex_destroy(void*)
{
    return 0;
}
int pthread_mutex_lock(void*)
{
    return 0;
}
int pthread_mutex_unlock(void*)
{
    return 0;
}

}  // extern "C"
