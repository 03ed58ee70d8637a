#include "segmentation/block_feeder.h"

#include "segmentation/segmentator.h"

namespace classification {

int displayDecimation(XmlNode* userRoot, int nBlock) {
  XmlNode* mNode = cfg::element(cfg::element(userRoot, "GraphicalUserInterface"), "M");
  const int m = cfg::getIntAtLeast(userRoot, "GraphicalUserInterface", "M", 1);
  if (nBlock < m || nBlock % m != 0) cfg::fail(mNode, "must divide NBlock (" + std::to_string(nBlock) + ")");
  return m;
}

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
