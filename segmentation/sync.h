// Hand-over points between threads that live in uninstrumented Qt code
// (futex-based QSemaphore and QMutex). Under ThreadSanitizer they are
// annotated so that the happens-before edges they create are visible.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define SC_TSAN_ACQUIRE(addr) __tsan_acquire(static_cast<void*>(addr))
#define SC_TSAN_RELEASE(addr) __tsan_release(static_cast<void*>(addr))
#else
#define SC_TSAN_ACQUIRE(addr) ((void)0)
#define SC_TSAN_RELEASE(addr) ((void)0)
#endif
