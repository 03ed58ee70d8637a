// One detected event, the semaphore that counts complete events in the event
// ring, and the mutex-guarded queue that carries classified events.
#pragma once

#include "audio/ringbuffer.h"
#include "segmentation/sync.h"

#include <QMutex>
#include <QSemaphore>

#include <deque>
#include <iosfwd>

namespace classification {

// Complete events in the event ring not yet read. Released by the audio
// thread once per event, acquired by the worker once before reading it.
extern QSemaphore newEvent;

inline void releaseNewEvent(int n = 1) {
  SC_TSAN_RELEASE(&newEvent);
  newEvent.release(n);
}
inline void acquireNewEvent() {
  newEvent.acquire();
  SC_TSAN_ACQUIRE(&newEvent);
}
inline bool tryAcquireNewEvent() {
  if (!newEvent.tryAcquire(1)) return false;
  SC_TSAN_ACQUIRE(&newEvent);
  return true;
}

// Where the diagnostic lines of the Windows program go (standard output;
// the offline tools move them to standard error to keep their output clean).
std::ostream& diagnosticStream();
void setDiagnosticStream(std::ostream* stream);

class MEvent {
 public:
  // Reads the header (first block number) and nEvent x nBlock samples from
  // the event ring. Only after a successful acquire of newEvent.
  MEvent(int nEvent, int nBlock, RingBuffer* ring);
  // An event from samples already in memory (copied), for tools and tests.
  MEvent(int nEvent, int nBlock, int startNumBlock, const float* samples);
  ~MEvent();
  MEvent(const MEvent&) = delete;
  MEvent& operator=(const MEvent&) = delete;

  float* getAudioData() const { return audioData; }
  int getSizeofAudio() const { return nEvent * nBlock; }
  int getNEvent() const { return nEvent; }
  int getNBlock() const { return nBlock; }
  int getStartNumBlock() const { return startNumBlock; }
  // The setters take ownership of a separately allocated (new[]) array; an
  // array set before is freed rather than leaked.
  void setFeatures(float* f) {
    if (f != features) delete[] features;
    features = f;
  }
  float* getFeatures() const { return features; }
  void setLabel(int l) { label = l; }
  int getLabel() const { return label; }
  void setDFVal(float* v) {
    if (v != dfVal) delete[] dfVal;
    dfVal = v;
  }
  float* getDFVal() const { return dfVal; }
  void setCoordinate(float c) { coordinate = c; }
  float getCoordinate() const { return coordinate; }

 private:
  int nEvent;
  int nBlock;
  int startNumBlock;
  float* audioData;
  float* features = nullptr;
  int label = 0;
  float* dfVal = nullptr;
  float coordinate = 0.0f;
};

// FIFO of T with its own mutex, held for one push, test or pop at a time.
// Does not own what it holds.
template <typename T>
class MQueue {
 public:
  std::deque<T> queue;
  QMutex mutex;

  void push(T value) {
    mutex.lock();
    SC_TSAN_ACQUIRE(&mutex);
    queue.push_back(value);
    SC_TSAN_RELEASE(&mutex);
    mutex.unlock();
  }
  bool empty() {
    mutex.lock();
    SC_TSAN_ACQUIRE(&mutex);
    const bool e = queue.empty();
    SC_TSAN_RELEASE(&mutex);
    mutex.unlock();
    return e;
  }
  // Takes the front element if there is one.
  bool tryPop(T& out) {
    mutex.lock();
    SC_TSAN_ACQUIRE(&mutex);
    const bool any = !queue.empty();
    if (any) {
      out = queue.front();
      queue.pop_front();
    }
    SC_TSAN_RELEASE(&mutex);
    mutex.unlock();
    return any;
  }
};

}  // namespace classification
