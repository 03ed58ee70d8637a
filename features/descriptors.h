#pragma once

#include "features/feature.h"

namespace classification {

// A per-frame value of the STFT summarised by mean, sample variance and the
// slope of a least-squares line (each optional). The three descriptors
// differ only in the per-frame value and the name of their section.
class MSpectralDescriptor : public MFeature {
 public:
  static constexpr int kMaxSlopeFrames = 8192;
  explicit MSpectralDescriptor(const char* section) : MFeature("MSTFT"), sectionName(section) {}
  ~MSpectralDescriptor() override { reset(); }
  void processData() override;
  void init(XmlNode* root, MFeatureExtractor* extractor) override;
  void resetData() override;
  void reset() override;
  const float* getSequence() const { return sequence; }
  int getNumFrames() const { return numFrames; }

 protected:
  // Fills sequence (zero on entry) from the magnitudes of numFrames frames of
  // nfft/2 + 1 bins.
  virtual void fillSequence(const float* magnitudes) = 0;

  const char* sectionName;
  int nfft = 0;
  bool useMean = false;
  bool useVar = false;
  bool usePoly = false;
  float* sequence = nullptr;
  float* pseudoInverse = nullptr;
  int polyDegree = 1;
  int numFrames = 0;
};

// Spectral centroid as a fraction of the number of bins.
class MCentroid : public MSpectralDescriptor {
 public:
  MCentroid() : MSpectralDescriptor("MCentroid") {}

 protected:
  void fillSequence(const float* magnitudes) override;
};

// Squared distance between consecutive frames' normalised spectra; the last
// frame has no successor and keeps 0.
class MFlux : public MSpectralDescriptor {
 public:
  MFlux() : MSpectralDescriptor("MFlux") {}

 protected:
  void fillSequence(const float* magnitudes) override;
};

// Number of lowest bins holding 85 % of the frame's energy.
class MSR : public MSpectralDescriptor {
 public:
  MSR() : MSpectralDescriptor("MSR") {}

 protected:
  void fillSequence(const float* magnitudes) override;
};

}  // namespace classification
