#include "seg_harness.h"

#include <gtest/gtest.h>

#include <cfloat>

using namespace classification;
using sctest::SegHarness;

// Defaults of the test configuration: NBlock 4, Fs 100, NEvent 10, onset
// S = 5 blocks, TimeInit 25 blocks, history 50 blocks, FacVar 3,
// FacVarHysterese 2, no updates. 25 blocks of noise at power 0.01 give a
// threshold of 0.01, so any louder block is active.
namespace {
constexpr float kNoise = 0.1f;
void settle(SegHarness& h) {
  h.blocks(kNoise, 25);
  ASSERT_FALSE(h.seg.isInitPhase());
}
// Background with a slight jitter, as block amplitudes (power = a^2).
void background(SegHarness& h, float a, int n) {
  for (int i = 0; i < n; ++i) h.block(a * (1.0f + 0.01f * (i % 5)));
}
// Bursts of six blocks at amplitude a, 20 blocks of background b after each;
// returns how many of them were announced as one event each.
int bursts(SegHarness& h, float a, float b, int count) {
  int found = 0;
  for (int k = 0; k < count; ++k) {
    h.blocks(a, 6);
    background(h, b, 20);
    int events = 0;
    while (h.take()) ++events;
    found += events == 1;
  }
  return found;
}
void drain(SegHarness& h) {
  while (h.take()) {
  }
}
}  // namespace

TEST(NoiseEstimate, InitialEstimateUsesTheLaterHalf) {
  for (const char* facVar : {"3", "3.9"}) {
    SegHarness h({{"Segmentation/FacVar", facVar}});
    MRingBuffer& history = h.seg.getNoiseHistory();
    for (float v : {100.0f, 100.0f, 0.0f, 7.0f, 5.0f, 10.0f, 3.0f, 1.0f, 4.0f, 2.0f})
      history.appendValues(&v);
    h.seg.calculateNoiseParam();
    EXPECT_EQ(h.seg.getNoiseMean(), 3.0f);
    EXPECT_EQ(h.seg.getNoiseSpread(), static_cast<float>(8.0f * 0.7413));
    EXPECT_EQ(h.seg.getThreshold(), 3.0f + 3.0f * static_cast<float>(8.0f * 0.7413));
    EXPECT_NEAR(h.seg.getThreshold(), 20.7912f, 1e-4f);
  }
}

TEST(NoiseEstimate, FactorsAreTruncated) {
  SegHarness h({{"Segmentation/FacVar", "2.9"}, {"Segmentation/FacVarHysterese", "1.5"}});
  MRingBuffer& history = h.seg.getNoiseHistory();
  for (float v : {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 10.0f, 3.0f, 1.0f, 4.0f, 2.0f}) history.appendValues(&v);
  h.seg.calculateNoiseParam();
  const float spread = h.seg.getNoiseSpread();
  EXPECT_EQ(h.seg.getThreshold(), 3.0f + 2.0f * spread);
}

TEST(NoiseEstimate, ShortInitialPhaseMakesNoEstimate) {
  // 7 blocks of 4 samples at 100 Hz.
  SegHarness h({{"Segmentation/TimeInit", "0.27"}, {"Segmentation/MaxThresholdEnergy", "5"}});
  EXPECT_EQ(h.seg.getThreshold(), FLT_MAX);
  h.blocks(kNoise, 6);
  EXPECT_TRUE(h.seg.isInitPhase());
  h.block(kNoise);
  EXPECT_FALSE(h.seg.isInitPhase());
  EXPECT_EQ(h.seg.getNoiseMean(), 0.0f);
  EXPECT_EQ(h.seg.getNoiseSpread(), 0.0f);
  EXPECT_EQ(h.seg.getThreshold(), 5.0f);
}

