#include "tests/support/hooks.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstdlib>
#include <new>

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define SC_HOOK_LIBC 1
#endif

namespace {
thread_local bool armed = false;
thread_local sctest::HookCounts current;
}  // namespace

namespace sctest {
HookProbe::HookProbe() {
  current = HookCounts{};
  armed = true;
}
HookProbe::~HookProbe() { armed = false; }
HookCounts HookProbe::counts() const { return current; }
}  // namespace sctest

// With the libc hooks in place malloc counts; operator new goes through it.
void* operator new(std::size_t n) {
#ifndef SC_HOOK_LIBC
  if (armed) ++current.allocations;
#endif
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#ifndef SC_HOOK_LIBC
namespace sctest {
bool libcHooksActive() { return false; }
}  // namespace sctest
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);

void* malloc(size_t n) {
  if (armed) ++current.allocations;
  return __libc_malloc(n);
}
void* calloc(size_t n, size_t s) {
  if (armed) ++current.allocations;
  return __libc_calloc(n, s);
}
void* realloc(void* p, size_t n) {
  if (armed) ++current.allocations;
  return __libc_realloc(p, n);
}

int pthread_mutex_lock(pthread_mutex_t* m) {
  using Fn = int (*)(pthread_mutex_t*);
  static Fn next = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  if (armed) ++current.locks;
  return next(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
  using Fn = int (*)(pthread_mutex_t*);
  static Fn next = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_trylock"));
  if (armed) ++current.locks;
  return next(m);
}
}  // extern "C"
namespace sctest {
bool libcHooksActive() { return true; }
}  // namespace sctest
#endif
