#pragma once

#include "features/feature.h"

#include <fftw3.h>

#include <map>

namespace classification {

// Magnitude spectra of Hamming-windowed frames of NFFT samples, frame after
// frame: numFrames x (NFFT/2 + 1) floats.
class MSTFT : public MFeature {
 public:
  MSTFT() : MFeature("AudioSignal") {}
  ~MSTFT() override;
  void processData() override;
  void init(XmlNode* root, MFeatureExtractor* extractor) override;
  void resetData() override { needsProcessing = true; }
  void reset() override;

  int getNFFT() const { return nfft; }
  bool getOverlap() const { return overlap; }
  int getNumFrames() const { return numFrames; }
  const float* getWindow() const { return window; }
  void append2Sequence(int& frame);
  void calcHammingWindow();
  void mapWindowFctPtr();

 private:
  float* window = nullptr;
  fftwf_complex* spectrumBuffer = nullptr;
  float* frameBuffer = nullptr;
  int nfft = 0;
  int numFrames = 0;
  bool overlap = false;
  float hopFactor = 1.0f;
  fftwf_plan plan = nullptr;
  std::string windowName;
  std::map<std::string, void (MSTFT::*)()> windowMap;
  bool windowed = false;
};

}  // namespace classification