TEST(NoiseEstimate, InitialPhaseEndsWhenAHistoryNoLongerThanItWraps) {
  // TimeInit 3 s gives 75 blocks, more than the 50 of AdaptionTime.
  SegHarness h({{"Segmentation/TimeInit", "3"}});
  h.blocks(kNoise, 74);
  EXPECT_TRUE(h.seg.isInitPhase());
  h.blocks(kNoise, 1);
  EXPECT_FALSE(h.seg.isInitPhase());
  EXPECT_EQ(h.seg.getNoiseMean(), kNoise * kNoise);
  EXPECT_EQ(h.seg.getNoiseHistory().getWriteIndex(), 0);
  EXPECT_FALSE(h.seg.getNoiseHistory().getUpdateFlag());
}

TEST(NoiseEstimate, UpdatesFollowQuieterNoiseOnlyWhenEnabled) {
  for (const char* update : {"0", "1"}) {
    SegHarness h({{"Segmentation/UpdateThresh", update}});
    background(h, 0.1f, 25);
    const float m0 = h.seg.getNoiseMean();
    ASSERT_GT(h.seg.getNoiseSpread(), 0.0f);
    background(h, 0.09f, 120);
    EXPECT_FALSE(h.seg.isActive());
    if (update[0] == '0') EXPECT_EQ(h.seg.getNoiseMean(), m0);
    else EXPECT_LT(h.seg.getNoiseMean(), 0.95f * m0);
  }
}

// Where the smoothed update would lock (most of the history above the old
// outlier limit) or crawl (all of it below the old median), the history is
// estimated afresh; otherwise the smoothed rule holds number for number.
TEST(NoiseEstimate, UpdateEstimatesAfreshOnlyWhereTheSmoothedRuleLocks) {
  SegHarness h({{"Segmentation/UpdateThresh", "1"}});
  background(h, 0.1f, 25);
  const float m0 = h.seg.getNoiseMean(), s0 = h.seg.getNoiseSpread();
  MRingBuffer& history = h.seg.getNoiseHistory();
  const float limit = m0 + 3.0f * s0;
  auto fill = [&](int below, float low, float high) {
    for (int i = 0; i < 50; ++i) {
      const float v = i < below ? low : high;
      history.appendValues(&v);
    }
  };
  // 30 of 50 under the limit: smoothed, mean = 0.5 x lower median + 0.5 x m0.
  fill(30, 0.5f * m0, 2 * limit);
  h.seg.calculateNoiseParam();
  EXPECT_EQ(h.seg.getNoiseMean(), 0.5f * (0.5f * m0) + 0.5f * m0);
  EXPECT_EQ(h.seg.getNoiseSpread(), 0.5f * s0);  // the quartiles are equal
  EXPECT_EQ(h.seg.getFreshEstimates(), 0u);

  // None, three or ten of 50 under the limit (fewer than a quarter): the
  // louder level afresh, from the whole history.
  uint64_t fresh = 0;
  for (int below : {0, 3, 10}) {
    const float m1 = h.seg.getNoiseMean(), s1 = h.seg.getNoiseSpread();
    const float high = 2 * (m1 + 3.0f * s1);
    fill(below, m1, high);
    h.seg.calculateNoiseParam();
    EXPECT_EQ(h.seg.getNoiseMean(), high) << below;
    EXPECT_EQ(h.seg.getNoiseSpread(), 0.0f) << below;
    EXPECT_EQ(h.seg.getFreshEstimates(), ++fresh);
  }
  // Twenty under it: sounds over most of the history, but enough background
  // left for the smoothed rule.
  const float m2 = h.seg.getNoiseMean();
  fill(20, 0.5f * m2, 4 * m2);
  h.seg.calculateNoiseParam();
  EXPECT_EQ(h.seg.getFreshEstimates(), fresh);
  EXPECT_EQ(h.seg.getNoiseMean(), 0.5f * (0.5f * m2) + 0.5f * m2);

  // All below the old median: the quieter level afresh, median and spread of
  // 1..50 x 1e-4 (lower median 25, quartiles at positions 13 and 38).
  for (int i = 0; i < 50; ++i) {
    const float v = (i + 1) * 1e-4f;
    history.appendValues(&v);
  }
  h.seg.calculateNoiseParam();
  EXPECT_EQ(h.seg.getFreshEstimates(), ++fresh);
  EXPECT_EQ(h.seg.getNoiseMean(), 25 * 1e-4f);
  EXPECT_EQ(h.seg.getNoiseSpread(),
            static_cast<float>(static_cast<double>(38 * 1e-4f - 13 * 1e-4f) * 0.7413));
  EXPECT_EQ(h.seg.getThreshold(), 25 * 1e-4f + 3.0f * h.seg.getNoiseSpread());
}

