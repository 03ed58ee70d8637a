#include "tests/support/testconfig.h"
#include "tools/audiofile.h"
#include "tools/training.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
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

TEST(Training, FoldsKeepRecordingsTogetherAndSpreadClasses) {
  const std::vector<int> labels = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2};
  const auto fold = recordingFolds(labels, 5, 3);
  std::vector<int> perFold(5, 0);
  for (int f : fold) ++perFold[static_cast<size_t>(f)];
  for (int n : perFold) EXPECT_GE(n, 2);
  for (int c = 0; c < 2; ++c) {
    std::set<int> seen;
    for (size_t r = 0; r < labels.size(); ++r)
      if (labels[r] == c) seen.insert(fold[r]);
    EXPECT_EQ(seen.size(), 5u);
  }
}

TEST(Trainer, WrittenDocumentsLoadAndClassify) {
  namespace fs = std::filesystem;
  sctest::TempDir dir;
  const std::string data = dir.path() + "/data";
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-1, 1);
  for (const char* cls : {"tone", "noise"}) {
    fs::create_directories(data + "/" + cls);
    for (int k = 0; k < 4; ++k) {
      std::vector<float> x(static_cast<size_t>(0.35 * 44100));
      for (size_t n = 0; n < x.size(); ++n) {
        const float env = 0.5f * std::exp(-3.0f * n / 44100.0f);
        x[n] = env * (cls[0] == 't' ? std::sin(2 * float(M_PI) * (500 + 150 * k) * n / 44100.0f) : u(rng));
      }
      std::string error;
      ASSERT_TRUE(writeWavFile(data + "/" + cls + "/" + std::to_string(k) + ".wav", x.data(), static_cast<long>(x.size()), 44100, error));
    }
  }
  const std::string shipped = std::string(SC_SOURCE_DIR) + "/config";
  const std::string cmd = std::string(TRAINER) + " --config " + shipped + " --data " + data +
                          " --classifier both --folds 2 --out " + dir.path() + "/system.xml --user-out " +
                          dir.path() + "/user.xml --report " + dir.path() + "/report.json 2>" + dir.path() + "/err.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream report(dir.path() + "/report.json");
  std::string json((std::istreambuf_iterator<char>(report)), std::istreambuf_iterator<char>());
  EXPECT_NE(json.find("\"svm\""), std::string::npos);
  EXPECT_NE(json.find("\"gmm\""), std::string::npos);
  dir.file("ClassificationSystem.xml",
           "<ClassificationSystem><UserEditableParameters>user.xml</UserEditableParameters>"
           "<S>system.xml</S></ClassificationSystem>");
  // Classes in sorted name order: noise 0, tone 1.
  const std::string run = std::string(OFFLINE_RUNNER) + " --config " + dir.path() + " " + data + "/tone/2.wav " +
                          data + "/noise/1.wav > " + dir.path() + "/out.txt 2>&1";
  ASSERT_EQ(std::system(run.c_str()), 0);
  std::ifstream out(dir.path() + "/out.txt");
  std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\"class\":\"tone\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"class\":\"noise\""), std::string::npos) << text;
}
