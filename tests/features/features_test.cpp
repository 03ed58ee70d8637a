#include "feature_fixture.h"
#include "features/descriptors.h"
#include "features/mfcc.h"
#include "features/msps.h"
#include "features/pseudoinverse.h"
#include "features/stft.h"
#include "features/welch.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <numeric>

extern "C" void sgels_(const char* trans, const int* m, const int* n, const int* nrhs, float* a,
                       const int* lda, float* b, const int* ldb, float* work, const int* lwork,
                       int* info, std::size_t transLength);

using namespace classification;
using sctest::FeatureSetup;

namespace {

struct Extracted {
  FeatureSetup setup;
  std::unique_ptr<sctest::TestConfig> config;
  std::unique_ptr<MFeatureExtractor> fe;
  MEvent event(const std::vector<float>& x) const { return MEvent(setup.nEvent, setup.nBlock, 1, x.data()); }
  // The feature vector of one event with these samples.
  std::vector<float> run(const std::vector<float>& x) const {
    MEvent ev = event(x);
    fe->processEvent(&ev);
    return std::vector<float>(ev.getFeatures(), ev.getFeatures() + fe->getFeatureVectorLength());
  }
};

Extracted build(const FeatureSetup& s) {
  Extracted e{s, s.config(), nullptr};
  e.fe = std::make_unique<MFeatureExtractor>(e.config->system());
  return e;
}

}  // namespace

TEST(STFT, FrameCountsAndSizes) {
  FeatureSetup s;
  s.nfft = 256;
  s.use = R"(<F Name="MSTFT"/>)";
  auto e = build(s);
  auto* stft = static_cast<MSTFT*>(e.fe->getBase("MSTFT"));
  EXPECT_EQ(stft->getNumFrames(), 39);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 5031);
  s.overlap = 0;
  e = build(s);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 2580);
  // Odd NFFT with overlap: (NFFT-1)/2 hop, NFFT/2 + 1 bins.
  s.nfft = 255;
  s.overlap = 1;
  e = build(s);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), (2 * 2 * 10 - 1) * 128);
  // NFFT > NBlock without overlap: no frames at all.
  s.nfft = 1024;
  s.overlap = 0;
  e = build(s);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 0);
}

TEST(STFT, FramesCoverOnlyWholeMultiplesOfNFFT) {
  FeatureSetup s;
  s.nfft = 300;
  s.overlap = 0;
  s.use = R"(<F Name="MSTFT"/>)";
  auto e = build(s);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 10 * 151);
  std::vector<float> x(5120, 0.0f);
  for (int i = 3000; i < 5120; ++i) x[i] = 1.0f;  // beyond the analysed part
  const auto ev = e.run(x);
  for (int i = 0; i < 10 * 151; ++i) ASSERT_EQ(ev[i], 0.0f);
  x[2999] = 1.0f;
  const auto ev2 = e.run(x);
  EXPECT_GT(ev2[9 * 151], 0.0f);
}

TEST(STFT, WindowAndConstantFrame) {
  FeatureSetup s;
  s.nfft = 64;
  s.use = R"(<F Name="MSTFT"/>)";
  auto e = build(s);
  auto* stft = static_cast<MSTFT*>(e.fe->getBase("MSTFT"));
  const float* w = stft->getWindow();
  EXPECT_FLOAT_EQ(w[0], 0.08f);
  EXPECT_FLOAT_EQ(w[63], 0.08f);
  EXPECT_EQ(w[10], w[53]);  // symmetric
  double sum = 0;
  for (int n = 0; n < 64; ++n) sum += w[n];
  std::vector<float> x(5120, -0.5f);
  const auto ev = e.run(x);
  EXPECT_NEAR(ev[0], 0.5 * sum, 1e-4);
  std::vector<float> zeros(5120, 0.0f);
  const auto z = e.run(zeros);
  for (int i = 0; i < e.fe->getFeatureVectorLength(); ++i) ASSERT_EQ(z[i], 0.0f);
}

