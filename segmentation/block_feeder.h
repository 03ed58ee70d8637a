// Drives a segmentator without a device: every block goes through the same
// callback the audio thread runs, into a display ring that nobody draws from
// and that is emptied after each block.
#pragma once

#include "app/config.h"
#include "audio/callback_context.h"

#include <vector>

namespace classification {

class MSegmentator;

class MBlockFeeder {
 public:
  // Display decimation and span from "GraphicalUserInterface" ("M" must
  // divide NBlock); throws ConfigError.
  MBlockFeeder(MSegmentator& segmentator, XmlNode* userRoot);
  MBlockFeeder(MSegmentator& segmentator, int decimation, int64_t displaySize);
  MBlockFeeder(const MBlockFeeder&) = delete;
  MBlockFeeder& operator=(const MBlockFeeder&) = delete;

  // One block of NBlock samples through MSegmentator::recordCallback.
  void feed(const float* block);
  CallbackContext& context() { return ctx; }

 private:
  void init(MSegmentator& segmentator, int decimation, int64_t displaySize);
  std::vector<double> display;
  CallbackContext ctx;
};

}  // namespace classification
