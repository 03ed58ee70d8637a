#include "classifiers/classificator.h"
#include "classifiers/gmm.h"
#include "classifiers/linsvm.h"
#include "tests/support/testconfig.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace classification;

namespace {

// A document with only the "Classifier" section.
struct Model {
  explicit Model(const std::string& classifier)
      : path(dir.file("s.xml", "<S><Classifier>" + classifier + "</Classifier></S>")), doc(path) {}
  XmlNode* root() const { return doc.root(); }
  sctest::TempDir dir;
  std::string path;
  ConfigDocument doc;
};

std::string norm(const std::string& mu, const std::string& inv) {
  return "<Normalization><mu>" + mu + "</mu><invStd>" + inv + "</invStd></Normalization>";
}

std::string svm(int n, const std::string& classes, const std::string& normalization,
                const char* type = "MLinSVM") {
  return "<NumClasses Value=\"" + std::to_string(n) + "\"/><UseClassifier Type=\"" + type + "\"/>" +
         normalization + "<DiscriminantFunction>" + classes + "</DiscriminantFunction>";
}

std::string svmClass(int id, const std::string& b, const std::string& w, int elements) {
  return "<C ClassId=\"" + std::to_string(id) + "\"><b Value=\"" + b + "\"/><w Elements=\"" +
         std::to_string(elements) + "\">" + w + "</w></C>";
}

std::string gmmComponent(const std::string& weight, const std::string& mu, const std::string& cov,
                         int elements = -1) {
  const std::string el = elements >= 0 ? " Elements=\"" + std::to_string(elements) + "\"" : "";
  return "<Gaussian Weight=\"" + weight + "\"><mu" + el + ">" + mu + "</mu><cov>" + cov + "</cov></Gaussian>";
}

std::string gmm(int n, const std::string& normalization, const std::string& classes) {
  return "<NumClasses Value=\"" + std::to_string(n) + "\"/><UseClassifier Type=\"MGMM\"/>" + normalization +
         "<Gaussians>" + classes + "</Gaussians>";
}

std::unique_ptr<MEvent> eventWith(std::vector<float> features) {
  const float sample = 0.0f;
  auto e = std::make_unique<MEvent>(1, 1, 0, &sample);
  float* f = new float[features.size() + 1];
  std::copy(features.begin(), features.end(), f);
  e->setFeatures(f);
  return e;
}

std::vector<float> values(const MEvent& e, int n) {
  return std::vector<float>(e.getDFVal(), e.getDFVal() + n);
}

// An event with these features, classified by the model.
std::unique_ptr<MEvent> classify(const Model& m, std::vector<float> features) {
  MClassification c(m.root());
  auto e = eventWith(std::move(features));
  c.processEvent(e.get());
  return e;
}

}  // namespace

TEST(LinSVM, DiscriminantIsWeightsTimesNormalisedInputMinusBias) {
  Model m(svm(3,
              svmClass(2, "0.5", "1 1", 2) + svmClass(0, "1", "2 -1", 2) + svmClass(1, "-1", "0 0 99", 2),
              norm("1 2", "0.5 2")));
  auto e = classify(m, {3, 1});  // x = (1, -2)
  EXPECT_EQ(values(*e, 3), (std::vector<float>{2 * 1 + -1 * -2 - 1, 0 - (-1), 1 - 2 - 0.5f}));
  EXPECT_EQ(e->getLabel(), 0);
  EXPECT_EQ(MClassification(m.root()).getActive()->getNumFeatures(), 2);
}

