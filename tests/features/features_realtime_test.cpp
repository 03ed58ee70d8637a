// Per event the extractor allocates the feature vector and nothing else.
#include "feature_fixture.h"
#include "tests/support/hooks.h"

#include <gtest/gtest.h>

using namespace classification;

TEST(FeatureAllocations, OnlyTheFeatureVectorPerEvent) {
  sctest::FeatureSetup s;
  auto config = s.config();
  MFeatureExtractor fe(config->system());
  const auto x = sctest::testEvent(5120, 44100, 800, 3000, 5, 2);
  std::vector<std::unique_ptr<MEvent>> events;
  for (int i = 0; i < 20; ++i) events.push_back(std::make_unique<MEvent>(10, 512, i, x.data()));
  fe.processEvent(events[0].get());  // warm-up
  for (int i = 1; i < 20; ++i) {
    sctest::HookProbe probe;
    fe.processEvent(events[i].get());
    EXPECT_EQ(probe.counts().allocations, 1) << "event " << i;
  }
}
