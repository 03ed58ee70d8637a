#include "audio/ringbuffer.h"

#include <cmath>
#include <cstring>

namespace classification {

namespace {

// ThreadSanitizer does not model fences; it checks the acquire/release pairs
// on the indices instead, which order the hand-over on their own.
#if defined(__SANITIZE_THREAD__)
inline void fullBarrier() {}
#else
inline void fullBarrier() { std::atomic_thread_fence(std::memory_order_seq_cst); }
#endif

// Indices are read as whole words, never cached; acquire/release pairs on top
// of the full barriers let race detectors see the hand-over as well.
inline int64_t loadIndex(const std::atomic<int64_t>& i) { return i.load(std::memory_order_acquire); }
inline void storeIndex(std::atomic<int64_t>& i, int64_t v) { i.store(v, std::memory_order_release); }

int64_t splitRegions(RingBuffer* rb, int64_t index, int64_t count, void** data1, int64_t* size1,
                     void** data2, int64_t* size2) {
  const int64_t slot = index & rb->slotMask;
  char* first = rb->data + slot * rb->elementBytes;
  if (slot + count > rb->size) {
    const int64_t firstHalf = rb->size - slot;
    *data1 = first;
    *size1 = firstHalf;
    *data2 = rb->data;
    *size2 = count - firstHalf;
  } else {
    *data1 = first;
    *size1 = count;
    *data2 = nullptr;
    *size2 = 0;
  }
  return count;
}

}  // namespace

int64_t InitializeRingBuffer(RingBuffer* rb, int64_t elementBytes, int64_t count, void* data) {
  if ((count & (count - 1)) != 0) return -1;
  rb->size = count;
  storeIndex(rb->writeIndex, 0);
  storeIndex(rb->readIndex, 0);
  rb->indexMask = 2 * count - 1;
  rb->slotMask = count - 1;
  rb->elementBytes = elementBytes;
  rb->data = static_cast<char*>(data);
  return 0;
}

int64_t GetRingBufferReadAvailable(const RingBuffer* rb) {
  return (loadIndex(rb->writeIndex) - loadIndex(rb->readIndex)) & rb->indexMask;
}

int64_t GetRingBufferWriteAvailable(const RingBuffer* rb) {
  return rb->size - GetRingBufferReadAvailable(rb);
}

void FlushRingBuffer(RingBuffer* rb) {
  storeIndex(rb->writeIndex, 0);
  storeIndex(rb->readIndex, 0);
}

int64_t GetRingBufferWriteRegions(RingBuffer* rb, int64_t count, void** data1, int64_t* size1,
                                  void** data2, int64_t* size2) {
  const int64_t available = GetRingBufferWriteAvailable(rb);
  if (count > available) count = available;
  splitRegions(rb, loadIndex(rb->writeIndex), count, data1, size1, data2, size2);
  if (available) fullBarrier();
  return count;
}

void AdvanceRingBufferWriteIndex(RingBuffer* rb, int64_t count) {
  fullBarrier();
  storeIndex(rb->writeIndex, (loadIndex(rb->writeIndex) + count) & rb->indexMask);
}

int64_t GetRingBufferReadRegions(RingBuffer* rb, int64_t count, void** data1, int64_t* size1,
                                 void** data2, int64_t* size2) {
  // Read the writer's index first so that its release is observed.
  (void)loadIndex(rb->writeIndex);
  splitRegions(rb, loadIndex(rb->readIndex), count, data1, size1, data2, size2);
  if (count) fullBarrier();
  return count;
}

void AdvanceRingBufferReadIndex(RingBuffer* rb, int64_t count) {
  fullBarrier();
  storeIndex(rb->readIndex, (loadIndex(rb->readIndex) + count) & rb->indexMask);
}

int64_t WriteRingBuffer_fe(RingBuffer* rb, const float* samples, int64_t count) {
  void *d1, *d2;
  int64_t s1, s2;
  const int64_t n = GetRingBufferWriteRegions(rb, count, &d1, &s1, &d2, &s2);
  if (s2 > 0) {
    std::memcpy(d1, samples, static_cast<size_t>(s1) * sizeof(float));
    std::memcpy(d2, samples + s1, static_cast<size_t>(s2) * sizeof(float));
  } else if (s1 > 0) {
    std::memcpy(d1, samples, static_cast<size_t>(s1) * sizeof(float));
  }
  fullBarrier();
  AdvanceRingBufferWriteIndex(rb, n);
  return n;
}

int64_t ReadRingBuffer(RingBuffer* rb, void* out, int64_t count) {
  void *d1, *d2;
  int64_t s1, s2;
  GetRingBufferReadRegions(rb, count, &d1, &s1, &d2, &s2);
  char* dst = static_cast<char*>(out);
  if (s1 > 0) std::memcpy(dst, d1, static_cast<size_t>(s1 * rb->elementBytes));
  if (s2 > 0)
    std::memcpy(dst + s1 * rb->elementBytes, d2, static_cast<size_t>(s2 * rb->elementBytes));
  fullBarrier();
  AdvanceRingBufferReadIndex(rb, count);
  return count;
}

int64_t WriteRingBuffer_gui(RingBuffer* rb, const float* samples, int64_t count, int M) {
  void *d1, *d2;
  int64_t s1, s2;
  const int64_t n = GetRingBufferWriteRegions(rb, count, &d1, &s1, &d2, &s2);
  double* r1 = static_cast<double*>(d1);
  double* r2 = static_cast<double*>(d2);
  // The pairs form one stream of elements laid over the two regions, so a pair
  // that straddles the wrap is split between the last slot of region 1 and the
  // first of region 2. Only whole groups of M samples are summarised; an
  // element with no group of its own repeats the previous value rather than
  // publishing whatever the slot held.
  const int64_t groups = count / 2;
  double last = 0.0;
  for (int64_t e = 0; e < n; e += 2) {
    double first = last, second = last;
    const int64_t g = e / 2;
    if (g < groups) {
      const float* group = samples + g * M;
      float mx = group[0], mn = group[0];
      int posMax = 0, posMin = 0;
      for (int i = 1; i < M; ++i) {
        if (group[i] > mx) { mx = group[i]; posMax = i; }
        if (group[i] < mn) { mn = group[i]; posMin = i; }
      }
      if (posMin < posMax) { first = mn; second = mx; }
      else { first = mx; second = mn; }
    }
    (e < s1 ? r1[e] : r2[e - s1]) = first;
    if (e + 1 < n) (e + 1 < s1 ? r1[e + 1] : r2[e + 1 - s1]) = second;
    last = second;
  }
  fullBarrier();
  AdvanceRingBufferWriteIndex(rb, n);
  return n;
}

int64_t ringSizeFor(double elements) {
  return static_cast<int64_t>(std::pow(2.0, std::ceil(std::log10(elements) / 0.3010299956639812)));
}

}  // namespace classification
