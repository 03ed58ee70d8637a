#include "features/feature.h"

#include "features/descriptors.h"
#include "features/fftw_lock.h"
#include "features/mfcc.h"
#include "features/msps.h"
#include "features/stft.h"
#include "features/welch.h"

#include <cstring>

#include <fftw3.h>

namespace classification {

int stftFrameCount(int nBlock, int nEvent, int nfft, bool overlap) {
  const int k = nBlock / nfft;
  return overlap ? 2 * k * nEvent - 1 : k * nEvent;
}

MFeatureExtractor::MFeatureExtractor(XmlNode* root) {
  try {
    initFE(root);
  } catch (...) {
    resetFE();  // the destructor does not run for a failed constructor
    throw;
  }
  initialized = true;
}

std::mutex& fftwPlannerMutex() {
  static std::mutex m;
  return m;
}

namespace {
unsigned plannerFlags = FFTW_MEASURE;
}  // namespace

unsigned fftwPlannerFlags() { return plannerFlags; }
void setFftwPlannerFlags(unsigned flags) { plannerFlags = flags; }

MFeatureExtractor::~MFeatureExtractor() { resetFE(); }

void MFeatureExtractor::createFeatureMap() {
  featureMap["MSTFT"] = new MSTFT();
  featureMap["MWelch"] = new MWelch();
  featureMap["MMFCC"] = new MMFCC();
  featureMap["MCentroid"] = new MCentroid();
  featureMap["MFlux"] = new MFlux();
  featureMap["MSR"] = new MSR();
  featureMap["MSPS"] = new MSPS();
}

void MFeatureExtractor::initFE(XmlNode* root) {
  configRoot = root;
  // Tear down whatever an earlier (possibly failed) initialisation built.
  resetFE();
  createFeatureMap();
  featureVectorLength = 0;
  XmlNode* use = cfg::element(cfg::element(root, "FeatureExtractor"), "UseFeatures");
  for (XmlNode* child = use->first_node(); child; child = child->next_sibling()) {
    if (child->type() != rapidxml::node_element) continue;
    const std::string name = cfg::attribute(child, "Name");
    auto it = featureMap.find(name);
    if (it == featureMap.end())
      cfg::fail(child, "unknown feature \"" + name +
                           "\" (known: MSTFT, MWelch, MMFCC, MCentroid, MFlux, MSR, MSPS)");
    initFeature(name);
    usedFeatures.push_back(it->second);
    usedNames.push_back(name);
    featureVectorLength += it->second->getNumFeatSequence();
  }
  initialized = true;
}

void MFeatureExtractor::initFeature(const std::string& name) {
  if (name == "AudioSignal") return;
  auto it = featureMap.find(name);
  if (it == featureMap.end()) return;
  if (!it->second->isInitialized()) it->second->init(configRoot, this);
}

MFeature* MFeatureExtractor::getBase(const std::string& name) {
  auto it = featureMap.find(name);
  return it == featureMap.end() ? nullptr : it->second;
}

void MFeatureExtractor::processEvent(MEvent* event) {
  currentEvent = event;
  float* vector = new float[static_cast<size_t>(featureVectorLength)];
  float* next = vector;
  for (MFeature* f : usedFeatures) {
    const float* out = f->getFeatures();
    const int n = f->getNumFeatSequence();
    if (n > 0) std::memcpy(next, out, sizeof(float) * static_cast<size_t>(n));
    next += n;
  }
  event->setFeatures(vector);
  for (auto& [name, f] : featureMap)
    if (f && f->isInitialized()) f->resetData();
}

void MFeatureExtractor::resetFE() {
  for (auto& [name, f] : featureMap) delete f;
  featureMap.clear();
  usedFeatures.clear();
  usedNames.clear();
  featureVectorLength = 0;
}

}  // namespace classification