// History 50 blocks, FacVar 3: after a change of background the estimate
// must follow within one history (two when the change falls mid-history and
// the first update sees both levels), and events above the new background are
// found as on a steady one.
TEST(NoiseEstimate, SilenceIsNoBackground) {
  SegHarness h({{"Segmentation/UpdateThresh", "1"}});
  h.blocks(0.0f, 25);
  // In silence any sound is an event, but the measurement starts over so
  // that a background that sets in is measured within TimeInit.
  EXPECT_TRUE(h.seg.isSilent());
  EXPECT_EQ(h.seg.getThreshold(), 0.0f);
  EXPECT_EQ(h.seg.getSilentRestarts(), 1u);
  EXPECT_EQ(bursts(h, 0.3f, 0.0f, 2), 2);
  EXPECT_GT(h.seg.getSilentRestarts(), 1u);
  background(h, 0.1f, 25);
  drain(h);
  EXPECT_FALSE(h.seg.isSilent());
  EXPECT_FALSE(h.seg.isActive());
  EXPECT_NEAR(h.seg.getNoiseMean(), 0.0104f, 1e-5f);  // the background's median
  EXPECT_EQ(bursts(h, 0.3f, 0.1f, 5), 5);
  // Muted later on: once a quarter of the history is zeros, the measurement
  // starts over until the background is back.
  const uint64_t restarts = h.seg.getSilentRestarts();
  h.blocks(0.0f, 50);
  EXPECT_TRUE(h.seg.isSilent());
  EXPECT_GT(h.seg.getSilentRestarts(), restarts);
  background(h, 0.1f, 25);
  drain(h);
  EXPECT_EQ(bursts(h, 0.3f, 0.1f, 5), 5);
  // Sounds in silence, more than half of every measurement: still silence,
  // and every sound an event (the silence between them ends each one, as
  // the background does: no rebound needed).
  SegHarness sparse({{"Segmentation/UpdateThresh", "1"}, {"Segmentation/FacPeakConsecutiveEvents", "100"}});
  sparse.blocks(0.0f, 25);  // nothing is active before the first measurement
  int found = 0;
  for (int k = 0; k < 8; ++k) {
    sparse.blocks(0.3f, 8);
    sparse.blocks(0.0f, 7);
    while (sparse.take()) ++found;
  }
  EXPECT_EQ(found, 8);
  EXPECT_EQ(sparse.seg.getThreshold(), 0.0f);
}

// With MinThresholdEnergy a faint background counts as silence too, and the
// threshold stays at that floor; without it, only zeros do.
TEST(NoiseEstimate, MinThresholdEnergyMarksFaintBackgroundsAsSilence) {
  for (const char* min : {"", "0.001"}) {
    sctest::Overrides overrides{{"Segmentation/UpdateThresh", "1"}};
    if (min[0]) overrides["Segmentation/MinThresholdEnergy"] = min;
    SegHarness h(overrides);
    background(h, 0.01f, 25);  // power about 1e-4
    EXPECT_EQ(h.seg.isSilent(), min[0] != 0) << min;
    if (min[0]) {
      EXPECT_EQ(h.seg.getThreshold(), 0.001f);
      EXPECT_EQ(bursts(h, 0.3f, 0.01f, 3), 3);
    }
    background(h, 0.1f, 25);
    drain(h);
    EXPECT_FALSE(h.seg.isSilent()) << min;
  }
  for (const char* bad : {"-1", "2e30", "nan"})
    EXPECT_THROW(SegHarness({{"Segmentation/MinThresholdEnergy", bad}}), ConfigError) << bad;
}

