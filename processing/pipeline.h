// The detection and classification path without a device: blocks of samples
// go through the same callback the audio thread runs, the worker thread
// classifies, and classified events come out in detection order, each with
// the absolute number of its first block. Used by the offline tools.
#pragma once

#include "app/config.h"
#include "processing/event_manager.h"
#include "segmentation/segmentator.h"

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace classification {

struct ClassifiedEvent {
  std::unique_ptr<MEvent> event;
  int64_t firstBlock;  // absolute, the first block of the stream being 1
};

class OfflinePipeline {
 public:
  // Builds a fresh segmentator and worker (a new noise estimate) from the
  // two documents; starts the worker.
  OfflinePipeline(XmlNode* userRoot, XmlNode* systemRoot);
  ~OfflinePipeline();

  int nBlock() const { return segmentator->getNBlock(); }
  int nEvent() const { return segmentator->getNEvent(); }
  // Feeds one block of NBlock samples. Waits for the worker rather than let
  // the event ring overflow, so results never depend on machine speed.
  void feed(const float* block);
  // Classified events available now (non-blocking).
  std::vector<ClassifiedEvent> take();
  // Waits until every announced event has been classified, returns them.
  std::vector<ClassifiedEvent> finish();
  uint64_t skippedEvents() const { return segmentator->getSkippedEvents(); }
  MEventManager& manager() { return *eventManager; }
  MSegmentator& segmentation() { return *segmentator; }

 private:
  std::unique_ptr<MSegmentator> segmentator;
  std::unique_ptr<MEventManager> eventManager;
  CallbackContext context;
  std::vector<double> displayStorage;
  std::deque<int64_t> firstBlocks;
  uint64_t announced = 0;
  uint64_t delivered = 0;
};

// Class names by label from "GraphicalUserInterface"/"Events" (empty where
// no entry names a label).
std::vector<std::string> classNames(XmlNode* userRoot);

}  // namespace classification
