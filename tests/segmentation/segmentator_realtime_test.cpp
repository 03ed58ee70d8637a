// The callback path must not allocate or lock: count both while many blocks,
// with onsets, events, noise updates and changes of background (estimates
// made afresh, silence measured again), with and without the pre-emphasis
// and the least gap between events, go through the callback.
#include "seg_harness.h"
#include "tests/support/hooks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

using sctest::HookProbe;

TEST(RealTime, CallbackNeitherAllocatesNorLocks) {
  std::vector<std::vector<float>> blocks;
  for (int i = 0; i < 3000; ++i) {
    std::vector<float> b(4);
    const bool loud = (i % 97) > 80;
    // Silence first, then a background that steps up and down again.
    const float background = i < 100 ? 0.0f : (i >= 1500 && i < 2200 ? 0.6f : 0.1f);
    for (int k = 0; k < 4; ++k)
      b[k] = (loud ? 2.0f : background) * static_cast<float>(std::sin(0.37 * (4 * i + k)) + 1.1);
    blocks.push_back(b);
  }
  for (const char* preEmphasis : {"0", "0.97"}) {
    sctest::SegHarness h({{"Segmentation/UpdateThresh", "1"},
                          {"Segmentation/PreEmphasis", preEmphasis},
                          {"Segmentation/MinEventGap", preEmphasis[1] ? "0.3" : "0"}});
    sctest::HookCounts counts;
    {
      HookProbe probe;
      for (const auto& b : blocks)
        classification::MSegmentator::recordCallback(b.data(), nullptr, 4, nullptr, 0, &h.ctx);
      counts = probe.counts();
    }
    EXPECT_GT(h.seg.getReleasedEvents() + h.seg.getSkippedEvents(), 20u) << preEmphasis;
    EXPECT_GT(h.seg.getFreshEstimates(), 0u) << preEmphasis;
    EXPECT_GT(h.seg.getSilentRestarts(), 0u) << preEmphasis;
    EXPECT_EQ(counts.allocations, 0) << preEmphasis;
    EXPECT_EQ(counts.locks, 0) << preEmphasis;
  }
  // The probe itself works: an allocation while armed is seen.
  {
    HookProbe probe;
    auto* p = new std::vector<int>(10);
    delete p;
    EXPECT_GE(probe.counts().allocations, 1);
  }
  if (sctest::libcHooksActive()) {
    HookProbe probe;
    QMutex m;
    m.lock();
    m.unlock();
    std::mutex sm;
    sm.lock();
    sm.unlock();
    EXPECT_GE(probe.counts().locks, 1);
  }
}