TEST(Welch, SumsToOneWhateverTheLevel) {
  FeatureSetup s;
  s.use = R"(<F Name="MWelch"/>)";
  auto e = build(s);
  auto x = sctest::testEvent(5120, 44100, 1000, 3000, 8, 1);
  const auto a = e.run(x);
  const int n = e.fe->getFeatureVectorLength();
  EXPECT_EQ(n, 257);
  double total = std::accumulate(a.begin(), a.begin() + n, 0.0);
  EXPECT_NEAR(total, 1.0, 1e-5);
  for (float& v : x) v *= 2;
  const auto b = e.run(x);
  for (int k = 0; k < n; ++k) ASSERT_EQ(a[k], b[k]);
  // A sinusoid on a bin puts nearly all weight there and beside it.
  std::vector<float> sine(5120);
  for (int i = 0; i < 5120; ++i) sine[i] = std::sin(2 * M_PI * 20 * i / 512.0);
  const auto c = e.run(sine);
  EXPECT_GT(c[19] + c[20] + c[21], 0.99f);
  // Silence: 0/0 everywhere.
  std::vector<float> zeros(5120, 0.0f);
  const auto d = e.run(zeros);
  EXPECT_TRUE(std::isnan(d[3]));
}

TEST(MFCC, FilterBankEdgesAndBins) {
  FeatureSetup s;
  s.use = R"(<F Name="MMFCC"/>)";
  auto e = build(s);
  auto* mfcc = static_cast<MMFCC*>(e.fe->getBase("MMFCC"));
  const auto& f = mfcc->getEdges();
  ASSERT_EQ(f.size(), 42u);
  EXPECT_NEAR(f[0], 133.33f, 0.01f);
  EXPECT_NEAR(f[1], 200.0f, 1e-4f);
  EXPECT_NEAR(f[12], 933.33f, 0.01f);
  EXPECT_NEAR(f[13], 999.76f, 0.01f);
  EXPECT_NEAR(f[14], 1070.91f, 0.01f);
  EXPECT_NEAR(f[41], 6853.84f, 0.01f);
  EXPECT_EQ(mfcc->getNumFilters(), 40);
  // 62.5 Hz bins: the first filter covers bins 3 (rising) and 4 (falling).
  s.fs = 16000;
  s.nfft = 256;
  s.nBlock = 256;
  s.numLog = 0;
  s.indices = R"(Elements="1" Value="1")";
  e = build(s);
  mfcc = static_cast<MMFCC*>(e.fe->getBase("MMFCC"));
  const auto* first = mfcc->getFilters()[0];
  EXPECT_EQ(first->startBin, 3);
  EXPECT_EQ(first->endBin, 4);
  const float height = 2.0f / (first->upper - first->lower);
  EXPECT_EQ(first->weights[0], (187.5f - first->lower) * height / (first->centre - first->lower));
  EXPECT_EQ(first->weights[1], (first->upper - 250.0f) * height / (first->upper - first->centre));
  EXPECT_EQ(mfcc->getNumFilters(), 13);
  // The last of 13 filters is centred on 999.76 Hz and ends at 1070.91 Hz.
  EXPECT_NEAR(mfcc->getFilters()[12]->centre, 999.76f, 0.01f);
  EXPECT_NEAR(mfcc->getFilters()[12]->upper, 1070.91f, 0.01f);
}

TEST(MFCC, ZerothCoefficientIsTwiceTheSumOfLogEnergies) {
  FeatureSetup s;
  s.use = R"(<F Name="MMFCC"/>)";
  s.indices = R"(Elements="1" Value="1")";
  auto e = build(s);
  auto* mfcc = static_cast<MMFCC*>(e.fe->getBase("MMFCC"));
  auto x = sctest::testEvent(5120, 44100, 440, 2500, 5, 3);
  const auto ev = e.run(x);
  // Recompute by hand from the Welch spectrum.
  FeatureSetup w = s;
  w.use = R"(<F Name="MWelch"/>)";
  auto we = build(w);
  const auto ev2 = we.run(x);
  double sum = 0;
  for (const auto* f : mfcc->getFilters()) {
    float energy = 0;
    for (int j = 0; j <= f->endBin - f->startBin; ++j) energy += ev2[f->startBin + j] * f->weights[j];
    sum += std::log10(energy);
  }
  EXPECT_NEAR(ev[0], 2 * sum, 1e-3 * std::fabs(sum));
}

namespace {
// Exposes the per-frame values of the descriptors for hand-made spectra.
template <typename Base>
struct Probe : Base {
  using Base::fillSequence;
  using Base::getSequence;
};
}  // namespace

