#include "segmentation/block_feeder.h"

#include "app/event_classes.h"
#include "segmentation/segmentator.h"

namespace classification {

MBlockFeeder::MBlockFeeder(MSegmentator& seg, XmlNode* userRoot) {
  const int m = displayDecimation(userRoot, seg.getNBlock());
  const double span = cfg::getReal(userRoot, "GraphicalUserInterface", "DispInterval");
  init(seg, m, displayRingSize(span, seg.getSampleRate(), m));
}

MBlockFeeder::MBlockFeeder(MSegmentator& seg, int decimation, int64_t displaySize) {
  init(seg, decimation, displaySize);
}

void MBlockFeeder::init(MSegmentator& seg, int decimation, int64_t displaySize) {
  display.assign(static_cast<size_t>(displaySize), 0.0);
  InitializeRingBuffer(&ctx.displayRing, 8, displaySize, display.data());
  ctx.displayStorage = display.data();
  ctx.segmentator = &seg;
  ctx.decimation = decimation;
}

void MBlockFeeder::feed(const float* block) {
  MSegmentator::recordCallback(block, nullptr, static_cast<unsigned long>(ctx.segmentator->getNBlock()),
                               nullptr, 0, &ctx);
  AdvanceRingBufferReadIndex(&ctx.displayRing, GetRingBufferReadAvailable(&ctx.displayRing));
}

}  // namespace classification