TEST(LinSVM, TiesNaNAndDegenerateSizes) {
  {  // equal values: the lower index
    Model m(svm(3, svmClass(0, "1", "", 0) + svmClass(1, "-2", "", 0) + svmClass(2, "-2", "", 0), norm("", "")));
    auto e = classify(m, {});
    EXPECT_EQ(values(*e, 3), (std::vector<float>{-1, 2, 2}));
    EXPECT_EQ(e->getLabel(), 1);  // d = 0: the smallest bias wins
  }
  {  // NaN never wins
    Model m(svm(2, svmClass(0, "nan", "", 0) + svmClass(1, "5", "", 0), norm("", "")));
    EXPECT_EQ(classify(m, {})->getLabel(), 0);
    Model m2(svm(2, svmClass(0, "5", "", 0) + svmClass(1, "nan", "", 0), norm("", "")));
    EXPECT_EQ(classify(m2, {})->getLabel(), 0);
  }
  {  // N = 0: an empty array and label 0
    Model m(gmm(0, norm("", ""), "<K>" + gmmComponent("1", "", "", 0) + "</K>"));
    MClassification c(m.root());
    auto e = eventWith({});
    e->setLabel(5);
    c.processEvent(e.get());
    EXPECT_NE(e->getDFVal(), nullptr);
    EXPECT_EQ(e->getLabel(), 0);
  }
}

TEST(LinSVM, LaterDuplicateClassIdReplacesTheEarlier) {
  Model m(svm(2, svmClass(1, "9", "9", 1) + svmClass(0, "0", "1", 1) + svmClass(1, "0", "2", 1), norm("0", "1")));
  auto e = classify(m, {1});
  EXPECT_EQ(values(*e, 2), (std::vector<float>{1, 2}));
  EXPECT_EQ(e->getLabel(), 1);
}

TEST(Registry, TypeSelectsTheActiveClassifierOnly) {
  Model m(gmm(1, norm("0", "1"), "<K>" + gmmComponent("1", "0", "1", 1) + "</K>"));
  MClassification c(m.root());
  EXPECT_EQ(c.getActiveName(), "MGMM");
  EXPECT_TRUE(c.get("MGMM")->isInitialized());
  EXPECT_FALSE(c.get("MLinSVM")->isInitialized());
  c.initClassificator("Nope");  // changes nothing
  // A second init rebuilds the registry from the new node.
  Model s(svm(2, svmClass(0, "0", "", 0) + svmClass(1, "0", "", 0), norm("", "")));
  MClassificator* before = c.getActive();
  c.init(s.root());
  EXPECT_EQ(c.getActiveName(), "MLinSVM");
  EXPECT_NE(c.getActive(), before);
  EXPECT_FALSE(c.get("MGMM")->isInitialized());
}

TEST(GMM, ScoreIsTheWeightedSumOfComponentLogDensities) {
  // d = 2, x = (1, -1) after normalisation.
  const std::string c0 = "<K>" + gmmComponent("1", "0 0", "1 4", 2) + "</K>";
  const std::string c1 = "<K>" + gmmComponent("0.5", "1 -1", "0.5 0.5") + gmmComponent("0.5", "3 3", "2 1") + "</K>";
  const std::string c2 = "<Empty/>";
  auto e = classify(Model(gmm(3, norm("0 0", "1 1"), c0 + c1 + c2)), {1, -1});
  auto logN = [](std::vector<double> x, std::vector<double> mu, std::vector<double> var) {
    double r = 0;
    for (size_t j = 0; j < x.size(); ++j)
      r += -0.5 * std::log(2 * M_PI * var[j]) - 0.5 * (x[j] - mu[j]) * (x[j] - mu[j]) / var[j];
    return r;
  };
  const double s0 = logN({1, -1}, {0, 0}, {1, 4});
  const double s1 = 0.5 * logN({1, -1}, {1, -1}, {0.5, 0.5}) + 0.5 * logN({1, -1}, {3, 3}, {2, 1});
  EXPECT_NEAR(e->getDFVal()[0], s0, 1e-5);
  EXPECT_NEAR(e->getDFVal()[1], s1, 1e-5);
  EXPECT_EQ(e->getDFVal()[2], 0.0f);  // no components
  EXPECT_EQ(e->getLabel(), 2);
}

TEST(GMM, NormalisingTermStaysFiniteInHighDimensions) {
  for (const char* variance : {"0.001", "1000"}) {
    std::string mu, cov;
    for (int j = 0; j < 200; ++j) {
      mu += "0 ";
      cov += std::string(variance) + " ";
    }
    Model m(gmm(2, norm(mu, cov),
                "<K>" + gmmComponent("1", mu, cov, 200) + "</K><K>" + gmmComponent("1", mu, "1 " + cov) + "</K>"));
    auto e = classify(m, std::vector<float>(200, 0.0f));
    EXPECT_TRUE(std::isfinite(e->getDFVal()[0])) << variance;
    const double v = std::atof(variance);
    EXPECT_NEAR(e->getDFVal()[0], -100 * std::log(2 * M_PI * v), 1e-2);
  }
}