// Bursts 16 blocks (0.64 s) apart: each is an event, unless MinEventGap
// (1.24 s, 31 blocks) holds the next one back; the one after it starts again.
TEST(Events, MinEventGapMergesCloseBursts) {
  for (const char* gap : {"", "1.24"}) {
    sctest::Overrides overrides;
    if (gap[0]) overrides["Segmentation/MinEventGap"] = gap;
    SegHarness h(overrides);
    settle(h);
    std::vector<int64_t> starts;
    for (int k = 0; k < 4; ++k) {
      h.blocks(0.3f, 6);
      background(h, kNoise, 10);
      while (h.take()) starts.push_back(h.seg.getLastEventFirstBlock());
    }
    if (!gap[0]) {
      EXPECT_EQ(starts.size(), 4u);
    } else {
      ASSERT_EQ(starts.size(), 2u);
      EXPECT_GT(starts[1] - starts[0], 16 + 6);  // the third burst, not the second
    }
  }
  for (const char* bad : {"-1", "61", "nan"})
    EXPECT_THROW(SegHarness({{"Segmentation/MinEventGap", bad}}), ConfigError) << bad;
}

TEST(NoiseEstimate, FollowsAStepUpAndAStepDown) {
  const float quiet = 0.1f, loud = 0.1f * 5.62f;  // 15 dB apart
  {
    SegHarness h({{"Segmentation/UpdateThresh", "1"}});
    background(h, quiet, 25 + 20);  // the step comes mid-history
    background(h, loud, 50);
    drain(h);
    EXPECT_FALSE(h.seg.isActive());
    EXPECT_GT(h.seg.getNoiseMean(), 0.9f * loud * loud);
    EXPECT_EQ(bursts(h, 3 * loud, loud, 5), 5);
  }
  {
    SegHarness h({{"Segmentation/UpdateThresh", "1"}});
    background(h, loud, 25 + 20);
    EXPECT_EQ(bursts(h, 3 * quiet, quiet, 1), 0);  // under the loud threshold
    background(h, quiet, 2 * 50);
    drain(h);
    EXPECT_LT(h.seg.getThreshold(), 1.2f * quiet * quiet);
    EXPECT_EQ(bursts(h, 3 * quiet, quiet, 5), 5);
  }
}

TEST(NoiseEstimate, ASustainedSoundBecomesBackground) {
  SegHarness h({{"Segmentation/UpdateThresh", "1"}});
  settle(h);
  h.blocks(1.0f, 120);  // a tone longer than two histories
  EXPECT_EQ(h.announced(), 1);
  EXPECT_FALSE(h.seg.isActive());
  EXPECT_FALSE(h.seg.isAfterEvent());
  EXPECT_EQ(h.seg.getNoiseMean(), 1.0f);
  // With updates off the estimate stays, and so does the activity.
  SegHarness fixed;
  settle(fixed);
  fixed.blocks(1.0f, 120);
  EXPECT_TRUE(fixed.seg.isActive());
  EXPECT_EQ(fixed.seg.getFreshEstimates(), 0u);
}

