// Counts heap allocations and mutex locks made by the calling thread while a
// probe is armed, to prove that real-time paths do neither. The malloc and
// pthread hooks are only compiled without sanitizers (which own those
// symbols); operator new is counted everywhere.
#pragma once

namespace sctest {

struct HookCounts {
  long allocations = 0;  // operator new, malloc, calloc, realloc
  long locks = 0;        // pthread_mutex_lock / trylock
};

// Arms counting for this thread until the probe is destroyed.
class HookProbe {
 public:
  HookProbe();
  ~HookProbe();
  HookCounts counts() const;
};

// True when malloc and pthread_mutex_lock are intercepted in this build.
bool libcHooksActive();

}  // namespace sctest
