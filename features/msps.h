#pragma once

#include "features/feature.h"

namespace classification {

// Slope of the natural log of the block energy shares from the loudest block
// of the first half of the event to its end.
class MSPS : public MFeature {
 public:
  static constexpr int kMaxFitBlocks = 512;
  MSPS() : MFeature("AudioSignal") {}
  ~MSPS() override { reset(); }
  void processData() override;
  void init(XmlNode* root, MFeatureExtractor* extractor) override;
  void resetData() override;
  void reset() override;
  const float* getBlockEnergy() const { return blockEnergy; }

 private:
  float* blockEnergy = nullptr;
  float** pseudoInverses = nullptr;
  int numPseudoInverses = 0;
  int searchLength = 0;
  int nBlock = 0;
  int minFitLength = 0;
  int polyDegree = 1;
};

}  // namespace classification
