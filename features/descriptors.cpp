#include "features/descriptors.h"

#include "features/pseudoinverse.h"
#include "features/stft.h"

#include <cmath>
#include <vector>

namespace classification {

void MSpectralDescriptor::init(XmlNode* root, MFeatureExtractor* ext) {
  if (initialized) reset();
  extractor = ext;
  extractor->initFeature("MSTFT");
  auto* base = static_cast<MSTFT*>(extractor->getBase("MSTFT"));
  nfft = base->getNFFT();
  polyDegree = 1;
  XmlNode* section = cfg::element(cfg::element(root, "FeatureExtractor"), sectionName);
  useMean = cfg::integer(cfg::element(section, "Mean")) != 0;
  useVar = cfg::integer(cfg::element(section, "Var")) != 0;
  XmlNode* polyNode = cfg::element(section, "Poly");
  usePoly = cfg::integer(polyNode) != 0;
  numFeatSequence = (useMean ? 1 : 0) + (useVar ? 1 : 0) + (usePoly ? polyDegree : 0);
  nEvent = cfg::getIntAtLeast(root, "Event", "NEvent", 1);
  const int nBlock = cfg::getIntAtLeast(root, "AudioCapturing", "NBlock", 1);
  numFrames = stftFrameCount(nBlock, nEvent, nfft, base->getOverlap());
  if (usePoly && numFrames < polyDegree + 1)
    cfg::fail(polyNode, "the slope needs at least 2 STFT frames per event, the configuration gives " +
                            std::to_string(numFrames));
  // The fit's set-up costs numFrames^2 operations: beyond this a start takes minutes.
  if (usePoly && numFrames > kMaxSlopeFrames)
    cfg::fail(polyNode, "the slope fit over " + std::to_string(numFrames) + " STFT frames is too large (at most " +
                            std::to_string(kMaxSlopeFrames) + "; a larger NFFT or a smaller NEvent gives fewer)");

  float* pinv = nullptr;
  if (usePoly) {
    const int columns = polyDegree + 1;
    std::vector<float> V(static_cast<size_t>(numFrames) * columns);
    for (int t = 1; t <= numFrames; ++t)
      for (int p = 0; p < columns; ++p)
        V[static_cast<size_t>(t - 1) + static_cast<size_t>(p) * numFrames] =
            static_cast<float>(std::pow(static_cast<double>(t), static_cast<double>(p)));
    pinv = getPseudoInv(V.data(), numFrames, columns);
    if (!pinv) cfg::fail(polyNode, "the slope fit has no unique solution");
  }
  features = new float[static_cast<size_t>(numFeatSequence)]();
  sequence = new float[static_cast<size_t>(numFrames > 0 ? numFrames : 0)]();
  pseudoInverse = pinv;
  initialized = true;
}

void MSpectralDescriptor::processData() {
  fillSequence(extractor->getBase(baseName)->getFeatures());
  const int n = numFrames;
  int index = 0;
  float mean = 0.0f;
  if (useMean || useVar) {
    float sum = 0.0f;
    for (int t = 0; t < n; ++t) sum += sequence[t];
    mean = sum / static_cast<float>(n);
  }
  if (useMean) features[index++] = mean;
  if (useVar) {
    float v = 0.0f;
    for (int t = 0; t < n; ++t) {
      const double d = sequence[t] - mean;
      v = static_cast<float>(static_cast<double>(v) + d * d);
    }
    features[index++] = v / static_cast<float>(n - 1);
  }
  if (usePoly)
    for (int j = 1; j <= polyDegree; ++j)
      for (int t = 0; t < n; ++t)
        features[index + j - 1] += sequence[t] * pseudoInverse[static_cast<size_t>(j) * n + t];
  needsProcessing = false;
}

void MSpectralDescriptor::resetData() {
  for (int t = 0; t < numFrames; ++t) sequence[t] = 0.0f;
  for (int i = 0; i < numFeatSequence; ++i) features[i] = 0.0f;
  needsProcessing = true;
}

void MSpectralDescriptor::reset() {
  if (!initialized) return;
  delete[] sequence;
  delete[] features;
  delete[] pseudoInverse;
  sequence = features = pseudoInverse = nullptr;
}

void MCentroid::fillSequence(const float* magnitudes) {
  const int bins = nfft / 2 + 1;
  for (int t = 0; t < numFrames; ++t) {
    const float* frame = magnitudes + static_cast<size_t>(t) * bins;
    float denominator = 0.0f;
    for (int k = 0; k < bins; ++k) {
      sequence[t] += static_cast<float>(k) * frame[k];
      denominator += frame[k];
    }
    sequence[t] = sequence[t] / (denominator * static_cast<float>(bins));
  }
}

void MFlux::fillSequence(const float* magnitudes) {
  const int bins = nfft / 2 + 1;
  if (numFrames < 1) return;
  auto frameSum = [&](int t) {
    const float* frame = magnitudes + static_cast<size_t>(t) * bins;
    float s = 0.0f;
    for (int k = 0; k < bins; ++k) s += frame[k];
    return s;
  };
  float sumNow = frameSum(0);
  for (int t = 0; t + 1 < numFrames; ++t) {
    const float sumNext = frameSum(t + 1);
    const float* now = magnitudes + static_cast<size_t>(t) * bins;
    const float* next = now + bins;
    for (int k = 0; k < bins; ++k) {
      const float d = now[k] / sumNow - next[k] / sumNext;
      const double dd = d;
      sequence[t] = static_cast<float>(static_cast<double>(sequence[t]) + dd * dd);
    }
    sumNow = sumNext;
  }
}

void MSR::fillSequence(const float* magnitudes) {
  const int bins = nfft / 2 + 1;
  for (int t = 0; t < numFrames; ++t) {
    const float* frame = magnitudes + static_cast<size_t>(t) * bins;
    float energy = 0.0f;
    for (int k = 0; k < bins; ++k) {
      const double m = frame[k];
      energy = static_cast<float>(static_cast<double>(energy) + m * m);
    }
    const double limit = 0.85 * static_cast<double>(energy);
    if (!(limit > 0.0)) {
      sequence[t] = 0.0f;
      continue;
    }
    float running = 0.0f;
    int k = 0;
    for (; k < bins; ++k) {
      const double m = frame[k];
      running = static_cast<float>(static_cast<double>(running) + m * m);
      if (static_cast<double>(running) >= limit) break;
    }
    if (k == bins) k = bins - 1;
    sequence[t] = static_cast<float>(k + 1);
  }
}

}  // namespace classification