TEST(BlockPower, PreEmphasisFiltersAcrossBlocks) {
  const std::vector<float> x = {0.5f, -0.25f, 1.0f, 0.75f, -1.0f, 0.125f, 0.3f, -0.6f};
  SegHarness plain;
  EXPECT_EQ(plain.seg.getPreEmphasis(), 0.0f);
  EXPECT_EQ(plain.seg.testActivity(x.data()),
            ((0.5f * 0.5f + 0.25f * 0.25f) + 1.0f) + 0.75f * 0.75f);

  SegHarness h({{"Segmentation/PreEmphasis", "0.97"}});
  const float a = 0.97f;
  float previous = 0.0f;  // the stream starts from rest
  for (int b = 0; b < 2; ++b) {
    float expected = 0.0f;
    for (int i = 0; i < 4; ++i) {
      const double y = static_cast<double>(x[b * 4 + i]) - static_cast<double>(a) * previous;
      expected += static_cast<float>(y * y);
      previous = x[b * 4 + i];
    }
    EXPECT_NEAR(h.seg.testActivity(x.data() + 4 * b), expected, 1e-6f) << b;
  }
  // A constant block after the stream has settled on it has no power left
  // but 3 % of it.
  const std::vector<float> dc(4, 1.0f);
  h.seg.testActivity(dc.data());
  EXPECT_NEAR(h.seg.testActivity(dc.data()), 4 * 0.03f * 0.03f, 1e-6f);

  // MaxThresholdEnergy is a level of the plain signal, and with the filter
  // it only counts before the first estimate: a constant (a low thump, as
  // far as the filter is concerned) is active then, and not after it.
  SegHarness loud({{"Segmentation/PreEmphasis", "0.97"}, {"Segmentation/MaxThresholdEnergy", "0.5"}});
  loud.blocks(0.0f, 3);
  loud.raw(dc.data());
  loud.raw(dc.data());
  EXPECT_TRUE(loud.seg.isActive());
  SegHarness settled({{"Segmentation/PreEmphasis", "0.97"}, {"Segmentation/MaxThresholdEnergy", "0.5"}});
  background(settled, 0.1f, 25);
  ASSERT_FALSE(settled.seg.isInitPhase());
  for (int i = 0; i < 3; ++i) settled.raw(dc.data());
  EXPECT_FALSE(settled.seg.isActive());

  for (const char* bad : {"1", "-0.1", "nan"}) {
    EXPECT_THROW(SegHarness({{"Segmentation/PreEmphasis", bad}}), ConfigError) << bad;
  }
}

TEST(NoiseEstimate, ThresholdNeverExceedsTheClamp) {
  SegHarness h({{"Segmentation/MaxThresholdEnergy", "0.5"}});
  EXPECT_EQ(h.seg.getThreshold(), FLT_MAX);
  h.block(1.0f);  // lowers the threshold to the clamp
  EXPECT_FALSE(h.seg.isActive());
  h.block(1.0f);  // above the clamp: active already in the initial phase
  EXPECT_TRUE(h.seg.isActive());
  EXPECT_LE(h.seg.getThreshold(), 0.5f);
  EXPECT_TRUE(h.seg.isActive());
  h.blocks(kNoise, 30);
  h.blocks(10.0f, 3);
  EXPECT_LE(h.seg.getThreshold(), 0.5f);
  EXPECT_TRUE(h.seg.isActive());
}

TEST(Onset, ShortBurstMakesNoEvent) {
  SegHarness h;
  settle(h);
  h.blocks(1.0f, 4);  // S - 1 active blocks
  EXPECT_EQ(h.seg.getBlockCount(), 4);
  h.block(kNoise);
  EXPECT_EQ(h.seg.getBlockCount(), 0);
  EXPECT_FALSE(h.seg.isInEvent());
  h.blocks(kNoise, 20);
  EXPECT_EQ(h.announced(), 0);
}

