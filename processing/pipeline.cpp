#include "processing/pipeline.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace classification {

OfflinePipeline::OfflinePipeline(XmlNode* userRoot, XmlNode* systemRoot) {
  segmentator = std::make_unique<MSegmentator>(userRoot, systemRoot);
  XmlNode* gui = cfg::element(userRoot, "GraphicalUserInterface");
  XmlNode* mNode = cfg::element(gui, "M");
  const int m = cfg::getIntAtLeast(userRoot, "GraphicalUserInterface", "M", 1);
  if (segmentator->getNBlock() % m != 0)
    cfg::fail(mNode, "must divide NBlock (" + std::to_string(segmentator->getNBlock()) + ")");
  const double dispInterval = cfg::real(cfg::element(gui, "DispInterval"));
  const int fs = cfg::getIntAtLeast(systemRoot, "AudioCapturing", "Fs", 1);
  const int64_t size = displayRingSize(dispInterval, fs, m);
  displayStorage.resize(static_cast<size_t>(size));
  InitializeRingBuffer(&context.displayRing, 8, size, displayStorage.data());
  context.displayStorage = displayStorage.data();
  context.segmentator = segmentator.get();
  context.decimation = m;
  eventManager = std::make_unique<MEventManager>(systemRoot, segmentator->getRingBuffer());
  eventManager->start();
}

OfflinePipeline::~OfflinePipeline() {
  eventManager->stop();
  eventManager->join();
  eventManager.reset();
}

void OfflinePipeline::feed(const float* block) {
  RingBuffer* ring = segmentator->getRingBuffer();
  const int64_t needed = 1 + static_cast<int64_t>(nEvent()) * nBlock();
  while (!segmentator->isInEvent() && GetRingBufferWriteAvailable(ring) < needed)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  MSegmentator::recordCallback(block, nullptr, static_cast<unsigned long>(nBlock()), nullptr, 0,
                               &context);
  // Nobody draws: keep the display ring from filling.
  AdvanceRingBufferReadIndex(&context.displayRing, GetRingBufferReadAvailable(&context.displayRing));
  while (segmentator->getReleasedEvents() > announced) {
    ++announced;
    firstBlocks.push_back(segmentator->getLastEventFirstBlock());
  }
}

std::vector<ClassifiedEvent> OfflinePipeline::take() {
  std::vector<ClassifiedEvent> out;
  MEvent* e = nullptr;
  while (eventManager->getClassifiedQueue()->tryPop(e)) {
    out.push_back({std::unique_ptr<MEvent>(e), firstBlocks.front()});
    firstBlocks.pop_front();
    ++delivered;
  }
  return out;
}

std::vector<ClassifiedEvent> OfflinePipeline::finish() {
  std::vector<ClassifiedEvent> out;
  while (delivered < announced) {
    auto more = take();
    if (more.empty()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    for (auto& e : more) out.push_back(std::move(e));
  }
  return out;
}

std::vector<std::string> classNames(XmlNode* userRoot) {
  std::vector<std::string> names;
  XmlNode* events = cfg::element(cfg::element(userRoot, "GraphicalUserInterface"), "Events");
  for (XmlNode* e = events->first_node(); e; e = e->next_sibling()) {
    const long id = cfg::integer(e, "ClassId");
    if (id < 0 || id > 100000) cfg::fail(e, "\"ClassId\" " + std::to_string(id) + " is out of range");
    if (static_cast<long>(names.size()) <= id) names.resize(static_cast<size_t>(id) + 1);
    names[static_cast<size_t>(id)] = cfg::attribute(e, "Name");
  }
  return names;
}

}  // namespace classification
