// Lock-free single-producer, single-consumer ring of fixed-size elements.
// Indices run modulo 2 x size so that a full ring and an empty one differ.
// Every index advance is preceded by a full barrier; the region functions
// issue one after reading the other side's index. Nothing here allocates,
// locks or blocks: both write paths run inside the audio callback.
#pragma once

#include <atomic>
#include <cstdint>

namespace classification {

struct RingBuffer {
  int64_t size;                    // elements, a power of two
  std::atomic<int64_t> writeIndex;  // changed by the writer only
  std::atomic<int64_t> readIndex;   // changed by the reader only
  int64_t indexMask;               // 2 x size - 1
  int64_t slotMask;                // size - 1
  int64_t elementBytes;
  char* data;                      // not owned
};

// 0, or -1 (record untouched) when count is not a power of two.
int64_t InitializeRingBuffer(RingBuffer* rb, int64_t elementBytes, int64_t count, void* data);
int64_t GetRingBufferReadAvailable(const RingBuffer* rb);
int64_t GetRingBufferWriteAvailable(const RingBuffer* rb);
// Only while neither side runs.
void FlushRingBuffer(RingBuffer* rb);
int64_t GetRingBufferWriteRegions(RingBuffer* rb, int64_t count, void** data1, int64_t* size1,
                                  void** data2, int64_t* size2);
void AdvanceRingBufferWriteIndex(RingBuffer* rb, int64_t count);
// Does not clamp: ask for no more than is available.
int64_t GetRingBufferReadRegions(RingBuffer* rb, int64_t count, void** data1, int64_t* size1,
                                 void** data2, int64_t* size2);
void AdvanceRingBufferReadIndex(RingBuffer* rb, int64_t count);
// Copies floats in; what does not fit is dropped. Returns the count written.
int64_t WriteRingBuffer_fe(RingBuffer* rb, const float* samples, int64_t count);
// Copies count elements out; the caller must know they are there.
int64_t ReadRingBuffer(RingBuffer* rb, void* out, int64_t count);
// Min/max reduction of count / 2 groups of M samples into a ring of doubles:
// per group the two extremes in the order in which they occur.
int64_t WriteRingBuffer_gui(RingBuffer* rb, const float* samples, int64_t count, int M);

// 2 ^ ceil(log10(x) / log10(2)) as the system sizes both rings.
int64_t ringSizeFor(double elements);

}  // namespace classification
