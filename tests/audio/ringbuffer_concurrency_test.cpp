// One writer and one reader thread move millions of floats through a small
// ring; every value must arrive once and in order. Run under ThreadSanitizer.
#include "audio/ringbuffer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace classification;

TEST(RingBufferConcurrency, EveryValueArrivesInOrder) {
  constexpr int64_t kTotal = 4'000'000;
  std::vector<float> storage(64);
  RingBuffer rb;
  ASSERT_EQ(InitializeRingBuffer(&rb, 4, 64, storage.data()), 0);

  std::thread writer([&] {
    float chunk[37];
    int64_t next = 0;
    while (next < kTotal) {
      const int64_t n = std::min<int64_t>(37, kTotal - next);
      for (int64_t i = 0; i < n; ++i) chunk[i] = static_cast<float>((next + i) % 16777216);
      const int64_t written = WriteRingBuffer_fe(&rb, chunk, n);
      next += written;
      if (written == 0) std::this_thread::yield();
    }
  });

  int64_t expected = 0;
  int64_t errors = 0;
  float out[29];
  while (expected < kTotal) {
    const int64_t available = GetRingBufferReadAvailable(&rb);
    if (available == 0) {
      std::this_thread::yield();
      continue;
    }
    const int64_t n = std::min<int64_t>(available, 29);
    ReadRingBuffer(&rb, out, n);
    for (int64_t i = 0; i < n; ++i)
      if (out[i] != static_cast<float>((expected + i) % 16777216)) ++errors;
    expected += n;
  }
  writer.join();
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(GetRingBufferReadAvailable(&rb), 0);
}

// The display reader peeks through the read regions and discards later.
TEST(RingBufferConcurrency, PeekingReaderSeesCompleteDisplayPairs) {
  std::vector<double> storage(256);
  RingBuffer rb;
  ASSERT_EQ(InitializeRingBuffer(&rb, 8, 256, storage.data()), 0);
  constexpr int kBlocks = 50000;
  std::thread writer([&] {
    std::vector<float> block(64);
    for (int b = 0; b < kBlocks;) {
      for (int i = 0; i < 64; ++i) block[i] = (i % 8 == 3) ? float(b) : (i % 8 == 5 ? -float(b) : 0.0f);
      if (GetRingBufferWriteAvailable(&rb) < 16) {
        std::this_thread::yield();
        continue;
      }
      WriteRingBuffer_gui(&rb, block.data(), 16, 8);
      ++b;
    }
  });
  int seen = 0, bad = 0;
  while (seen < kBlocks) {
    const int64_t available = GetRingBufferReadAvailable(&rb);
    if (available < 16) {
      std::this_thread::yield();
      continue;
    }
    void *d1, *d2;
    int64_t s1, s2;
    GetRingBufferReadRegions(&rb, 16, &d1, &s1, &d2, &s2);
    for (int64_t e = 0; e < 16; e += 2) {
      const double a = e < s1 ? static_cast<double*>(d1)[e] : static_cast<double*>(d2)[e - s1];
      const double b = e + 1 < s1 ? static_cast<double*>(d1)[e + 1] : static_cast<double*>(d2)[e + 1 - s1];
      if (a != seen || b != -seen) ++bad;
    }
    AdvanceRingBufferReadIndex(&rb, 16);
    ++seen;
  }
  writer.join();
  EXPECT_EQ(bad, 0);
}
