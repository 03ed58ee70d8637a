#include "features/mfcc.h"

#include "features/fftw_lock.h"
#include "features/welch.h"

#include <cmath>
#include <iostream>

namespace classification {

MMFCC::~MMFCC() { reset(); }

void MMFCC::init(XmlNode* root, MFeatureExtractor* ext) {
  if (initialized) reset();
  extractor = ext;
  extractor->initFeature("MWelch");
  nfft = static_cast<MWelch*>(extractor->getBase("MWelch"))->getNFFT();
  fs = cfg::getIntAtLeast(root, "AudioCapturing", "Fs", 1);
  XmlNode* section = cfg::element(cfg::element(root, "FeatureExtractor"), "MFCC");
  XmlNode* numLogNode = cfg::element(section, "NumLog");
  const long numLog = cfg::integer(numLogNode);
  if (numLog < 0 || numLog > 10000) cfg::fail(numLogNode, "must be between 0 and 10000");
  XmlNode* indicesNode = cfg::element(section, "Indices");
  const long elements = cfg::integer(indicesNode, "Elements");
  const std::vector<int> list = getArrayI(cfg::attribute(indicesNode, "Value"));
  if (elements < 0) cfg::fail(indicesNode, "\"Elements\" must not be negative");
  if (static_cast<long>(list.size()) < elements)
    cfg::fail(indicesNode, "\"Value\" holds " + std::to_string(list.size()) +
                               " indices, fewer than \"Elements\" (" + std::to_string(elements) + ")");
  for (long i = 0; i < elements; ++i)
    if (list[i] < 1 || list[i] > numLog + 13)
      cfg::fail(indicesNode, "index " + std::to_string(list[i]) + " outside 1 ... " +
                                 std::to_string(numLog + 13));

  // The top edge is checked before any filter is built: with many
  // logarithmic bands it lies far above any sampling rate, and a filter
  // reaching up there would ask for gigabytes of weights.
  calcEdges(static_cast<int>(numLog));
  const float top = edges.back();
  if (!(std::floor(binPosition(top)) <= static_cast<float>(nfft / 2)))
    cfg::fail(numLogNode, "the filter bank reaches " + std::to_string(top) +
                              " Hz, above half the sampling rate (bin " + std::to_string(nfft / 2) +
                              ")");
  initialized = true;
  calcFilterbank(static_cast<int>(numLog));
  for (size_t i = 0; i < filters.size(); ++i)
    if (filters[i]->endBin < filters[i]->startBin)
      std::cerr << "warning: " << cfg::documentOf(root) << ": FeatureExtractor/MFCC: mel filter "
                << i + 1 << " (" << filters[i]->lower << " - " << filters[i]->upper
                << " Hz) covers no FFT bin; every coefficient will be non-finite" << std::endl;

  melEnergies = fftwf_alloc_real(static_cast<size_t>(numFilters));
  cepstrum = fftwf_alloc_real(static_cast<size_t>(numFilters));
  numFeatSequence = static_cast<int>(elements);
  features = new float[static_cast<size_t>(numFeatSequence)];
  indices = list;
  {
    FftwPlannerLock lock;
    plan = fftwf_plan_r2r_1d(numFilters, melEnergies, cepstrum, FFTW_REDFT10, fftwPlannerFlags());
  }
  for (int i = 0; i < numFilters; ++i) melEnergies[i] = 0.0f;
}

void MMFCC::calcEdges(int numLog) {
  edges.assign(static_cast<size_t>(numLog) + 15, 0.0f);
  for (int i = 0; i <= 12; ++i) edges[i] = static_cast<float>(i) * 66.666664f + 133.3333f;
  for (int i = 13; i <= numLog + 14; ++i)
    edges[i] = static_cast<float>(static_cast<double>(edges[12]) *
                                  std::pow(static_cast<double>(1.0711703f), static_cast<double>(i - 12)));
}

void MMFCC::calcFilterbank(int numLog) {
  numFilters = numLog + 13;
  const float spacing = static_cast<float>(fs) / static_cast<float>(nfft);
  for (int i = 0; i < numFilters; ++i) {
    auto* filter = new melFilter;
    const float lower = edges[i], centre = edges[i + 1], upper = edges[i + 2];
    filter->lower = lower;
    filter->centre = centre;
    filter->upper = upper;
    filter->startBin =
        static_cast<int>(std::ceil(binPosition(lower)));
    filter->endBin =
        static_cast<int>(std::floor(binPosition(upper)));
    const int count = filter->endBin - filter->startBin + 1;
    filter->weights = new float[count > 0 ? static_cast<size_t>(count) : 0]();
    const float height = 2.0f / (upper - lower);
    auto binFrequency = [&](int k) {
      return static_cast<float>(k) * static_cast<float>(fs) / static_cast<float>(nfft);
    };
    for (int k = filter->startBin; k <= filter->endBin && binFrequency(k) <= centre; ++k)
      filter->weights[k - filter->startBin] = (binFrequency(k) - lower) * height / (centre - lower);
    for (int k = filter->endBin; k >= filter->startBin && binFrequency(k) > centre; --k)
      filter->weights[k - filter->startBin] =
          (upper - static_cast<float>(k) * spacing) * height / (upper - centre);
    filters.push_back(filter);
  }
}

void MMFCC::processData() {
  const float* spectrum = extractor->getBase(baseName)->getFeatures();
  for (int i = 0; i < numFilters; ++i) {
    const melFilter* f = filters[static_cast<size_t>(i)];
    for (int j = 0; j <= f->endBin - f->startBin; ++j)
      melEnergies[i] += spectrum[f->startBin + j] * f->weights[j];
    melEnergies[i] = std::log10(melEnergies[i]);
  }
  fftwf_execute(plan);
  for (int i = 0; i < numFeatSequence; ++i) features[i] = cepstrum[indices[static_cast<size_t>(i)] - 1];
  needsProcessing = false;
}

void MMFCC::resetData() {
  for (int i = 0; i < numFilters; ++i) melEnergies[i] = 0.0f;
  needsProcessing = true;
}

void MMFCC::reset() {
  if (!initialized) return;
  for (melFilter* f : filters) {
    delete[] f->weights;
    delete f;
  }
  filters.clear();
  fftwf_free(melEnergies);
  fftwf_free(cepstrum);
  delete[] features;
  {
    FftwPlannerLock lock;
    if (plan) fftwf_destroy_plan(plan);
  }
  melEnergies = cepstrum = features = nullptr;
  plan = nullptr;
}

}  // namespace classification
