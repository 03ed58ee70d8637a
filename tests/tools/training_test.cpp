#include "tests/support/process.h"
#include "tests/support/testconfig.h"
#include "tools/audiofile.h"
#include "tools/training.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <map>
#include <set>

using namespace classification;

namespace {

std::vector<Example> clusters(int classes, int perClass, int d, double spread, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> n(0.0, spread);
  std::vector<Example> out;
  for (int c = 0; c < classes; ++c)
    for (int i = 0; i < perClass; ++i) {
      Example e{c, c * perClass + i, false, {}};
      for (int j = 0; j < d; ++j) e.features.push_back(static_cast<float>((j % classes == c ? 3.0 : 0.0) + 10 * j + n(rng)));
      out.push_back(e);
    }
  return out;
}

std::vector<const Example*> pointers(const std::vector<Example>& v) {
  std::vector<const Example*> p;
  for (const auto& e : v) p.push_back(&e);
  return p;
}

}  // namespace

TEST(Training, ExportedSvmMakesLiblinearsDecisions) {
  for (int classes : {2, 3, 4}) {
    const auto data = clusters(classes, 30, 5, 1.6, 7 + classes);  // overlapping
    const auto all = pointers(data);
    const Normalization norm = computeNormalization(all, 5);
    for (double C : {0.01, 1.0}) {
      const LinearModel m = trainSvm(all, norm, classes, C);
      const auto ours = classifyWith(classifierSection(classes, norm, &m, nullptr, "MLinSVM"), all);
      const auto theirs = liblinearPredictions(all, all, norm, classes, C);
      int differ = 0;
      for (size_t i = 0; i < ours.size(); ++i) differ += ours[i] != theirs[i];
      EXPECT_EQ(differ, 0) << classes << " classes, C " << C;
    }
  }
}

TEST(Training, BiasIsSubtractedByTheSystem) {
  // One feature; class 1 above 5, class 0 below: the boundary only sits at 5
  // if the exported b has the right sign.
  std::vector<Example> data;
  for (int i = 0; i < 40; ++i) data.push_back({i % 2, i, false, {static_cast<float>(i % 2 ? 6 + 0.1 * i : 4 - 0.1 * i)}});
  Normalization identity{{0.0f}, {1.0f}};
  const LinearModel m = trainSvm(pointers(data), identity, 2, 10.0);
  std::vector<Example> probes = {{0, 0, false, {4.5f}}, {1, 1, false, {5.5f}}, {0, 2, false, {-3.0f}}};
  const auto labels = classifyWith(classifierSection(2, identity, &m, nullptr, "MLinSVM"), pointers(probes));
  EXPECT_EQ(labels, (std::vector<int>{0, 1, 0}));
  EXPECT_NEAR(m.b[1] / m.w[1][0], 5.0, 0.5);
}

TEST(Training, GmmSeparatesClustersThroughTheSystemsScore) {
  const auto data = clusters(3, 25, 4, 0.3, 3);
  const auto all = pointers(data);
  const Normalization norm = computeNormalization(all, 4);
  const MixtureModel m = trainGmm(all, norm, 3, 1, 1);
  ASSERT_EQ(m.classes[0].size(), 1u);
  EXPECT_FLOAT_EQ(m.classes[0][0].weight, 1.0f);
  const auto labels = classifyWith(classifierSection(3, norm, nullptr, &m, "MGMM"), all);
  for (size_t i = 0; i < data.size(); ++i) EXPECT_EQ(labels[i], data[i].label);
  for (const auto& cls : trainGmm(all, norm, 3, 3, 1).classes)
    for (const auto& g : cls)
      for (float v : g.var) EXPECT_GT(v, 0.0f);
}

TEST(Training, ConstantFeatureKeepsAFiniteScale) {
  std::vector<Example> data = {{0, 0, false, {1, 7}}, {1, 1, false, {2, 7}}, {0, 2, false, {3, 7}}};
  const Normalization n = computeNormalization(pointers(data), 2);
  EXPECT_FLOAT_EQ(n.mu[0], 2.0f);
  EXPECT_FLOAT_EQ(n.invStd[0], 1.0f);
  EXPECT_FLOAT_EQ(n.mu[1], 7.0f);
  EXPECT_EQ(n.invStd[1], 1.0f);
}