TEST(Onset, StartSearchFindsTheLastQuietBlockBeforeThePeak) {
  SegHarness h;
  settle(h);
  for (float a : {1.0f, 1.5f, 3.0f, 7.0f, 5.5f}) h.block(a);  // powers 1, 2.25, 9, 49, 30.25
  EXPECT_TRUE(h.seg.isInEvent());
  EXPECT_EQ(h.seg.getBlockCount(), 4);
  EXPECT_EQ(h.seg.getPeakPower(), 49.0f);
  EXPECT_EQ(h.seg.getFloorPower(), 1.0f);
  EXPECT_EQ(h.seg.getTrough(), 30.25f);
  h.blocks(5.5f, 5);
  EXPECT_EQ(h.announced(), 0);
  h.block(5.5f);  // the 10th block of the event
  EXPECT_EQ(h.announced(), 1);
  EXPECT_TRUE(h.seg.isAfterEvent());
  auto e = h.take();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->getStartNumBlock(), 30 - 3);  // block 30 was the fifth onset block
  EXPECT_EQ(h.seg.getLastEventFirstBlock(), 27);
  const float* s = e->getAudioData();
  EXPECT_EQ(s[0], 1.5f);
  EXPECT_EQ(s[4], 3.0f);
  EXPECT_EQ(s[8], 7.0f);
  EXPECT_EQ(s[12], 5.5f);
  EXPECT_EQ(s[36], 5.5f);

  // The sound goes on at the same level: no second event until it rises by
  // more than 0.5 x (49 - 1) = 24 above the trough of 30.25.
  h.blocks(5.5f, 30);
  EXPECT_EQ(h.announced(), 0);
  EXPECT_EQ(h.seg.getBlockCount(), 4);
  h.block(7.0f);  // 49 - 30.25 = 18.75: not enough
  EXPECT_EQ(h.seg.getBlockCount(), 4);
  h.block(7.5f);  // 56.25 - 30.25 = 26 > 24: a new event starts
  EXPECT_TRUE(h.seg.isInEvent());
  EXPECT_FALSE(h.seg.isAfterEvent());
}

TEST(Onset, PeakAtTheOldestBlockStartsThere) {
  SegHarness h;
  settle(h);
  for (float a : {9.0f, 2.0f, 2.0f, 2.0f, 2.0f}) h.block(a);
  EXPECT_TRUE(h.seg.isInEvent());
  EXPECT_EQ(h.seg.getBlockCount(), 5);
  EXPECT_EQ(h.seg.getLastEventFirstBlock(), 26);
}

TEST(Onset, QuietBlockAfterAnEventReturnsToIdle) {
  SegHarness h;
  settle(h);
  h.blocks(2.0f, 10);
  EXPECT_EQ(h.announced(), 1);
  EXPECT_TRUE(h.seg.isAfterEvent());
  h.block(kNoise);
  EXPECT_FALSE(h.seg.isAfterEvent());
  h.blocks(2.0f, 10);
  EXPECT_EQ(h.announced(), 2);
  auto a = h.take(), b = h.take();
  EXPECT_EQ(a->getStartNumBlock(), 26);
  EXPECT_EQ(b->getStartNumBlock(), 37);
}

TEST(Onset, FullOnsetEventIsCompleteAtOnce) {
  SegHarness h({{"Segmentation/FacMinEvent", "1"}});
  settle(h);
  h.blocks(2.0f, 9);
  EXPECT_EQ(h.announced(), 0);
  h.block(2.0f);
  EXPECT_EQ(h.announced(), 1);
  EXPECT_FALSE(h.seg.isInEvent());
}

