// What the capture callback receives as its user data: the display ring with
// its storage, the segmentator that processes every block, and the display
// decimation M.
#pragma once

#include "audio/ringbuffer.h"

namespace classification {

class MSegmentator;

struct CallbackContext {
  RingBuffer displayRing;
  double* displayStorage = nullptr;
  MSegmentator* segmentator = nullptr;
  int decimation = 1;
};

// Element count of the display ring for a display span and decimation.
int64_t displayRingSize(double dispInterval, int fs, int decimation);

}  // namespace classification
