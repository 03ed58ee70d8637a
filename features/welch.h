#pragma once

#include "features/feature.h"

namespace classification {

// Mean power spectrum over the STFT frames, scaled to unit sum.
class MWelch : public MFeature {
 public:
  MWelch() : MFeature("MSTFT") {}
  ~MWelch() override { reset(); }
  void processData() override;
  void init(XmlNode* root, MFeatureExtractor* extractor) override;
  void resetData() override;
  void reset() override;
  int getNFFT() const { return nfft; }
  void normalizeSequence();

 private:
  int numFrames = 0;
  bool overlap = false;
  int nfft = 0;
};

}  // namespace classification
