#include "processing/event_manager.h"

namespace classification {

MEventManager::MEventManager(XmlNode* systemRoot, RingBuffer* ring)
    : QThread(nullptr),
      nEvent(cfg::getIntAtLeast(systemRoot, "Event", "NEvent", 1)),
      nBlock(cfg::getIntAtLeast(systemRoot, "AudioCapturing", "NBlock", 1)),
      eventRing(ring),
      featureExtractor(systemRoot),
      eventClassifier(systemRoot) {
  const MClassificator* active = eventClassifier.getActive();
  if (active->getNumFeatures() > featureExtractor.getFeatureVectorLength())
    cfg::fail(active->getDimensionNode(),
              "the model uses " + std::to_string(active->getNumFeatures()) +
                  " features but the feature extractor produces " +
                  std::to_string(featureExtractor.getFeatureVectorLength()));
}

MEventManager::~MEventManager() {
  if (isRunning()) {
    stop();
    join();
  }
  // Permits left behind (the wake-up, or events of a closed stream) must not
  // reach the next reader of the global semaphore.
  while (newEvent.tryAcquire()) {
  }
  for (MEvent* e : pendingQueue) delete e;
  MEvent* e = nullptr;
  while (classifiedQueue.tryPop(e)) delete e;
}

void MEventManager::stop() {
  stopRequested.store(true);
  // The wake-up permit is recognised by the flag and never read as an event.
  releaseNewEvent();
}

bool MEventManager::join(unsigned long milliseconds) {
  if (!wait(milliseconds)) return false;
  SC_TSAN_ACQUIRE(this);  // QThread's own hand-over is invisible to the race detector
  return true;
}

void MEventManager::processOne(MEvent* event) {
  featureExtractor.processEvent(event);
  eventClassifier.processEvent(event);
}

void MEventManager::run() {
  while (!stopRequested.load()) {
    acquireNewEvent();
    if (stopRequested.load()) break;
    pendingQueue.push_back(new MEvent(nEvent, nBlock, eventRing));
    while (!pendingQueue.empty()) {
      MEvent* event = pendingQueue.front();
      pendingQueue.pop_front();
      processOne(event);
      classifiedQueue.push(event);
      // Pull announced events out of the ring early to free its space.
      while (!stopRequested.load() && tryAcquireNewEvent()) {
        if (stopRequested.load()) break;
        pendingQueue.push_back(new MEvent(nEvent, nBlock, eventRing));
      }
    }
  }
  SC_TSAN_RELEASE(this);
}

}  // namespace classification
