#include "segmentation/segmentator.h"

#include "segmentation/event.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

namespace classification {

MRingBuffer::~MRingBuffer() { delete[] startPtr; }

void MRingBuffer::initBuffer(int rows, int width_) {
  delete[] startPtr;
  startPtr = new float[static_cast<size_t>(rows) * width_];
  sizeBuffer = rows;
  width = width_;
  writeIndex = 0;
  updateFlag = false;
}

void MRingBuffer::appendValues(const float* row) {
  std::memcpy(startPtr + static_cast<size_t>(writeIndex) * width, row, sizeof(float) * width);
  if (++writeIndex >= sizeBuffer) {
    writeIndex = 0;
    updateFlag = true;
  }
}

void MRingBuffer::sortBuffer(int first, int last) {
  // NaN sorts last: a plain < is no strict weak order with NaN, and std::sort
  // may then run off the range.
  if (last > first)
    std::sort(startPtr + first, startPtr + last + 1, [](float a, float b) {
      return a < b || (!std::isnan(a) && std::isnan(b));
    });
}

int computeBlockNumberRange(double dispInterval, int fs, int nBlock) {
  const double range = 2.0 * dispInterval * fs / nBlock;
  if (!(range >= 0.0)) return 0;  // negative or not a number: refused by the caller
  return range >= 2147483647.0 ? 2147483647 : static_cast<int>(range);
}

namespace {

float getFloat(XmlNode* root, const char* section, const char* key) {
  return static_cast<float>(cfg::getReal(root, section, key));
}

XmlNode* keyNode(XmlNode* root, const char* section, const char* key) {
  return cfg::element(cfg::element(root, section), key);
}

// A value truncated to int, or a configuration error where it lies outside
// int's range (converting it would be undefined).
int truncated(double v, XmlNode* node, const std::string& what) {
  if (!(v > -2147483649.0 && v < 2147483648.0))
    cfg::fail(node, what + " (" + std::to_string(v) + ") is out of range");
  return static_cast<int>(v);
}

// Lower median, lower quartile and interquartile range of sorted v[0..n-1]
// (quartile positions rounded half up, counted from 1).
struct Quartiles {
  float median, lower, range;
};
Quartiles quartiles(const float* v, int n) {
  const int p1 = static_cast<int>((n + 1) * 0.25 + 0.5);
  const int p3 = static_cast<int>(3 * (n + 1) * 0.25 + 0.5);
  return {(n % 2) ? v[n / 2] : v[n / 2 - 1], v[p1 - 1], v[p3 - 1] - v[p1 - 1]};
}

}  // namespace

MSegmentator::MSegmentator(XmlNode* userRoot, XmlNode* systemRoot) {
  const char* seg = "Segmentation";
  blockLength = cfg::getIntAtLeast(systemRoot, "AudioCapturing", "NBlock", 1);
  sampleRate = cfg::getIntAtLeast(systemRoot, "AudioCapturing", "Fs", 1);
  eventBlocks = cfg::getIntAtLeast(systemRoot, "Event", "NEvent", 1);
  facAmplStartPointEvent = getFloat(userRoot, seg, "FacAmplStartPointEvent");
  facMinEvent = getFloat(userRoot, seg, "FacMinEvent");
  facPeakConsecutiveEvents = getFloat(userRoot, seg, "FacPeakConsecutiveEvents");
  updateThresh = cfg::getInt(userRoot, seg, "UpdateThresh") != 0;
  const double adaptionTime = cfg::getReal(userRoot, seg, "AdaptionTime");
  const double timeInit = cfg::getReal(userRoot, seg, "TimeInit");
  facVar = truncated(cfg::getReal(userRoot, seg, "FacVar"), keyNode(userRoot, seg, "FacVar"), "the value");
  facVarHysterese = truncated(cfg::getReal(userRoot, seg, "FacVarHysterese"),
                              keyNode(userRoot, seg, "FacVarHysterese"), "the value");
  alpha = getFloat(userRoot, seg, "Alpha");
  q = getFloat(userRoot, seg, "q");
  maxThresholdEnergy = getFloat(userRoot, seg, "MaxThresholdEnergy");
  const double dispInterval = cfg::getReal(userRoot, "GraphicalUserInterface", "DispInterval");
  // Optional: documents without it measure the plain block power.
  if (XmlNode* pre = cfg::findElement(cfg::element(userRoot, seg), "PreEmphasis")) {
    const double a = cfg::real(pre);
    if (!(a >= 0.0 && a < 1.0)) cfg::fail(pre, "must lie in [0, 1)");
    preEmphasis = static_cast<float>(a);
  }
  // Optional: without it an event may start right after the previous one.
  if (XmlNode* gap = cfg::findElement(cfg::element(userRoot, seg), "MinEventGap")) {
    const double seconds = cfg::real(gap);
    if (!(seconds >= 0.0 && seconds <= 60.0)) cfg::fail(gap, "must lie in [0, 60] seconds");
    minGapBlocks = static_cast<int64_t>(std::ceil(seconds * sampleRate / blockLength));
  }
  // Optional: documents without it take only a threshold of 0 as silence.
  if (XmlNode* min = cfg::findElement(cfg::element(userRoot, seg), "MinThresholdEnergy")) {
    const double e = cfg::real(min);
    if (!(e >= 0.0 && e < maxThresholdEnergy)) cfg::fail(min, "must lie in [0, MaxThresholdEnergy)");
    minThresholdEnergy = static_cast<float>(e);
  }

  adaptionBlocks = truncated(std::ceil(sampleRate * adaptionTime / blockLength),
                             keyNode(userRoot, seg, "AdaptionTime"), "the noise history in blocks");
  initBlocks = truncated(std::ceil(sampleRate * timeInit / blockLength), keyNode(userRoot, seg, "TimeInit"),
                         "the initial measurement in blocks");
  onsetLength = truncated(std::floor(static_cast<float>(eventBlocks) * facMinEvent),
                          keyNode(userRoot, seg, "FacMinEvent"), "the onset in blocks");
  blockNumberRange = computeBlockNumberRange(dispInterval, sampleRate, blockLength);

  // Limits the segmentation relies on.
  if (onsetLength < 1 || onsetLength > eventBlocks)
    cfg::fail(keyNode(userRoot, seg, "FacMinEvent"),
              "gives an onset of " + std::to_string(onsetLength) + " blocks; NEvent x FacMinEvent must "
              "lie between 1 and NEvent (" + std::to_string(eventBlocks) + ")");
  if (blockNumberRange < 1)
    cfg::fail(keyNode(userRoot, "GraphicalUserInterface", "DispInterval"),
              "2 x DispInterval x Fs / NBlock must be at least 1");
  if (std::max(initBlocks, adaptionBlocks) < 2)
    cfg::fail(keyNode(userRoot, seg, "AdaptionTime"),
              "the noise history must hold at least two blocks (AdaptionTime or TimeInit too short)");
  if (std::max(initBlocks, adaptionBlocks) > (1 << 24))
    cfg::fail(keyNode(userRoot, seg, "AdaptionTime"), "the noise history is too long");
  if (static_cast<int64_t>(eventBlocks) * blockLength > (1 << 26))
    cfg::fail(keyNode(systemRoot, "Event", "NEvent"), "NEvent x NBlock is too large");

  noiseHistory.initBuffer(std::max(initBlocks, adaptionBlocks), 1);
  onsetPower.initBuffer(onsetLength, 1);
  onsetAudio.initBuffer(onsetLength, blockLength);
  const int64_t count = ringSizeFor(3.0 * eventBlocks * blockLength);
  eventStorage = new float[static_cast<size_t>(count)];
  InitializeRingBuffer(&eventRing, 4, count, eventStorage);
}

MSegmentator::~MSegmentator() { delete[] eventStorage; }

int MSegmentator::recordCallback(const void* input, void*, unsigned long,
                                 const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                                 void* userData) {
  CallbackContext* ctx = static_cast<CallbackContext*>(userData);
  if (!input) {
    std::cout << "error capturing sound" << std::endl;
    return 0;
  }
  MSegmentator* seg = ctx->segmentator;
  const float* block = static_cast<const float*>(input);
  seg->blockNumber = (seg->blockNumber + 1) % seg->blockNumberRange;
  ++seg->totalBlocks;
  WriteRingBuffer_gui(&ctx->displayRing, block, (2 * seg->blockLength) / ctx->decimation,
                      ctx->decimation);
  seg->segmentize(block);
  return 0;
}

// Sum of squares in sample order, in single precision. With pre-emphasis the
// squares are those of y[n] = x[n] - a x[n-1], the last sample carried over
// from the previous block, so that low-frequency rumble weighs less; the
// plain power is kept for MaxThresholdEnergy (see clampThreshold).
float MSegmentator::blockPower(const float* block) {
  float power = 0.0f;
  if (preEmphasis == 0.0f) {
    for (int i = 0; i < blockLength; ++i) power += block[i] * block[i];
  } else {
    float previous = lastSample;
    for (int i = 0; i < blockLength; ++i) {
      const float y = block[i] - preEmphasis * previous;
      power += y * y;
      previous = block[i];
    }
    if (initPhase) {  // the only time the plain power is compared
      float raw = 0.0f;
      for (int i = 0; i < blockLength; ++i) raw += block[i] * block[i];
      rawPower = raw;
    }
  }
  lastSample = block[blockLength - 1];
  return power;
}

// The threshold never exceeds MaxThresholdEnergy, so a block louder than that
// is always active. With pre-emphasis the two are in different units: while
// there is no estimate yet (the initial phase) the plain power is compared
// with it, so that a recording that starts with its sound still gives an
// event; afterwards the filtered estimate alone decides, so that a loud
// rumble does not make every block active.
void MSegmentator::clampThreshold() {
  if (preEmphasis == 0.0f && threshold > maxThresholdEnergy) threshold = maxThresholdEnergy;
}

float MSegmentator::testActivity(const float* block) {
  const bool wasActive = active;
  const float power = blockPower(block);
  noiseHistory.appendValues(&power);

  // A history no longer than the initial measurement ends the initial phase
  // when it first wraps.
  if ((initPhase || silent) && (noiseHistory.getWriteIndex() >= initBlocks || noiseHistory.getUpdateFlag())) {
    calculateNoiseParam();
    initPhase = silent = false;
    noiseHistory.resetWriteIndex();
    noiseHistory.resetUpdateFlag();
    restartIfSilent();
    return power;
  }

  if (power > threshold || (preEmphasis != 0.0f && initPhase && rawPower > maxThresholdEnergy)) {
    active = true;
    if (!wasActive) threshold = noiseMean + static_cast<float>(facVarHysterese) * noiseSpread;
  } else {
    active = false;
    if (wasActive) threshold = noiseMean + static_cast<float>(facVar) * noiseSpread;
  }
  clampThreshold();

  if (noiseHistory.getUpdateFlag() && !active && updateThresh) {
    calculateNoiseParam();
    noiseHistory.resetUpdateFlag();
    restartIfSilent();
  }

  // A whole history of uninterrupted activity is the new background (a
  // louder room, a fan, an estimate made on silence): the adaptive update
  // waits for an inactive block that would never come. The block that ends
  // it counts as quiet, so the segmentation returns to idle.
  activeRun = active ? activeRun + 1 : 0;
  if (updateThresh && !initPhase && !silent && activeRun >= noiseHistory.getSizeBuffer()) {
    estimateAfresh();
    noiseHistory.resetUpdateFlag();
    activeRun = 0;
    active = false;
    restartIfSilent();
  }
  return power;
}

// A threshold at or below MinThresholdEnergy (0 without the key), or a
// quarter of the measured blocks at or below it, was measured on silence: a
// muted or unplugged input, digital zeros, sounds in between. Any sound is an
// event in silence, so the threshold becomes that floor; but the noise is
// measured again as at start-up, every TimeInit, so that a background that
// sets in (the input unmuted) is taken within TimeInit instead of being one
// active run for a whole history. The segmentation goes on meanwhile.
void MSegmentator::restartIfSilent() {
  // Without the 8 blocks an initial estimate needs, there would be no way out.
  if (initPhase || silent || std::min(initBlocks, noiseHistory.getSizeBuffer()) <= 7 ||
      (threshold > minThresholdEnergy && lowerQuartile > minThresholdEnergy))
    return;
  silent = true;
  noiseMean = threshold = minThresholdEnergy;
  noiseSpread = 0.0f;
  noiseHistory.resetWriteIndex();
  noiseHistory.resetUpdateFlag();
  ++silentRestarts;
}

void MSegmentator::estimateFrom(const float* v, int n) {
  const Quartiles qs = quartiles(v, n);
  noiseMean = qs.median;
  lowerQuartile = qs.lower;
  noiseSpread = static_cast<float>(static_cast<double>(qs.range) * 0.7413);
  threshold = noiseMean + static_cast<float>(facVar) * noiseSpread;
}

// A new background: the whole history estimated as an update does, but
// without the old estimate's weight and without a limit.
void MSegmentator::estimateAfresh() {
  noiseHistory.sortBuffer(0, noiseHistory.getSizeBuffer() - 1);
  adoptSortedHistory();
}

void MSegmentator::adoptSortedHistory() {
  estimateFrom(noiseHistory.getStartPtr(), noiseHistory.getSizeBuffer());
  clampThreshold();
  ++freshEstimates;
}

void MSegmentator::calculateNoiseParam() {
  float* v = noiseHistory.getStartPtr();
  if (initPhase || silent) {
    int w = noiseHistory.getWriteIndex();
    if (w == 0 && noiseHistory.getUpdateFlag()) w = noiseHistory.getSizeBuffer();
    if (w > 7) {
      // The later half of the initial powers.
      const int k = static_cast<int>(std::ceil(w * 0.5));
      noiseHistory.sortBuffer(k, w - 1);
      estimateFrom(v + k, w - k);
    }
  } else {
    const int size = noiseHistory.getSizeBuffer();
    const float m0 = noiseMean, s0 = noiseSpread;
    noiseHistory.sortBuffer(0, size - 1);
    const float limit = m0 + q * s0;
    // The smoothed update below only ever moves towards values under the old
    // outlier limit, and by the weight (1 - alpha) per history. Where that
    // locks or crawls, the history is taken as the new background and
    // estimated afresh: when more than three quarters of it lie above the
    // limit (a louder background; the plain rule would change nothing at all
    // once three or fewer values are below it), and when all of it lies below
    // the old median (a quieter one). On a steady background, even one busy
    // with sounds, neither happens.
    int n = size;
    if (size == 1) {
      n = 1;
    } else {
      if (v[0] > limit) return adoptSortedHistory();
      for (int i = 1; i <= size - 2; ++i) {
        if (v[i] > limit) {
          n = i;
          if (4 * n < size) return adoptSortedHistory();
          if (n <= 3) return;
          break;
        }
      }
      if (v[size - 1] < m0) return adoptSortedHistory();
    }
    const Quartiles qs = quartiles(v, n);
    const float keep = 1 - alpha;
    noiseMean = keep * qs.median + alpha * m0;
    lowerQuartile = qs.lower;
    const float oldPart = alpha * s0;
    noiseSpread = static_cast<float>(static_cast<double>(qs.range) * 0.7413 * static_cast<double>(keep) +
                                     static_cast<double>(oldPart));
    threshold = noiseMean + static_cast<float>(facVar) * noiseSpread;
  }
  clampThreshold();
}

int MSegmentator::getMinPoint(const float* from, const float* table, int stop, int size,
                              bool useLimit) const {
  int pos = static_cast<int>(from - table);
  if (pos == stop) return stop;
  const float limit = facAmplStartPointEvent * table[pos];
  int best = pos;
  do {
    pos = (pos == 0) ? size - 1 : pos - 1;
    if (useLimit && table[pos] < limit) return pos;
    if (table[pos] < table[best]) best = pos;
  } while (pos != stop);
  return best;
}

void MSegmentator::segmentize(const float* block) {
  const float power = testActivity(block);

  if (inEvent) {
    if (!discarding) WriteRingBuffer_fe(&eventRing, block, blockLength);
  } else if (active) {
    onsetPower.appendValues(&power);
    onsetAudio.appendValues(block);
  } else {
    if (initPhase) return;
    if (blockCount > 0 || afterEvent) {
      blockCount = 0;
      onsetAudio.resetWriteIndex();
      onsetPower.resetWriteIndex();
      onsetPower.resetUpdateFlag();
      afterEvent = false;
    }
    return;
  }

  ++blockCount;

  if (inEvent) {
    if (power > peakPower) peakPower = trough = power;
    if (power < floorPower) floorPower = trough = power;
    if (power < trough) trough = rebound = power;
    completionTest();
    return;
  }
  if (afterEvent) {
    if (power < trough) trough = rebound = power;
    else if (power > rebound) rebound = power;
  }
  if (!onsetPower.getUpdateFlag()) {
    completionTest();
    return;
  }
  if (afterEvent) {
    if ((rebound - trough) > (peakPower - floorPower) * facPeakConsecutiveEvents) {
      afterEvent = false;
    } else {
      --blockCount;
      completionTest();
      return;
    }
  }
  // Bursts of one sound (a fit of coughs, a laugh, two words) closer than
  // MinEventGap to the last event's start belong to it: the onset table
  // rolls on, and a sound still going when the gap has passed starts then.
  if (lastEventFirstBlock > 0 && totalBlocks - lastEventFirstBlock < minGapBlocks) {
    --blockCount;
    return;
  }
  startEvent();
}

void MSegmentator::completionTest() {
  if (!inEvent || blockCount != eventBlocks) return;
  if (discarding) {
    discarding = false;
  } else {
    ++releasedEvents;
    if (announce) releaseNewEvent();
  }
  rebound = trough;
  blockCount = 0;
  inEvent = false;
  afterEvent = true;
}

void MSegmentator::startEvent() {
  const int s = onsetLength;
  const float* pw = onsetPower.getStartPtr();
  const int w = onsetPower.getWriteIndex();

  int peak = 0;
  for (int i = 1; i < s; ++i)
    if (pw[i] > pw[peak]) peak = i;
  const int start = getMinPoint(pw + peak, pw, w, s, true);
  int n;
  if (w == 0) n = s - start;
  else if (start < w) n = w - start;
  else n = s - start + w;

  // Only start writing an event that fits as a whole; otherwise follow it
  // through without writing, so the layout of later events stays intact.
  const int64_t needed = 1 + static_cast<int64_t>(eventBlocks) * blockLength;
  discarding = GetRingBufferWriteAvailable(&eventRing) < needed;
  lastEventFirstBlock = totalBlocks - n + 1;
  if (discarding) {
    ++skippedEvents;
  } else {
    const float header = static_cast<float>(blockNumber - n + 1);
    WriteRingBuffer_fe(&eventRing, &header, 1);
    const float* audio = onsetAudio.getStartPtr();
    for (int i = 0, slot = start; i < n; ++i, slot = (slot + 1 == s) ? 0 : slot + 1)
      WriteRingBuffer_fe(&eventRing, audio + static_cast<size_t>(slot) * blockLength, blockLength);
  }

  blockCount = n;
  peakPower = pw[peak];
  floorPower = *std::min_element(pw, pw + s);
  if (w == 0) trough = *std::min_element(pw + peak, pw + s);
  else trough = pw[getMinPoint(pw + (w - 1), pw, peak, s, false)];

  onsetAudio.resetWriteIndex();
  onsetPower.resetWriteIndex();
  onsetPower.resetUpdateFlag();
  inEvent = true;
  completionTest();
}

}  // namespace classification
