#include "segmentation/event.h"

#include <gtest/gtest.h>

#include <vector>

using namespace classification;

TEST(MEvent, ReadsHeaderAndSamplesFromTheRing) {
  std::vector<float> storage(64);
  RingBuffer rb;
  InitializeRingBuffer(&rb, 4, 64, storage.data());
  for (float header : {-3.0f, 7.0f}) {
    std::vector<float> record = {header};
    for (int i = 0; i < 2 * 4; ++i) record.push_back(header * 100 + i);
    WriteRingBuffer_fe(&rb, record.data(), static_cast<int64_t>(record.size()));
  }
  MEvent a(2, 4, &rb), b(2, 4, &rb);
  EXPECT_EQ(a.getStartNumBlock(), -3);
  EXPECT_EQ(b.getStartNumBlock(), 7);
  EXPECT_EQ(a.getSizeofAudio(), 8);
  EXPECT_EQ(a.getAudioData()[7], -293.0f);
  EXPECT_EQ(b.getAudioData()[0], 700.0f);
  EXPECT_EQ(GetRingBufferReadAvailable(&rb), 0);
  EXPECT_EQ(a.getFeatures(), nullptr);
  EXPECT_EQ(a.getLabel(), 0);
  EXPECT_EQ(a.getCoordinate(), 0.0f);
  a.setFeatures(new float[3]);  // freed by the event (checked under ASan)
}

TEST(MQueue, KeepsOrderAndDoesNotOwn) {
  MQueue<MEvent*> queue;
  EXPECT_TRUE(queue.empty());
  std::vector<float> samples(4, 0.0f);
  std::vector<MEvent*> events;
  for (int i = 0; i < 5; ++i) {
    events.push_back(new MEvent(1, 4, i, samples.data()));
    queue.push(events.back());
  }
  MEvent* e = nullptr;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(queue.tryPop(e));
    EXPECT_EQ(e->getStartNumBlock(), i);
    delete e;
  }
  EXPECT_FALSE(queue.tryPop(e));
}

#ifdef SC_DIAGNOSTICS
TEST(MEvent, DiagnosticLineCarriesTheStartBlock) {
  std::vector<float> storage(16);
  RingBuffer rb;
  InitializeRingBuffer(&rb, 4, 16, storage.data());
  const float record[] = {-12.0f, 1, 2};
  WriteRingBuffer_fe(&rb, record, 3);
  testing::internal::CaptureStdout();
  { MEvent e(1, 2, &rb); }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-12\n");
}
#endif
