#include "features/stft.h"

#include "features/fftw_lock.h"

#include <cmath>

namespace classification {

MSTFT::~MSTFT() {
  reset();
  windowMap.clear();
}

void MSTFT::init(XmlNode* root, MFeatureExtractor* ext) {
  if (initialized) reset();
  extractor = ext;
  windowName = "Hamming";
  XmlNode* section = cfg::element(cfg::element(root, "FeatureExtractor"), "MSTFT");
  XmlNode* nfftNode = cfg::element(section, "NFFT");
  nfft = static_cast<int>(cfg::integer(nfftNode));
  overlap = cfg::integer(cfg::element(section, "Overlap")) != 0;
  const int nBlock = cfg::getIntAtLeast(root, "AudioCapturing", "NBlock", 1);
  const int events = cfg::getIntAtLeast(root, "Event", "NEvent", 1);
  if (nfft < 2) cfg::fail(nfftNode, "must be at least 2");
  if (overlap && nfft > nBlock)
    cfg::fail(nfftNode, "must not exceed NBlock (" + std::to_string(nBlock) + ") with Overlap on");
  numFrames = stftFrameCount(nBlock, events, nfft, overlap);
  hopFactor = overlap ? 0.5f : 1.0f;

  numFeatSequence = numFrames * (nfft / 2 + 1);
  features = new float[static_cast<size_t>(numFeatSequence)];
  spectrumBuffer = fftwf_alloc_complex(static_cast<size_t>(nfft));
  frameBuffer = fftwf_alloc_real(static_cast<size_t>(nfft));

  mapWindowFctPtr();
  auto it = windowMap.find(windowName);
  if (it != windowMap.end()) {
    window = new float[static_cast<size_t>(nfft)];
    (this->*(it->second))();
    windowed = true;
  } else {
    windowName = "Rect";
    windowed = false;
  }
  {
    FftwPlannerLock lock;
    plan = fftwf_plan_dft_r2c_1d(nfft, frameBuffer, spectrumBuffer, fftwPlannerFlags());
  }
  initialized = true;
  extractor->initFeature("AudioSignal");
}

void MSTFT::calcHammingWindow() {
  for (int n = 0; n < nfft; ++n)
    window[n] = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * M_PI * n / (nfft - 1)));
}

void MSTFT::mapWindowFctPtr() { windowMap["Hamming"] = &MSTFT::calcHammingWindow; }

void MSTFT::processData() {
  const float* samples = extractor->getEvent()->getAudioData();
  const int hop = static_cast<int>(static_cast<float>(nfft) * hopFactor);
  for (int f = 0; f < numFrames; ++f) {
    const float* frame = samples + static_cast<size_t>(f) * hop;
    if (windowed)
      for (int n = 0; n < nfft; ++n) frameBuffer[n] = frame[n] * window[n];
    else
      for (int n = 0; n < nfft; ++n) frameBuffer[n] = frame[n];
    fftwf_execute(plan);
    append2Sequence(f);
  }
  needsProcessing = false;
}

void MSTFT::append2Sequence(int& frame) {
  const int bins = nfft / 2 + 1;
  float* out = features + static_cast<size_t>(frame) * bins;
  for (int k = 0; k < bins; ++k) {
    const double re = spectrumBuffer[k][0], im = spectrumBuffer[k][1];
    out[k] = static_cast<float>(std::sqrt(re * re + im * im));
  }
}

void MSTFT::reset() {
  if (!initialized) return;
  fftwf_free(spectrumBuffer);
  fftwf_free(frameBuffer);
  delete[] features;
  delete[] window;
  {
    FftwPlannerLock lock;
    if (plan) fftwf_destroy_plan(plan);
  }
  spectrumBuffer = nullptr;
  frameBuffer = nullptr;
  features = nullptr;
  window = nullptr;
  plan = nullptr;
}

}  // namespace classification
