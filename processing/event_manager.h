// The worker between segmentation and display: waits for complete events in
// the event ring, builds an MEvent for each, has it described and classified,
// and hands it on through the classified queue, in detection order.
#pragma once

#include "audio/ringbuffer.h"
#include "classifiers/classificator.h"
#include "features/feature.h"
#include "segmentation/event.h"

#include <QThread>

#include <atomic>
#include <climits>
#include <deque>

namespace classification {

class MEventManager : public QThread {
 public:
  // Throws ConfigError, also when the model uses more features than the
  // extractor produces.
  MEventManager(XmlNode* systemRoot, RingBuffer* eventRing);
  ~MEventManager() override;

  // Asks the loop to end and wakes it if it waits for an event. The owner
  // joins the thread (wait()) before destroying the manager.
  void stop();
  // wait() for the worker to end; true when it has.
  bool join(unsigned long milliseconds = ULONG_MAX);
  MQueue<MEvent*>* getClassifiedQueue() { return &classifiedQueue; }
  MFeatureExtractor& getFeatureExtractor() { return featureExtractor; }
  MClassification& getClassification() { return eventClassifier; }
  // Only while the thread is not running (an offline driver's new stream).
  void setEventRing(RingBuffer* ring) { eventRing = ring; }
  // One event through features and classification, on the calling thread.
  virtual void processOne(MEvent* event);

 protected:
  void run() override;

 private:
  std::atomic<bool> stopRequested{false};
  int nEvent;
  int nBlock;
  RingBuffer* eventRing;
  MQueue<MEvent*> classifiedQueue;
  std::deque<MEvent*> pendingQueue;
  MFeatureExtractor featureExtractor;
  MClassification eventClassifier;
};

}  // namespace classification
