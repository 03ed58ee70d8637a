// Builds a feature extractor from a system document with the given
// "FeatureExtractor" content and capture settings.
#pragma once

#include "features/feature.h"
#include "tests/support/testconfig.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace sctest {

struct FeatureSetup {
  int nBlock = 512, fs = 44100, nEvent = 10, nfft = 512, overlap = 1, numLog = 27;
  std::string use = R"(<F Name="MMFCC"/><F Name="MCentroid"/><F Name="MFlux"/><F Name="MSR"/><F Name="MSPS"/>)";
  std::string indices = R"(Elements="12" Value="2 3 4 5 6 7 8 9 10 11 12 13")";
  std::string mean = "1", var = "1", poly = "1";

  std::string features() const {
    const std::string summary = "<Mean Value=\"" + mean + "\"/><Var Value=\"" + var +
                                "\"/><Poly Value=\"" + poly + "\"/>";
    return "<UseFeatures>" + use + "</UseFeatures><MSTFT><NFFT Value=\"" + std::to_string(nfft) +
           "\"/><Overlap Value=\"" + std::to_string(overlap) + "\"/></MSTFT><MFCC><NumLog Value=\"" +
           std::to_string(numLog) + "\"/><Indices " + indices + "/></MFCC><MCentroid>" + summary +
           "</MCentroid><MFlux>" + summary + "</MFlux><MSR>" + summary + "</MSR>";
  }
  std::unique_ptr<TestConfig> config() const {
    return std::make_unique<TestConfig>(
        Overrides{{"AudioCapturing/NBlock", std::to_string(nBlock)},
                  {"AudioCapturing/Fs", std::to_string(fs)},
                  {"Event/NEvent", std::to_string(nEvent)}},
        features());
  }
};

// Deterministic test signal: decaying partials plus a little noise.
inline std::vector<float> testEvent(int n, int fs, double f1, double f2, double decay,
                                    unsigned seed) {
  std::vector<float> x(static_cast<size_t>(n));
  unsigned state = seed * 2654435761u + 1;
  for (int i = 0; i < n; ++i) {
    state = state * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.02;
    const double t = static_cast<double>(i) / fs;
    x[static_cast<size_t>(i)] = static_cast<float>(
        std::exp(-decay * t) * (0.5 * std::sin(2 * M_PI * f1 * t) + 0.25 * std::sin(2 * M_PI * f2 * t)) +
        noise);
  }
  return x;
}

}  // namespace sctest
