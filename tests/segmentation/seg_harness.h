// Drives a segmentator block by block through the real callback (the same
// feeder the offline tools use) and collects the events it announces.
#pragma once

#include "segmentation/block_feeder.h"
#include "segmentation/event.h"
#include "segmentation/segmentator.h"
#include "tests/support/testconfig.h"

#include <memory>
#include <vector>

namespace sctest {

class SegHarness {
 public:
  SegHarness() : SegHarness(Overrides{}) {}
  SegHarness(std::initializer_list<Overrides::value_type> overrides)
      : SegHarness(Overrides(overrides)) {}
  explicit SegHarness(const Overrides& overrides)
      : config(overrides), seg(config.user(), config.system()), feeder(seg, 1, 1 << 12), ctx(feeder.context()) {
    while (classification::newEvent.tryAcquire()) {
    }
  }
  ~SegHarness() {
    while (classification::newEvent.tryAcquire()) {
    }
  }
  // One block whose power is a * a (first sample a, the rest 0).
  void block(float a) {
    std::vector<float> b(static_cast<size_t>(seg.getNBlock()), 0.0f);
    b[0] = a;
    raw(b.data());
  }
  void blocks(float a, int n) {
    for (int i = 0; i < n; ++i) block(a);
  }
  void raw(const float* b) { feeder.feed(b); }
  int announced() const { return classification::newEvent.available(); }
  std::unique_ptr<classification::MEvent> take() {
    if (!classification::newEvent.tryAcquire()) return nullptr;
    return std::make_unique<classification::MEvent>(seg.getNEvent(), seg.getNBlock(),
                                                    seg.getRingBuffer());
  }

  TestConfig config;
  classification::MSegmentator seg;
  classification::MBlockFeeder feeder;
  classification::CallbackContext& ctx;
};

}  // namespace sctest