TEST(Descriptors, SingleBinFramesGiveRollOffAndCentroid) {
  FeatureSetup s;
  s.nfft = 16;  // K = 8, 9 bins
  s.use = R"(<F Name="MSTFT"/>)";
  auto e = build(s);
  Probe<MCentroid> centroid;
  Probe<MSR> rolloff;
  centroid.init(e.config->system(), e.fe.get());
  rolloff.init(e.config->system(), e.fe.get());
  const int frames = centroid.getNumFrames();
  std::vector<float> mags(static_cast<size_t>(frames) * 9, 0.0f);
  for (int t = 0; t < frames; ++t) mags[t * 9 + (t % 9)] = 3.0f + t;
  centroid.fillSequence(mags.data());
  rolloff.fillSequence(mags.data());
  for (int t = 0; t < frames; ++t) {
    EXPECT_FLOAT_EQ(centroid.getSequence()[t], (t % 9) / 9.0f);
    EXPECT_EQ(rolloff.getSequence()[t], (t % 9) + 1.0f);
  }
  // A silent frame: centroid NaN, roll-off 0.
  centroid.resetData();
  rolloff.resetData();
  std::fill(mags.begin(), mags.begin() + 9, 0.0f);
  centroid.fillSequence(mags.data());
  rolloff.fillSequence(mags.data());
  EXPECT_TRUE(std::isnan(centroid.getSequence()[0]));
  EXPECT_EQ(rolloff.getSequence()[0], 0.0f);
}

TEST(Descriptors, FluxBetweenProportionalSpectraIsZero) {
  FeatureSetup s;
  s.nfft = 16;
  s.use = R"(<F Name="MSTFT"/>)";
  auto e = build(s);
  Probe<MFlux> flux;
  flux.init(e.config->system(), e.fe.get());
  const int frames = flux.getNumFrames();
  std::vector<float> mags(static_cast<size_t>(frames) * 9);
  for (int t = 0; t < frames; ++t)
    for (int k = 0; k < 9; ++k) mags[t * 9 + k] = (k + 1) * (t < 5 ? 0.5f : 2.0f);
  mags[7 * 9 + 2] = 50.0f;  // frames 6-7 and 7-8 differ
  flux.fillSequence(mags.data());
  for (int t = 0; t < frames; ++t) {
    if (t == 6 || t == 7) EXPECT_GT(flux.getSequence()[t], 0.01f);
    else EXPECT_EQ(flux.getSequence()[t], 0.0f) << t;
  }
}

namespace {
// A descriptor whose per-frame value is a chosen sequence.
struct LinearSequence : MCentroid {
  float start = 0, step = 0;
  void fillSequence(const float*) override {
    for (int t = 0; t < numFrames; ++t) sequence[t] = start + step * t;
  }
};
}  // namespace

TEST(Descriptors, SummariesOfALinearSequence) {
  FeatureSetup s;
  s.use = R"(<F Name="MSTFT"/>)";
  s.nfft = 256;  // 39 frames
  auto e = build(s);
  LinearSequence lin;
  lin.init(e.config->system(), e.fe.get());
  lin.start = 2.0f;
  lin.step = 0.25f;
  std::vector<float> x(5120, 0.1f);
  MEvent ev = e.event(x);
  e.fe->processEvent(&ev);  // makes ev the current event
  const int n = lin.getNumFrames();
  ASSERT_EQ(n, 39);
  const float* out = lin.getFeatures();
  EXPECT_FLOAT_EQ(out[0], 2.0f + 0.25f * (n - 1) / 2.0f);
  EXPECT_NEAR(out[1], 0.25 * 0.25 * n * (n + 1) / 12.0, 1e-5);
  EXPECT_NEAR(out[2], 0.25f, 1e-5f);
  lin.resetData();
  lin.step = 0.0f;
  out = lin.getFeatures();
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_NEAR(out[2], 0.0f, 1e-6f);
}

TEST(Descriptors, EnabledSummariesSetTheLength) {
  FeatureSetup s;
  s.use = R"(<F Name="MCentroid"/>)";
  s.mean = s.var = s.poly = "0";
  EXPECT_EQ(build(s).fe->getFeatureVectorLength(), 0);
  s.var = "1";
  EXPECT_EQ(build(s).fe->getFeatureVectorLength(), 1);
  s.mean = s.poly = "7";
  EXPECT_EQ(build(s).fe->getFeatureVectorLength(), 3);
}

