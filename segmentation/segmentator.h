// Cuts the capture stream into events of NEvent blocks: block power against an
// adaptive noise estimate, onset search, and the event ring. Runs inside the
// audio callback; nothing here allocates, locks or blocks after construction.
#pragma once

#include "app/config.h"
#include "audio/callback_context.h"
#include "audio/ringbuffer.h"

#include <portaudio.h>

#include <cstdint>

namespace classification {

// Circular table of rows of floats (noise history, onset powers and samples).
class MRingBuffer {
 public:
  MRingBuffer() = default;
  ~MRingBuffer();
  MRingBuffer(const MRingBuffer&) = delete;
  MRingBuffer& operator=(const MRingBuffer&) = delete;

  void initBuffer(int rows, int width);
  void appendValues(const float* row);
  // Sorts the single-float rows first..last (both included) ascending.
  void sortBuffer(int first, int last);
  float* getStartPtr() const { return startPtr; }
  int getSizeBuffer() const { return sizeBuffer; }
  int getWriteIndex() const { return writeIndex; }
  bool getUpdateFlag() const { return updateFlag; }
  void resetWriteIndex() { writeIndex = 0; }
  void resetUpdateFlag() { updateFlag = false; }

 private:
  float* startPtr = nullptr;
  int sizeBuffer = 0;
  int writeIndex = 0;
  bool updateFlag = false;
  int width = 0;
};

// Blocks in the block-number range: trunc(2 x DispInterval x Fs / NBlock).
int computeBlockNumberRange(double dispInterval, int fs, int nBlock);

class MSegmentator {
 public:
  // Throws ConfigError for missing keys or values outside their limits.
  MSegmentator(XmlNode* userRoot, XmlNode* systemRoot);
  ~MSegmentator();
  MSegmentator(const MSegmentator&) = delete;
  MSegmentator& operator=(const MSegmentator&) = delete;

  RingBuffer* getRingBuffer() { return &eventRing; }
  int getNEvent() const { return eventBlocks; }
  int getNBlock() const { return blockLength; }
  int getSampleRate() const { return sampleRate; }
  int getBlockNumberRange() const { return blockNumberRange; }
  int getOnsetLength() const { return onsetLength; }

  // PortAudio stream callback; userData is a CallbackContext. Returns 0.
  static int recordCallback(const void* input, void* output, unsigned long frameCount,
                            const PaStreamCallbackTimeInfo* timeInfo,
                            PaStreamCallbackFlags statusFlags, void* userData);

  void segmentize(const float* block);
  float testActivity(const float* block);
  void calculateNoiseParam();
  int getMinPoint(const float* from, const float* table, int stop, int size, bool useLimit) const;

  // Read-outs for tools and tests (same thread as the callback).
  int getBlockNumber() const { return blockNumber; }
  bool isInitPhase() const { return initPhase; }
  bool isSilent() const { return silent; }
  bool isActive() const { return active; }
  bool isInEvent() const { return inEvent; }
  bool isAfterEvent() const { return afterEvent; }
  int getBlockCount() const { return blockCount; }
  float getNoiseMean() const { return noiseMean; }
  float getNoiseSpread() const { return noiseSpread; }
  float getThreshold() const { return threshold; }
  float getPeakPower() const { return peakPower; }
  float getFloorPower() const { return floorPower; }
  float getTrough() const { return trough; }
  float getRebound() const { return rebound; }
  MRingBuffer& getNoiseHistory() { return noiseHistory; }
  float getPreEmphasis() const { return preEmphasis; }
  // Estimates made afresh because the adaptive update would have locked.
  uint64_t getFreshEstimates() const { return freshEstimates; }
  // Estimates refused as silence: the initial measurement started over.
  uint64_t getSilentRestarts() const { return silentRestarts; }
  // Blocks seen since construction, without the modulo (first block is 1).
  int64_t getTotalBlocks() const { return totalBlocks; }
  // Absolute number of the first block of the event written last.
  int64_t getLastEventFirstBlock() const { return lastEventFirstBlock; }
  // Events announced through newEvent, and events skipped because the ring
  // had no room for a whole event.
  uint64_t getReleasedEvents() const { return releasedEvents; }
  // Off: complete events are counted but newEvent is not released; for a
  // reader on the same thread that reads each event as it completes.
  void setAnnounce(bool on) { announce = on; }
  uint64_t getSkippedEvents() const { return skippedEvents; }

 private:
  void startEvent();
  void completionTest();
  float blockPower(const float* block);
  void clampThreshold();
  // Median and robust spread of the sorted values v[0..n-1], threshold from them.
  void estimateFrom(const float* sorted, int n);
  void estimateAfresh();
  void adoptSortedHistory();
  void restartIfSilent();

  int blockLength;
  int sampleRate;
  int eventBlocks;
  int adaptionBlocks;
  int initBlocks;
  int facVar;
  int facVarHysterese;
  MRingBuffer noiseHistory;
  MRingBuffer onsetPower;
  MRingBuffer onsetAudio;
  RingBuffer eventRing;
  bool initPhase = true;
  bool silent = false;  // the background was silence: measured again
  float noiseMean = 0.0f;
  float noiseSpread = 0.0f;
  float lowerQuartile = 3.4028235e38f;  // of the values the last estimate was made from
  float threshold = 3.4028235e38f;
  float alpha;
  float q;
  float* eventStorage = nullptr;
  int blockNumber = 0;
  bool inEvent = false;
  int blockCount = 0;
  bool active = false;
  bool afterEvent = false;
  float rebound = 0.0f;
  float trough = 0.0f;
  float peakPower = 0.0f;
  float floorPower = 0.0f;
  int blockNumberRange;
  float facAmplStartPointEvent;
  float facMinEvent;
  float facPeakConsecutiveEvents;
  bool updateThresh;
  float maxThresholdEnergy;
  float minThresholdEnergy = 0.0f;  // optional "MinThresholdEnergy"
  int64_t minGapBlocks = 0;          // optional "MinEventGap", in blocks

  int onsetLength;            // S
  float preEmphasis = 0.0f;   // optional "PreEmphasis"; 0 measures the plain block power
  float lastSample = 0.0f;    // pre-emphasis state across blocks
  float rawPower = 0.0f;      // the newest block's power without the filter (initial phase)
  int activeRun = 0;          // blocks active in a row since the last estimate
  uint64_t freshEstimates = 0;
  uint64_t silentRestarts = 0;
  bool discarding = false;    // the current event did not fit and is skipped
  bool announce = true;
  int64_t totalBlocks = 0;
  int64_t lastEventFirstBlock = 0;
  uint64_t releasedEvents = 0;
  uint64_t skippedEvents = 0;
};

}  // namespace classification