TEST(Training, FamiliesStayInOneFoldAndClassesSpread) {
  EXPECT_EQ(sourceFamily("data/knock/wood_hit__lmms-common__drums__wood01.wav"), "lmms-common__drums");
  EXPECT_EQ(sourceFamily("a/b/clap_3.wav"), "clap_3.wav");  // a user's own recording: its own family
  // Class 0: families A (3), B, C, D, E; class 1: families A (1), F, G, H, I;
  // class 2: a single family J.
  const std::vector<std::string> families = {"A", "A", "A", "B", "C", "D", "E", "A", "F", "G", "H", "I", "J", "J"};
  const std::vector<int> labels = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2};
  const auto fold = familyFolds(families, labels, 5);
  std::map<std::string, std::set<int>> foldsOf;
  for (size_t r = 0; r < fold.size(); ++r) {
    ASSERT_GE(fold[r], 0);
    ASSERT_LT(fold[r], 5);
    foldsOf[families[r]].insert(fold[r]);
  }
  for (const auto& [family, folds] : foldsOf) EXPECT_EQ(folds.size(), 1u) << family;
  for (int c = 0; c < 2; ++c) {
    std::set<int> seen;
    for (size_t r = 0; r < labels.size(); ++r)
      if (labels[r] == c) seen.insert(fold[r]);
    EXPECT_EQ(seen.size(), 5u) << c;  // five families of the class: one per fold
  }
  EXPECT_EQ(familyFolds(families, labels, 5), fold);
}

TEST(Training, BalancedAccuracyIsTheMeanRecall) {
  // 8 of class 0 all right, 2 of class 1 both wrong: accuracy 0.8, balanced 0.5.
  const Evaluation e = evaluate({0, 0, 0, 0, 0, 0, 0, 0, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 3);
  EXPECT_DOUBLE_EQ(e.accuracy(), 0.8);
  EXPECT_DOUBLE_EQ(e.balancedAccuracy(), 0.5);  // class 2 does not occur
}

TEST(Training, AugmentedCopiesSpanLevelsAndNoises) {
  std::vector<float> x(4410);
  for (size_t i = 0; i < x.size(); ++i) x[i] = 0.5f * std::sin(0.1f * static_cast<float>(i));
  std::set<int> kinds;
  for (int k = 0; k < 30; ++k) {
    const Augmented a = augment(x, k, 512, 3);
    float peak = 0;
    for (float v : a.samples) peak = std::max(peak, std::fabs(v));
    const double peakDb = 20 * std::log10(peak);
    EXPECT_GE(peakDb, -36.01);
    EXPECT_LE(peakDb, -5.99);
    const double snr = 20 * std::log10(peak / std::sqrt(2.0) / a.background.rms);
    EXPECT_GE(snr, -0.01);
    EXPECT_LE(snr, 40.01);
    kinds.insert(a.background.kind);
    const auto noise = backgroundNoise(a.background, 44100, 44100);
    double sq = 0;
    for (float v : noise) sq += static_cast<double>(v) * v;
    EXPECT_NEAR(std::sqrt(sq / noise.size()), a.background.rms, 1e-3 * a.background.rms);
  }
  EXPECT_EQ(kinds.size(), 3u);
  // Brown noise has its power low, pink in between: compare the power of
  // the first differences (high frequencies) to the total.
  auto highShare = [](const std::vector<float>& n) {
    double d = 0, t = 0;
    for (size_t i = 1; i < n.size(); ++i) {
      d += (n[i] - n[i - 1]) * (n[i] - n[i - 1]);
      t += n[i] * n[i];
    }
    return d / t;
  };
  const double w = highShare(backgroundNoise({Background::White, 1, 1}, 44100, 44100));
  const double p = highShare(backgroundNoise({Background::Pink, 1, 1}, 44100, 44100));
  const double b = highShare(backgroundNoise({Background::Brown, 1, 1}, 44100, 44100));
  EXPECT_GT(w, p);
  EXPECT_GT(p, b);
}

namespace {
// Recordings of two classes: decaying tones of several pitches, and noise.
std::string toneAndNoiseData(const sctest::TempDir& dir, int perClass) {
  namespace fs = std::filesystem;
  const std::string data = dir.path() + "/data";
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-1, 1);
  for (const char* cls : {"tone", "noise"}) {
    fs::create_directories(data + "/" + cls);
    for (int k = 0; k < perClass; ++k) {
      std::vector<float> x(static_cast<size_t>(0.35 * 44100));
      for (size_t n = 0; n < x.size(); ++n) {
        const float env = 0.5f * std::exp(-3.0f * n / 44100.0f);
        x[n] = env * (cls[0] == 't' ? std::sin(2 * float(M_PI) * (500 + 150 * k) * n / 44100.0f) : u(rng));
      }
      std::string error;
      EXPECT_TRUE(writeWavFile(data + "/" + cls + "/" + std::to_string(k) + ".wav", x.data(),
                               static_cast<long>(x.size()), 44100, error));
    }
  }
  return data;
}
}  // namespace

