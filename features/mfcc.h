#pragma once

#include "features/feature.h"

#include <fftw3.h>

#include <vector>

namespace classification {

// Cepstral coefficients (DCT-II of the base-10 log energies) of a bank of 13
// linear and NumLog logarithmic triangular filters of equal area, applied to
// the Welch spectrum.
class MMFCC : public MFeature {
 public:
  struct melFilter {
    int startBin = 0;
    int endBin = -1;
    float* weights = nullptr;
    float lower = 0.0f, centre = 0.0f, upper = 0.0f;  // edges in Hz, for messages
  };

  MMFCC() : MFeature("MWelch") {}
  ~MMFCC() override;
  void processData() override;
  void init(XmlNode* root, MFeatureExtractor* extractor) override;
  void resetData() override;
  void reset() override;
  void calcEdges(int numLog);
  void calcFilterbank(int numLog);  // after calcEdges
  // Where a frequency falls among the FFT bins, in the filters' own rounding.
  float binPosition(float hz) const { return hz * static_cast<float>(nfft) / static_cast<float>(fs); }

  const std::vector<melFilter*>& getFilters() const { return filters; }
  int getNumFilters() const { return numFilters; }
  const float* getMelEnergies() const { return melEnergies; }
  const std::vector<float>& getEdges() const { return edges; }

 private:
  int nfft = 0;
  std::vector<melFilter*> filters;
  int fs = 0;
  fftwf_plan plan = nullptr;
  float* melEnergies = nullptr;
  float* cepstrum = nullptr;
  int numFilters = 0;
  std::vector<int> indices;
  std::vector<float> edges;
};

}  // namespace classification