TEST(BlockNumbers, WrapAtTheRangeAndHeadersMayBeNegative) {
  // Range = trunc(2 x 0.2 x 100 / 4) = 10.
  SegHarness h({{"GraphicalUserInterface/DispInterval", "0.2"}});
  EXPECT_EQ(h.seg.getBlockNumberRange(), 10);
  h.blocks(kNoise, 25);  // block number 5
  EXPECT_EQ(h.seg.getBlockNumber(), 5);
  h.blocks(kNoise, 6);   // 31 -> 1
  for (float a : {1.0f, 1.5f, 3.0f, 7.0f, 5.5f}) h.block(a);  // blocks 2..6 -> onset at 3
  h.blocks(5.5f, 6);
  auto e = h.take();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->getStartNumBlock(), 3);
  SegHarness g({{"GraphicalUserInterface/DispInterval", "0.2"}});
  g.blocks(kNoise, 28);  // block number 8
  for (float a : {1.0f, 1.5f, 3.0f, 7.0f, 5.5f}) g.block(a);  // 9, 0, 1, 2, 3
  g.blocks(5.5f, 6);
  e = g.take();
  EXPECT_EQ(e->getStartNumBlock(), 0);  // 3 - 3: not reduced modulo the range
  EXPECT_EQ(g.seg.getLastEventFirstBlock(), 30);
}

TEST(EventRing, OverflowSkipsWholeEventsAndKeepsTheLayout) {
  SegHarness h;
  settle(h);
  // The ring (128 floats) holds three events of 41 floats; nobody reads.
  const int64_t size = h.seg.getRingBuffer()->size;
  const int fit = static_cast<int>(size / 41);
  for (int i = 0; i < fit + 3; ++i) {
    h.blocks(2.0f + i, 10);
    h.block(kNoise);
  }
  EXPECT_EQ(h.announced(), fit);
  EXPECT_EQ(h.seg.getSkippedEvents(), 3u);
  for (int i = 0; i < fit; ++i) {
    auto e = h.take();
    EXPECT_EQ(e->getAudioData()[0], 2.0f + i);
    EXPECT_EQ(e->getAudioData()[39 - 3], 2.0f + i);
  }
  // Room again: the next event is written whole and reads back intact.
  h.blocks(50.0f, 10);
  auto e = h.take();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->getStartNumBlock(), h.seg.getBlockNumber() - 9);
  EXPECT_EQ(e->getAudioData()[0], 50.0f);
  EXPECT_EQ(e->getAudioData()[36], 50.0f);
}

TEST(Callback, MissingInputSkipsTheBlock) {
  SegHarness h;
  testing::internal::CaptureStdout();
  EXPECT_EQ(MSegmentator::recordCallback(nullptr, nullptr, 4, nullptr, 0, &h.ctx), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "error capturing sound\n");
  EXPECT_EQ(h.seg.getBlockNumber(), 0);
  // A block writes 2 x NBlock / M display elements.
  h.block(0.5f);
  EXPECT_EQ(h.seg.getBlockNumber(), 1);
}

TEST(Limits, ConfigurationsOutsideTheLimitsAreRejected) {
  const std::vector<sctest::Overrides> bad = {
      {{"Segmentation/FacMinEvent", "0.05"}},                                  // S = 0
      {{"Segmentation/FacMinEvent", "1.2"}},                                   // S > NEvent
      {{"Segmentation/AdaptionTime", "0.03"}, {"Segmentation/TimeInit", "0.03"}},  // 1 block
      {{"GraphicalUserInterface/DispInterval", "0.01"}},                       // range 0
      {{"AudioCapturing/NBlock", "0"}},
      // Values that do not fit an int (found by fuzzing: converting them was undefined).
      {{"Segmentation/FacVar", "2e91"}},
      {{"Segmentation/FacVarHysterese", "-1e10"}},
      {{"Segmentation/AdaptionTime", "1e300"}},
      {{"Segmentation/TimeInit", "nan"}},
      {{"Segmentation/FacMinEvent", "1e30"}},
      {{"GraphicalUserInterface/DispInterval", "nan"}},
  };
  for (const auto& o : bad) {
    sctest::TestConfig c(o);
    EXPECT_THROW(MSegmentator(c.user(), c.system()), ConfigError) << o.begin()->first;
  }
  sctest::TestConfig c(sctest::Overrides{{"Segmentation/AdaptionTime", "0.06"}, {"Segmentation/TimeInit", "0.03"}});
  EXPECT_NO_THROW(MSegmentator(c.user(), c.system()));
}
