// FFTW's planner is not thread-safe; plans are made and destroyed under this
// lock (only at initialisation, never per event), so that several pipelines,
// tools and tests may build extractors on different threads.
#pragma once

#include <mutex>

namespace classification {

std::mutex& fftwPlannerMutex();

class FftwPlannerLock {
 public:
  FftwPlannerLock() : lock_(fftwPlannerMutex()) {}

 private:
  std::lock_guard<std::mutex> lock_;
};

}  // namespace classification