TEST(Trainer, WrittenDocumentsLoadAndClassify) {
  namespace fs = std::filesystem;
  sctest::TempDir dir;
  const std::string data = toneAndNoiseData(dir, 4);
  const std::string shipped = std::string(SC_SOURCE_DIR) + "/config";
  const std::string cmd = std::string(TRAINER) + " --config " + shipped + " --data " + data +
                          " --classifier both --folds 2 --out " + dir.path() + "/system.xml --user-out " +
                          dir.path() + "/user.xml --report " + dir.path() + "/report.json 2>" + dir.path() + "/err.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string json = sctest::readFile(dir.path() + "/report.json");
  EXPECT_NE(json.find("\"svm\""), std::string::npos);
  EXPECT_NE(json.find("\"gmm\""), std::string::npos);
  dir.index("user.xml", "system.xml");
  // Classes in sorted name order: noise 0, tone 1.
  const std::string run = std::string(OFFLINE_RUNNER) + " --config " + dir.path() + " " + data + "/tone/2.wav " +
                          data + "/noise/1.wav > " + dir.path() + "/out.txt 2>&1";
  ASSERT_EQ(std::system(run.c_str()), 0);
  const std::string text = sctest::readFile(dir.path() + "/out.txt");
  EXPECT_NE(text.find("\"class\":\"tone\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"class\":\"noise\""), std::string::npos) << text;
}

// A write that fails (a file-size limit, a folder that does not exist) leaves
// the previous model byte for byte and no temporary file behind.
TEST(Trainer, FailedWritesLeaveThePreviousFiles) {
  namespace fs = std::filesystem;
  sctest::TempDir dir;
  const std::string data = toneAndNoiseData(dir, 2);
  const std::string model = dir.file("model.xml", std::string(5000, 'x'));
  const std::string shipped = std::string(SC_SOURCE_DIR) + "/config";
  const std::string train = std::string(TRAINER) + " --config " + shipped + " --data " + data + " --folds 2 --out ";
  // ulimit -f counts blocks of 1024 bytes: the model does not fit in 2. The
  // messages come through a pipe, which the limit does not cover.
  const sctest::RunResult run = sctest::runCommand("sh -c 'ulimit -f 2; exec " + train + model + " 2>&1'");
  const std::string& message = run.out;
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(message.find("cannot write"), std::string::npos) << message;
  EXPECT_NE(message.find("left as it was"), std::string::npos) << message;
  EXPECT_EQ(sctest::readFile(model), std::string(5000, 'x'));
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) files += e.path().filename().string().rfind(".model.xml", 0) == 0;
  EXPECT_EQ(files, 0);  // no temporary file left

  EXPECT_EQ(sctest::runCommand(train + dir.path() + "/no/such/folder/model.xml").status, 1);
  // Without a limit the same run replaces the model.
  EXPECT_EQ(sctest::runCommand(train + model).status, 0);
  EXPECT_NE(sctest::readFile(model).find("<Classifier>"), std::string::npos);
}
