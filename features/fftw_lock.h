// FFTW's planner is not thread-safe; plans are made and destroyed under this
// lock (only at initialisation, never per event), so that several pipelines,
// tools and tests may build extractors on different threads.
#pragma once

#include <mutex>

namespace classification {

std::mutex& fftwPlannerMutex();

// Planner flags for every plan: FFTW_MEASURE. MEASURE times candidate
// algorithms, so two runs may pick plans whose results differ in the last
// bit; the trainer switches to FFTW_ESTIMATE to make models reproducible.
unsigned fftwPlannerFlags();
void setFftwPlannerFlags(unsigned flags);

class FftwPlannerLock {
 public:
  FftwPlannerLock() : lock_(fftwPlannerMutex()) {}

 private:
  std::lock_guard<std::mutex> lock_;
};

}  // namespace classification
