#include "features/msps.h"

#include "features/pseudoinverse.h"

#include <cmath>
#include <vector>

namespace classification {

void MSPS::init(XmlNode* root, MFeatureExtractor* ext) {
  if (initialized) reset();
  extractor = ext;
  numFeatSequence = 1;
  polyDegree = 1;
  XmlNode* nEventNode = cfg::element(cfg::element(root, "Event"), "NEvent");
  nEvent = cfg::getIntAtLeast(root, "Event", "NEvent", 1);
  if (nEvent < 2) cfg::fail(nEventNode, "must be at least 2 for the feature MSPS");
  // One fit per start block, each costing NEvent^2 operations to set up.
  if (nEvent > kMaxFitBlocks)
    cfg::fail(nEventNode, "must be at most " + std::to_string(kMaxFitBlocks) + " for the feature MSPS");
  searchLength = static_cast<int>(std::ceil(nEvent * 0.5));
  nBlock = cfg::getIntAtLeast(root, "AudioCapturing", "NBlock", 1);
  minFitLength = nEvent - searchLength + 1;
  if (minFitLength <= polyDegree) minFitLength = polyDegree + 1;

  numPseudoInverses = nEvent - minFitLength + 1;
  features = new float[1]();
  blockEnergy = new float[static_cast<size_t>(nEvent)]();
  pseudoInverses = new float*[static_cast<size_t>(numPseudoInverses)]();
  initialized = true;
  for (int i = 0; i < numPseudoInverses; ++i) {
    const int length = nEvent - i;
    const int columns = polyDegree + 1;
    std::vector<float> V(static_cast<size_t>(length) * columns);
    for (int b = 0; b < length; ++b)
      for (int p = 0; p < columns; ++p)
        V[static_cast<size_t>(b) + static_cast<size_t>(p) * length] =
            static_cast<float>(std::pow(static_cast<double>(b), static_cast<double>(p)));
    pseudoInverses[i] = getPseudoInv(V.data(), length, columns);
  }
  extractor->initFeature("AudioSignal");
}

void MSPS::processData() {
  const float* samples = extractor->getEvent()->getAudioData();
  float total = 0.0f;
  for (int i = 0; i < nEvent; ++i) {
    const float* block = samples + static_cast<size_t>(i) * nBlock;
    for (int n = 0; n < nBlock; ++n) {
      const double x = block[n];
      blockEnergy[i] = static_cast<float>(static_cast<double>(blockEnergy[i]) + x * x);
    }
    total += blockEnergy[i];
  }
  for (int i = 0; i < nEvent; ++i) blockEnergy[i] = blockEnergy[i] / total;

  int start = 0;
  if (searchLength >= 2)
    for (int i = 1; i < searchLength; ++i)
      if (blockEnergy[i] > blockEnergy[start]) start = i;
  int length = nEvent - start;
  if (length < minFitLength) {
    start = 0;
    length = nEvent;
  }
  const float* P = pseudoInverses[start];
  for (int j = 1; j <= polyDegree; ++j)
    for (int b = 0; b < length; ++b)
      features[j - 1] = static_cast<float>(
          static_cast<double>(features[j - 1]) +
          std::log(static_cast<double>(blockEnergy[start + b])) *
              static_cast<double>(P[static_cast<size_t>(j) * length + b]));
  needsProcessing = false;
}

void MSPS::resetData() {
  for (int i = 0; i < nEvent; ++i) blockEnergy[i] = 0.0f;
  features[0] = 0.0f;
  needsProcessing = true;
}

void MSPS::reset() {
  if (!initialized) return;
  delete[] blockEnergy;
  delete[] features;
  for (int i = 0; i < numPseudoInverses; ++i) delete[] pseudoInverses[i];
  delete[] pseudoInverses;
  blockEnergy = features = nullptr;
  pseudoInverses = nullptr;
  numPseudoInverses = 0;
}

}  // namespace classification
