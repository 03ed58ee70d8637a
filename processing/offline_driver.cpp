#include "processing/offline_driver.h"

#include "app/event_classes.h"

#include <algorithm>

namespace classification {

MOfflineDriver::MOfflineDriver(XmlNode* user, XmlNode* system, Stage stage)
    : userRoot(user), systemRoot(system) {
  restart();
  if (stage == Stage::Classify)
    manager = std::make_unique<MEventManager>(systemRoot, segmentator->getRingBuffer());
  else
    extractorOnly = std::make_unique<MFeatureExtractor>(systemRoot);
  featureLength_ = features().getFeatureVectorLength();
}

MOfflineDriver::~MOfflineDriver() = default;

void MOfflineDriver::restart() {
  feeder.reset();
  auto fresh = std::make_unique<MSegmentator>(userRoot, systemRoot);
  fresh->setAnnounce(false);  // read below on this thread; other drivers may share the process
  // Nobody looks at the waveform here: a display ring of one min/max pair
  // keeps the callback's display step (it writes what fits) nearly free.
  feeder = std::make_unique<MBlockFeeder>(*fresh, displayDecimation(userRoot, fresh->getNBlock()), 2);
  // The manager keeps the ring it was built with: the fresh segmentator's
  // ring must take its place.
  if (manager) manager->setEventRing(fresh->getRingBuffer());
  segmentator = std::move(fresh);
  pending.clear();
  consumed = 0;
}

MFeatureExtractor& MOfflineDriver::features() {
  return manager ? manager->getFeatureExtractor() : *extractorOnly;
}

void MOfflineDriver::feed(const float* block, std::vector<ClassifiedEvent>& out) {
  feeder->feed(block);
  // At most one event completes per block; read it before the next block,
  // while the segmentator still knows where it began.
  while (segmentator->getReleasedEvents() > consumed) {
    ++consumed;
    auto event = std::make_unique<MEvent>(nEvent(), nBlock(), segmentator->getRingBuffer());
    if (manager) manager->processOne(event.get());
    else extractorOnly->processEvent(event.get());
    out.push_back({std::move(event), segmentator->getLastEventFirstBlock()});
  }
}

void MOfflineDriver::feedSamples(const float* samples, size_t count, std::vector<ClassifiedEvent>& out) {
  const size_t n = static_cast<size_t>(nBlock());
  if (!pending.empty()) {
    const size_t take = std::min(count, n - pending.size());
    pending.insert(pending.end(), samples, samples + take);
    samples += take;
    count -= take;
    if (pending.size() < n) return;
    feed(pending.data(), out);
    pending.clear();
  }
  for (; count >= n; samples += n, count -= n) feed(samples, out);
  pending.assign(samples, samples + count);
}

}  // namespace classification