TEST(GMM, ExtraClassesAreReadButNotScoredAndDZeroScoresZero) {
  auto e = classify(Model(gmm(1, norm("", ""),
                               "<K>" + gmmComponent("1", "", "", 0) + "</K><K>" + gmmComponent("1", "", "") + "</K>")),
                   {});
  EXPECT_EQ(values(*e, 1), (std::vector<float>{0.0f}));
  EXPECT_EQ(e->getLabel(), 0);
}

TEST(Configuration, UnusableModelsAreRejected) {
  const std::string ok2 = svmClass(0, "0", "1 2", 2) + svmClass(1, "0", "1 2", 2);
  const std::vector<std::pair<const char*, std::string>> bad = {
      {"no UseClassifier", "<NumClasses Value=\"2\"/>" + norm("0 0", "1 1") + "<DiscriminantFunction>" + ok2 + "</DiscriminantFunction>"},
      {"unknown Type", svm(2, ok2, norm("0 0", "1 1"), "SVM")},
      {"short mu", svm(2, ok2, norm("0", "1 1"))},
      {"short invStd", svm(2, ok2, norm("0 0", ""))},
      {"ClassId out of range", svm(2, svmClass(0, "0", "1 2", 2) + svmClass(2, "0", "1 2", 2), norm("0 0", "1 1"))},
      {"class not set", svm(2, svmClass(0, "0", "1 2", 2) + svmClass(0, "0", "1 2", 2), norm("0 0", "1 1"))},
      {"short weights", svm(2, svmClass(0, "0", "1 2", 2) + svmClass(1, "0", "1", 2), norm("0 0", "1 1"))},
      {"missing b", svm(1, "<C ClassId=\"0\"><w Elements=\"0\"/></C>", norm("", ""))},
      {"GMM with too few classes", gmm(2, norm("0", "1"), "<K>" + gmmComponent("1", "0", "1", 1) + "</K>")},
      {"GMM short cov", gmm(1, norm("0 0", "1 1"), "<K>" + gmmComponent("1", "0 0", "1", 2) + "</K>")},
      {"GMM zero variance", gmm(1, norm("0", "1"), "<K>" + gmmComponent("1", "0", "0", 1) + "</K>")},
      {"GMM negative variance", gmm(1, norm("0", "1"), "<K>" + gmmComponent("1", "0", "-1", 1) + "</K>")},
      {"no Classifier", ""},
  };
  for (const auto& [what, model] : bad) {
    sctest::TempDir dir;
    const std::string body = std::string(what) == std::string("no Classifier") ? "<S/>" : "<S><Classifier>" + model + "</Classifier></S>";
    ConfigDocument doc(dir.file("s.xml", body));
    EXPECT_THROW(MClassification c(doc.root()), ConfigError) << what;
  }
}

#ifdef SC_DIAGNOSTICS
TEST(Diagnostics, LinesOfTheWindowsProgram) {
  Model m(svm(4, svmClass(0, "0.5", "1", 1) + svmClass(1, "0", "0.25", 1) + svmClass(2, "0", "0", 1) +
                     svmClass(3, "0", "0", 1),
              norm("0", "1")));
  MClassification c(m.root());
  auto e = eventWith({1.0f / 3});
  testing::internal::CaptureStdout();
  c.processEvent(e.get());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-0.166667\n0.0833333\n0\nKlopfen\n");
  Model g(gmm(4, norm("", ""),
              "<K>" + gmmComponent("1", "", "", 0) + "</K><K/><K/><K>" + gmmComponent("-1", "", "") + "</K>"));
  MClassification cg(g.root());
  testing::internal::CaptureStdout();
  cg.processEvent(e.get());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Klatschen\n");
}
#endif
