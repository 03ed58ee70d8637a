// The feature registry: named features computed lazily from their bases
// ("AudioSignal" stands for the raw samples of the event), at most once per
// event, concatenated into the feature vector in configuration order.
#pragma once

#include "app/config.h"
#include "segmentation/event.h"

#include <map>
#include <string>
#include <vector>

namespace classification {

class MFeatureExtractor;

class MFeature {
 public:
  MFeature() : baseName("Invalid") {}
  explicit MFeature(const std::string& base) : baseName(base) {}
  virtual ~MFeature() = default;
  MFeature(const MFeature&) = delete;
  MFeature& operator=(const MFeature&) = delete;

  // Computes the output for the current event and clears needsProcessing.
  virtual void processData() = 0;
  // Reads the configuration, initialises the base, allocates every buffer
  // and fixes numFeatSequence. A second call resets first. Throws
  // ConfigError for a configuration outside the feature's limits.
  virtual void init(XmlNode* root, MFeatureExtractor* extractor) = 0;
  // Prepares for the next event: zeroes accumulators, marks stale.
  virtual void resetData() = 0;
  // The output array, computed first when stale.
  float* getFeatures() {
    if (needsProcessing) {
      processData();
      ++processCount;
    }
    return features;
  }
  // How often the output has been computed (shows that bases are shared).
  long getProcessCount() const { return processCount; }
  // Releases what init allocated (when initialised).
  virtual void reset() = 0;

  int getNumFeatSequence() const { return numFeatSequence; }
  bool isInitialized() const { return initialized; }
  const std::string& getBaseName() const { return baseName; }

 protected:
  std::string baseName;
  int nEvent = 0;
  int numFeatSequence = 0;
  bool initialized = false;
  bool needsProcessing = true;
  MFeatureExtractor* extractor = nullptr;
  float* features = nullptr;
  long processCount = 0;
};

class MFeatureExtractor {
 public:
  MFeatureExtractor() = default;
  explicit MFeatureExtractor(XmlNode* root);
  ~MFeatureExtractor();
  MFeatureExtractor(const MFeatureExtractor&) = delete;
  MFeatureExtractor& operator=(const MFeatureExtractor&) = delete;

  void initFE(XmlNode* root);
  void initFeature(const std::string& name);
  MFeature* getBase(const std::string& name);
  MEvent* getEvent() const { return currentEvent; }
  // Computes the event's feature vector and hands it to the event.
  void processEvent(MEvent* event);
  void resetFE();

  int getFeatureVectorLength() const { return featureVectorLength; }
  bool isInitialized() const { return initialized; }
  const std::vector<MFeature*>& getUsedFeatures() const { return usedFeatures; }
  const std::vector<std::string>& getUsedNames() const { return usedNames; }

 private:
  void createFeatureMap();

  bool initialized = false;
  std::map<std::string, MFeature*> featureMap;
  std::vector<MFeature*> usedFeatures;
  std::vector<std::string> usedNames;
  MEvent* currentEvent = nullptr;
  int featureVectorLength = 0;
  XmlNode* configRoot = nullptr;
};

// Frames per event for a frame length and the overlap flag:
// K = NBlock / NFFT; 2 K NEvent - 1 with overlap, K NEvent without.
int stftFrameCount(int nBlock, int nEvent, int nfft, bool overlap);

}  // namespace classification
