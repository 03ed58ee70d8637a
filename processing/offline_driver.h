// The detection and classification path without a device and without a
// worker thread: blocks go through the same callback the audio thread runs,
// every event is read from the event ring as soon as it is complete and goes
// through the worker's own feature extraction and classification, on the
// calling thread. Nothing depends on timing; several drivers may run on
// different threads at once.
#pragma once

#include "app/config.h"
#include "processing/event_manager.h"
#include "segmentation/block_feeder.h"
#include "segmentation/segmentator.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace classification {

struct ClassifiedEvent {
  std::unique_ptr<MEvent> event;
  int64_t firstBlock;  // absolute, the first block of the stream being 1
};

class MOfflineDriver {
 public:
  // Features: events are described but not classified (no model needed).
  enum class Stage { Features, Classify };
  // Throws ConfigError.
  MOfflineDriver(XmlNode* userRoot, XmlNode* systemRoot, Stage stage = Stage::Classify);
  ~MOfflineDriver();
  MOfflineDriver(const MOfflineDriver&) = delete;
  MOfflineDriver& operator=(const MOfflineDriver&) = delete;

  int nBlock() const { return segmentator->getNBlock(); }
  int nEvent() const { return segmentator->getNEvent(); }
  int sampleRate() const { return segmentator->getSampleRate(); }

  // One block of NBlock samples; the events it completes are appended to out.
  void feed(const float* block, std::vector<ClassifiedEvent>& out);
  // Any number of samples: whole blocks go through, the rest waits for the
  // next call (a partial block at the very end is never processed).
  void feedSamples(const float* samples, size_t count, std::vector<ClassifiedEvent>& out);
  // A new stream: a fresh segmentation (new noise estimate, block 1 next),
  // keeping features and classifier.
  void restart();

  MSegmentator& segmentation() { return *segmentator; }
  MFeatureExtractor& features();
  int featureLength() const { return featureLength_; }
  int numClasses() const { return manager ? manager->getClassification().getActive()->getNumClasses() : 0; }

 private:
  XmlNode* userRoot;
  XmlNode* systemRoot;
  std::unique_ptr<MSegmentator> segmentator;
  std::unique_ptr<MBlockFeeder> feeder;
  std::unique_ptr<MEventManager> manager;            // Classify: never started
  std::unique_ptr<MFeatureExtractor> extractorOnly;  // Features
  std::vector<float> pending;                        // samples of an incomplete block
  uint64_t consumed = 0;
  int featureLength_ = 0;
};

}  // namespace classification
