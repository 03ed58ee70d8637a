#include "audio/callback_context.h"
#include "audio/ringbuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using namespace classification;

namespace {

struct FloatRing {
  explicit FloatRing(int64_t n) : storage(static_cast<size_t>(n)) {
    EXPECT_EQ(InitializeRingBuffer(&rb, 4, n, storage.data()), 0);
  }
  RingBuffer rb;
  std::vector<float> storage;
};

std::vector<double> readAll(RingBuffer* rb) {
  std::vector<double> out(static_cast<size_t>(GetRingBufferReadAvailable(rb)));
  ReadRingBuffer(rb, out.data(), static_cast<int64_t>(out.size()));
  return out;
}

}  // namespace

TEST(RingBuffer, RejectsCountsThatAreNotPowersOfTwo) {
  RingBuffer rb{};
  rb.size = 99;
  std::vector<float> storage(64);
  EXPECT_EQ(InitializeRingBuffer(&rb, 4, 48, storage.data()), -1);
  EXPECT_EQ(rb.size, 99);  // untouched
  EXPECT_EQ(InitializeRingBuffer(&rb, 4, 64, storage.data()), 0);
  EXPECT_EQ(rb.indexMask, 127);
  EXPECT_EQ(rb.slotMask, 63);
}

TEST(RingBuffer, FullEmptyAndWrap) {
  FloatRing r(8);
  std::vector<float> in(20);
  std::iota(in.begin(), in.end(), 1.0f);
  EXPECT_EQ(GetRingBufferReadAvailable(&r.rb), 0);
  EXPECT_EQ(GetRingBufferWriteAvailable(&r.rb), 8);
  // More than is free: only the free count is written.
  EXPECT_EQ(WriteRingBuffer_fe(&r.rb, in.data(), 11), 8);
  EXPECT_EQ(GetRingBufferReadAvailable(&r.rb), 8);
  EXPECT_EQ(GetRingBufferWriteAvailable(&r.rb), 0);
  EXPECT_EQ(WriteRingBuffer_fe(&r.rb, in.data(), 1), 0);
  std::vector<float> out(8);
  EXPECT_EQ(ReadRingBuffer(&r.rb, out.data(), 5), 5);
  EXPECT_EQ(out[0], 1.0f);
  EXPECT_EQ(out[4], 5.0f);
  // This write wraps around the end of the storage.
  EXPECT_EQ(WriteRingBuffer_fe(&r.rb, in.data() + 10, 5), 5);
  EXPECT_EQ(ReadRingBuffer(&r.rb, out.data(), 8), 8);
  EXPECT_EQ(out, (std::vector<float>{6, 7, 8, 11, 12, 13, 14, 15}));
  EXPECT_EQ(r.rb.writeIndex.load(), r.rb.readIndex.load());
  EXPECT_EQ(GetRingBufferReadAvailable(&r.rb), 0);
  // Indices run over twice the size before wrapping.
  EXPECT_EQ(r.rb.writeIndex.load(), 13);
}

TEST(RingBuffer, RegionsSplitAtTheEndOfTheStorage) {
  FloatRing r(8);
  std::vector<float> in(6, 1.0f);
  WriteRingBuffer_fe(&r.rb, in.data(), 6);
  AdvanceRingBufferReadIndex(&r.rb, 6);
  void *d1, *d2;
  int64_t s1, s2;
  EXPECT_EQ(GetRingBufferWriteRegions(&r.rb, 5, &d1, &s1, &d2, &s2), 5);
  EXPECT_EQ(s1, 2);
  EXPECT_EQ(s2, 3);
  EXPECT_EQ(d1, static_cast<void*>(r.storage.data() + 6));
  EXPECT_EQ(d2, static_cast<void*>(r.storage.data()));
  EXPECT_EQ(GetRingBufferWriteRegions(&r.rb, 2, &d1, &s1, &d2, &s2), 2);
  EXPECT_EQ(d2, nullptr);
  EXPECT_EQ(s2, 0);
  FlushRingBuffer(&r.rb);
  EXPECT_EQ(GetRingBufferWriteAvailable(&r.rb), 8);
}

TEST(DisplayReduction, PairsFollowTheOrderOfTheExtremes) {
  std::vector<double> storage(16);
  RingBuffer rb;
  InitializeRingBuffer(&rb, 8, 16, storage.data());
  const float block[] = {0, 3, -1, 3, -2, 5, 5, 1, 2, 2, 2, 2, 4, -4, 4, -4};
  EXPECT_EQ(WriteRingBuffer_gui(&rb, block, 8, 4), 8);
  EXPECT_EQ(readAll(&rb), (std::vector<double>{3, -1, -2, 5, 2, 2, 4, -4}));
}

TEST(DisplayReduction, PairStraddlingTheWrapReadsBackInOrder) {
  std::vector<double> storage(8);
  RingBuffer rb;
  InitializeRingBuffer(&rb, 8, 8, storage.data());
  // Move both indices to 5 so that the first region is 3 slots long (odd).
  std::vector<float> zeros(5 * 2, 0.0f);
  WriteRingBuffer_gui(&rb, zeros.data(), 5, 2);
  AdvanceRingBufferReadIndex(&rb, 5);
  const float block[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  // Groups of 2 rise, so every pair is min then max.
  EXPECT_EQ(WriteRingBuffer_gui(&rb, block, 8, 3), 8);
  EXPECT_EQ(readAll(&rb), (std::vector<double>{1, 3, 4, 6, 7, 9, 10, 12}));
  EXPECT_EQ(storage[7], 4);  // first element of the split pair
  EXPECT_EQ(storage[0], 6);  // second element after the wrap
}

TEST(DisplayReduction, ClampedWriteNeverPublishesUndefinedSlots) {
  std::vector<double> storage(4, 1e300);
  RingBuffer rb;
  InitializeRingBuffer(&rb, 8, 4, storage.data());
  std::vector<float> one(1, 0.0f);
  WriteRingBuffer_fe(&rb, one.data(), 0);
  // Seven elements requested, 4 free, last pair written in full.
  const float block[] = {1, -1, 2, -2, 3, -3, 4, -4};
  EXPECT_EQ(WriteRingBuffer_gui(&rb, block, 7, 2), 4);
  EXPECT_EQ(readAll(&rb), (std::vector<double>{1, -1, 2, -2}));
  // Odd grant: the lone element repeats the value before it.
  AdvanceRingBufferWriteIndex(&rb, 1);
  AdvanceRingBufferReadIndex(&rb, 1);
  EXPECT_EQ(WriteRingBuffer_gui(&rb, block, 3, 2), 3);
  EXPECT_EQ(readAll(&rb), (std::vector<double>{1, -1, -1}));
}

TEST(RingSizes, SmallestPowerOfTwoNotBelowTheNeed) {
  EXPECT_EQ(displayRingSize(5.0, 44100, 10), 65536);  // 52920 elements
  EXPECT_EQ(ringSizeFor(3.0 * 20 * 512), 32768);
  EXPECT_EQ(ringSizeFor(4096), 4096);
}