TEST(MSPS, GeometricDecayGivesLogOfTheRatio) {
  FeatureSetup s;
  s.use = R"(<F Name="MSPS"/>)";
  s.nBlock = 64;
  s.nfft = 64;
  auto e = build(s);
  const double q = 0.6;
  std::vector<float> x(640);
  // Block 2 is the loudest of the first five; from there energy falls by q.
  const double amps[10] = {0.1, 0.3, 1.0, 0, 0, 0, 0, 0, 0, 0};
  for (int b = 0; b < 10; ++b) {
    const double a = b < 3 ? amps[b] : std::sqrt(std::pow(q, b - 2));
    for (int i = 0; i < 64; ++i) x[b * 64 + i] = static_cast<float>(a);
  }
  const auto ev = e.run(x);
  EXPECT_NEAR(ev[0], std::log(q), 1e-4);
  // Scaling by two changes nothing at all.
  for (float& v : x) v *= 2;
  const auto ev2 = e.run(x);
  EXPECT_EQ(ev[0], ev2[0]);
  // The loudest block in the second half is not searched: the fit still
  // runs from block 2 over blocks 2..9.
  for (int i = 0; i < 64; ++i) x[8 * 64 + i] = 10.0f;
  const auto ev3 = e.run(x);
  std::vector<double> energy(10, 0.0);
  double total = 0;
  for (int b = 0; b < 10; ++b) {
    for (int i = 0; i < 64; ++i) energy[b] += double(x[b * 64 + i]) * x[b * 64 + i];
    total += energy[b];
  }
  double mean = 0, st = 0, tt = 0;
  for (int b = 2; b < 10; ++b) mean += std::log(energy[b] / total) / 8;
  for (int b = 2; b < 10; ++b) {
    st += (b - 5.5) * (std::log(energy[b] / total) - mean);
    tt += (b - 5.5) * (b - 5.5);
  }
  EXPECT_NEAR(ev3[0], st / tt, 1e-4);
}

TEST(PseudoInverse, FitsALine) {
  const int m = 5;
  std::vector<float> V(2 * m);
  for (int t = 0; t < m; ++t) {
    V[t] = 1.0f;
    V[t + m] = static_cast<float>(t + 1);
  }
  std::unique_ptr<float[]> P(getPseudoInv(V.data(), m, 2));
  ASSERT_TRUE(P);
  const float y[m] = {3, 5, 7, 9, 11};  // 1 + 2 t
  double c0 = 0, c1 = 0;
  for (int j = 0; j < m; ++j) {
    c0 += P[j] * y[j];
    c1 += P[m + j] * y[j];
  }
  EXPECT_NEAR(c0, 1.0, 1e-4);
  EXPECT_NEAR(c1, 2.0, 1e-4);
  std::vector<float> singular(2 * m, 0.0f);  // a zero column: rank 1
  for (int t = 0; t < m; ++t) singular[t] = 1.0f;
  EXPECT_EQ(getPseudoInv(singular.data(), m, 2), nullptr);
}

// Solved in slabs of columns, the pseudo-inverse must equal the one solve
// against the whole identity, bit for bit, across slab boundaries.
TEST(PseudoInverse, SlabsEqualTheWholeSolve) {
  const int m = 600, n = 2;
  std::vector<float> V(static_cast<size_t>(n) * m);
  for (int t = 0; t < m; ++t) {
    V[t] = 1.0f;
    V[t + m] = static_cast<float>(t + 1);
  }
  std::vector<float> A(V), B(static_cast<size_t>(m) * m, 0.0f);
  for (int i = 0; i < m; ++i) B[static_cast<size_t>(i) * m + i] = 1.0f;
  int info = 0, lwork = -1, mm = m, nn = n;
  float query = 0.0f;
  sgels_("N", &mm, &nn, &mm, A.data(), &mm, B.data(), &mm, &query, &lwork, &info, 1);
  lwork = static_cast<int>(query);
  std::vector<float> work(static_cast<size_t>(lwork));
  sgels_("N", &mm, &nn, &mm, A.data(), &mm, B.data(), &mm, work.data(), &lwork, &info, 1);
  ASSERT_EQ(info, 0);
  std::unique_ptr<float[]> P(getPseudoInv(V.data(), m, n));
  ASSERT_TRUE(P);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j)
      ASSERT_EQ(P[static_cast<size_t>(i) * m + j], B[i + static_cast<size_t>(j) * m]) << i << "," << j;
}

