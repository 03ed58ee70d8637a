#include "features/welch.h"

#include "features/stft.h"

namespace classification {

void MWelch::init(XmlNode* root, MFeatureExtractor* ext) {
  if (initialized) reset();
  extractor = ext;
  extractor->initFeature("MSTFT");
  auto* base = static_cast<MSTFT*>(extractor->getBase("MSTFT"));
  nfft = base->getNFFT();
  overlap = base->getOverlap();
  const int nBlock = cfg::getIntAtLeast(root, "AudioCapturing", "NBlock", 1);
  const int events = cfg::getIntAtLeast(root, "Event", "NEvent", 1);
  numFeatSequence = nfft / 2 + 1;
  features = new float[static_cast<size_t>(numFeatSequence)]();
  numFrames = stftFrameCount(nBlock, events, nfft, overlap);
  initialized = true;
}

void MWelch::processData() {
  const float* magnitudes = extractor->getBase(baseName)->getFeatures();
  const int bins = nfft / 2 + 1;
  for (int f = 0; f < numFrames; ++f) {
    const float* frame = magnitudes + static_cast<size_t>(f) * bins;
    for (int k = 0; k < bins; ++k) {
      const double m = frame[k];
      features[k] = static_cast<float>(static_cast<double>(features[k]) + m * m);
    }
  }
  normalizeSequence();
  needsProcessing = false;
}

void MWelch::normalizeSequence() {
  float sum = 0.0f;
  for (int k = 0; k < numFeatSequence; ++k) sum += features[k];
  for (int k = 0; k < numFeatSequence; ++k) features[k] = features[k] / sum;
}

void MWelch::resetData() {
  for (int k = 0; k < numFeatSequence; ++k) features[k] = 0.0f;
  needsProcessing = true;
}

void MWelch::reset() {
  if (!initialized) return;
  delete[] features;
  features = nullptr;
}

}  // namespace classification
