// Recomputes MFCC, centroid, flux, roll-off and both slopes with a plain
// double-precision implementation (direct DFT, textbook least squares) and
// compares with the extractor on generated events.
#include "feature_fixture.h"

#include <gtest/gtest.h>

#include <complex>

using namespace classification;

namespace {

struct Reference {
  int nfft, nBlock, nEvent, fs, numLog;
  std::vector<int> indices;

  std::vector<std::vector<double>> stft(const std::vector<float>& x) const {
    const int hop = nfft / 2, frames = 2 * (nBlock / nfft) * nEvent - 1, bins = nfft / 2 + 1;
    std::vector<std::vector<double>> mags(frames, std::vector<double>(bins));
    for (int f = 0; f < frames; ++f)
      for (int k = 0; k < bins; ++k) {
        std::complex<double> acc = 0;
        for (int n = 0; n < nfft; ++n) {
          const double w = 0.54 - 0.46 * std::cos(2 * M_PI * n / (nfft - 1));
          acc += x[f * hop + n] * w * std::polar(1.0, -2 * M_PI * k * n / nfft);
        }
        mags[f][k] = std::abs(acc);
      }
    return mags;
  }

  std::vector<double> mfcc(const std::vector<std::vector<double>>& mags) const {
    const int bins = nfft / 2 + 1;
    std::vector<double> p(bins, 0.0);
    double total = 0;
    for (const auto& frame : mags)
      for (int k = 0; k < bins; ++k) p[k] += frame[k] * frame[k];
    for (double v : p) total += v;
    for (double& v : p) v /= total;
    const int filters = numLog + 13;
    std::vector<double> edge(numLog + 15);
    for (int i = 0; i <= 12; ++i) edge[i] = 133.3333 + i * 200.0 / 3.0;
    for (int i = 13; i < numLog + 15; ++i) edge[i] = edge[12] * std::pow(1.0711703, i - 12);
    std::vector<double> logE(filters);
    for (int i = 0; i < filters; ++i) {
      const double lo = edge[i], c = edge[i + 1], hi = edge[i + 2], h = 2 / (hi - lo);
      double e = 0;
      for (int k = 0; k < bins; ++k) {
        const double f = static_cast<double>(k) * fs / nfft;
        if (f < lo || f > hi) continue;
        e += p[k] * (f <= c ? (f - lo) * h / (c - lo) : (hi - f) * h / (hi - c));
      }
      logE[i] = std::log10(e);
    }
    std::vector<double> out;
    for (int idx : indices) {
      const int k = idx - 1;
      double s = 0;
      for (int j = 0; j < filters; ++j) s += logE[j] * std::cos(M_PI * (j + 0.5) * k / filters);
      out.push_back(2 * s);
    }
    return out;
  }

  // Mean, sample variance, least-squares slope over t = 1..n.
  static std::vector<double> summarise(const std::vector<double>& s) {
    const double n = static_cast<double>(s.size());
    double mean = 0;
    for (double v : s) mean += v;
    mean /= n;
    double var = 0, st = 0, tt = 0;
    for (size_t t = 0; t < s.size(); ++t) {
      var += (s[t] - mean) * (s[t] - mean);
      const double dt = (t + 1) - (n + 1) / 2;
      st += dt * (s[t] - mean);
      tt += dt * dt;
    }
    return {mean, var / (n - 1), st / tt};
  }

  std::vector<double> descriptors(const std::vector<std::vector<double>>& mags) const {
    const int bins = nfft / 2 + 1;
    std::vector<double> centroid, flux, rolloff;
    for (size_t t = 0; t < mags.size(); ++t) {
      double num = 0, den = 0, energy = 0;
      for (int k = 0; k < bins; ++k) {
        num += k * mags[t][k];
        den += mags[t][k];
        energy += mags[t][k] * mags[t][k];
      }
      centroid.push_back(num / (den * bins));
      double run = 0;
      int k = 0;
      for (; k < bins; ++k) {
        run += mags[t][k] * mags[t][k];
        if (run >= 0.85 * energy) break;
      }
      rolloff.push_back(k + 1);
      double fl = 0;
      if (t + 1 < mags.size()) {
        double den2 = 0;
        for (int j = 0; j < bins; ++j) den2 += mags[t + 1][j];
        for (int j = 0; j < bins; ++j) {
          const double d = mags[t][j] / den - mags[t + 1][j] / den2;
          fl += d * d;
        }
      }
      flux.push_back(fl);
    }
    std::vector<double> out;
    for (const auto* seq : {&centroid, &flux, &rolloff})
      for (double v : summarise(*seq)) out.push_back(v);
    return out;
  }

  double msps(const std::vector<float>& x) const {
    std::vector<double> e(nEvent, 0.0);
    double total = 0;
    for (int b = 0; b < nEvent; ++b) {
      for (int i = 0; i < nBlock; ++i) e[b] += static_cast<double>(x[b * nBlock + i]) * x[b * nBlock + i];
      total += e[b];
    }
    const int search = (nEvent + 1) / 2;
    int s = 0;
    for (int b = 1; b < search; ++b)
      if (e[b] > e[s]) s = b;
    std::vector<double> y;
    for (int b = s; b < nEvent; ++b) y.push_back(std::log(e[b] / total));
    const double n = static_cast<double>(y.size());
    double mean = 0, st = 0, tt = 0;
    for (double v : y) mean += v;
    mean /= n;
    for (size_t b = 0; b < y.size(); ++b) {
      const double dt = b - (n - 1) / 2;
      st += dt * (y[b] - mean);
      tt += dt * dt;
    }
    return st / tt;
  }
};

}  // namespace

TEST(CrossCheck, FeaturesAgreeWithADoublePrecisionReference) {
  sctest::FeatureSetup s;  // NBlock 512, NEvent 10, NFFT 512 with overlap, NumLog 27
  auto config = s.config();
  MFeatureExtractor fe(config->system());
  ASSERT_EQ(fe.getFeatureVectorLength(), 12 + 9 + 1);
  const Reference ref{512, 512, 10, 44100, 27, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}};
  const double params[][3] = {{440, 1500, 6}, {2000, 7000, 20}, {150, 300, 1}, {5000, 9000, 12}};
  double worst = 0;
  for (unsigned i = 0; i < 4; ++i) {
    const auto x = sctest::testEvent(5120, 44100, params[i][0], params[i][1], params[i][2], i + 11);
    MEvent ev(10, 512, 1, x.data());
    fe.processEvent(&ev);
    const float* got = ev.getFeatures();
    const auto mags = ref.stft(x);
    std::vector<double> want = ref.mfcc(mags);
    for (double v : ref.descriptors(mags)) want.push_back(v);
    want.push_back(ref.msps(x));
    ASSERT_EQ(want.size(), 22u);
    for (size_t k = 0; k < want.size(); ++k) {
      // Relative to the magnitude of the value, with a floor for values
      // near zero (MFCC coefficients, slopes).
      const double scale = std::max(std::fabs(want[k]), k < 12 ? 1.0 : 1e-3);
      const double err = std::fabs(got[k] - want[k]) / scale;
      worst = std::max(worst, err);
      EXPECT_LT(err, 2e-4) << "event " << i << " entry " << k << ": " << got[k] << " vs " << want[k];
    }
  }
  RecordProperty("worst_relative_error", std::to_string(worst));
  std::printf("largest relative difference: %.3g\n", worst);
}