TEST(Registry, LayoutSharingAndReinitialisation) {
  FeatureSetup s;
  s.use = R"(<F Name="MMFCC"/><F Name="MCentroid"/><F Name="MSPS"/>)";
  auto e = build(s);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 16);
  // Listed twice: twice in the vector, computed once.
  s.use = R"(<F Name="MFlux"/><G Name="MSR"/><F Name="MFlux"/><F Name="MCentroid"/><F Name="MWelch"/>)";
  e = build(s);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 3 + 3 + 3 + 3 + 257);
  auto x = sctest::testEvent(5120, 44100, 700, 5000, 3, 9);
  for (int round = 1; round <= 3; ++round) {
    const auto ev = e.run(x);
    EXPECT_EQ(e.fe->getBase("MSTFT")->getProcessCount(), round);
    EXPECT_EQ(e.fe->getBase("MFlux")->getProcessCount(), round);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ev[i], ev[6 + i]);
  }
  // Only MWelch listed: the STFT is still computed for every event.
  s.use = R"(<F Name="MWelch"/>)";
  e = build(s);
  EXPECT_TRUE(e.fe->getBase("MSTFT")->isInitialized());
  EXPECT_FALSE(e.fe->getBase("MCentroid")->isInitialized());
  // Empty list: empty vectors.
  s.use = "";
  e = build(s);
  MEvent ev = e.event(x);
  e.fe->processEvent(&ev);
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 0);
  EXPECT_NE(ev.getFeatures(), nullptr);
  // A second initFE rebuilds everything from the new root.
  FeatureSetup other;
  other.use = R"(<F Name="MSPS"/>)";
  auto c = other.config();
  e.fe->initFE(c->system());
  EXPECT_EQ(e.fe->getFeatureVectorLength(), 1);
  EXPECT_NE(e.fe->getBase("MSTFT"), nullptr);
  EXPECT_FALSE(e.fe->getBase("MSTFT")->isInitialized());
}

TEST(Configuration, OutOfLimitSettingsAreRejected) {
  using Change = void (*)(FeatureSetup&);
  const std::vector<std::pair<const char*, Change>> cases = {
      {"unknown name", [](FeatureSetup& s) { s.use = R"(<F Name="MFCC"/>)"; }},
      {"no Name", [](FeatureSetup& s) { s.use = R"(<F Nome="MSR"/>)"; }},
      {"NFFT 1", [](FeatureSetup& s) { s.nfft = 1, s.overlap = 0; }},
      {"NFFT > NBlock with overlap", [](FeatureSetup& s) { s.nfft = 1024; }},
      {"filters above Fs/2", [](FeatureSetup& s) { s.fs = 8000; }},
      {"short Indices", [](FeatureSetup& s) { s.indices = R"(Elements="3" Value="1 2")"; }},
      {"index out of range", [](FeatureSetup& s) { s.indices = R"(Elements="2" Value="1 41")"; }},
      {"Poly with one frame",
       [](FeatureSetup& s) { s.nEvent = 1, s.use = R"(<F Name="MCentroid"/>)", s.nfft = 512, s.overlap = 0; }},
      {"MSPS with NEvent 1", [](FeatureSetup& s) { s.nEvent = 1, s.use = R"(<F Name="MSPS"/>)"; }},
      // Set-ups that would take minutes and gigabytes (NFFT 3 once asked for 12 GB).
      {"MSPS over too many blocks", [](FeatureSetup& s) { s.nEvent = 513, s.use = R"(<F Name="MSPS"/>)"; }},
      {"slope over too many frames",
       [](FeatureSetup& s) { s.nEvent = 100, s.nfft = 3, s.overlap = 0, s.use = R"(<F Name="MCentroid"/>)"; }},
      // The top band near 1.6e13 Hz: its weights alone were 555 MB.
      {"log bands far above Fs/2", [](FeatureSetup& s) { s.numLog = 341, s.use = R"(<F Name="MMFCC"/>)"; }},
      // The top edge overflows to infinity.
      {"log bands up to infinity", [](FeatureSetup& s) { s.numLog = 10000, s.use = R"(<F Name="MMFCC"/>)"; }},
  };
  for (const auto& [what, change] : cases) {
    FeatureSetup s;
    change(s);
    auto config = s.config();
    EXPECT_THROW(MFeatureExtractor(config->system()), ConfigError) << what;
  }
}

TEST(Configuration, EmptyFilterIsWarnedAbout) {
  FeatureSetup s;
  s.nfft = 64;  // 689 Hz bins: the narrow low filters hold no bin
  s.use = R"(<F Name="MMFCC"/>)";
  testing::internal::CaptureStderr();
  auto e = build(s);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("warning:"), std::string::npos);
  EXPECT_NE(err.find("covers no FFT bin"), std::string::npos);
  std::vector<float> x = sctest::testEvent(5120, 44100, 300, 900, 2, 4);
  const auto ev = e.run(x);
  EXPECT_FALSE(std::isfinite(ev[0]));
}
