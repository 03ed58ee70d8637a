// Training support shared by the trainer and its tests: examples from
// recordings through the system's own segmentation and feature extraction,
// normalisation, folds by recording, LIBLINEAR and Armadillo models, and the
// model sections written in the system's document syntax.
#pragma once

#include "app/config.h"

#include <cstdint>
#include <string>
#include <vector>

namespace classification {

struct Example {
  int label;
  int recording;      // index into the recordings
  bool augmented;     // made from an altered copy; only ever trained on
  std::vector<float> features;
};

struct Normalization {
  std::vector<float> mu, invStd;
};

// Mean and reciprocal sample standard deviation per feature; a feature
// without spread gets 1 so that it stays finite.
Normalization computeNormalization(const std::vector<const Example*>& examples, int d);

struct LinearModel {
  std::vector<std::vector<float>> w;  // per class
  std::vector<float> b;               // the system computes w.x - b
};

struct GaussianComponent {
  float weight;
  std::vector<float> mu, var;
};
struct MixtureModel {
  std::vector<std::vector<GaussianComponent>> classes;
};

// One-vs-rest linear SVM on normalised examples (LIBLINEAR, L2-loss dual,
// bias feature 1, classes weighted by inverse frequency).
LinearModel trainSvm(const std::vector<const Example*>& examples, const Normalization& norm,
                     int numClasses, double C);
// LIBLINEAR's own labels for the same training, for checking the export.
std::vector<int> liblinearPredictions(const std::vector<const Example*>& train,
                                      const std::vector<const Example*>& test,
                                      const Normalization& norm, int numClasses, double C);

// Per class a diagonal Gaussian mixture by EM (Armadillo gmm_diag) on the
// normalised examples; variances floored so none is 0.
MixtureModel trainGmm(const std::vector<const Example*>& examples, const Normalization& norm,
                      int numClasses, int components, uint64_t seed);

// The inner text of a "Classifier" section. Either model may be absent.
std::string classifierSection(int numClasses, const Normalization& norm, const LinearModel* svm,
                              const MixtureModel* gmm, const std::string& use);

// Classifies feature vectors with the system's own classifier code built
// from a classifier section; returns the labels.
std::vector<int> classifyWith(const std::string& section, const std::vector<const Example*>& examples);

// The source family of a recording named kind__package__kit__name.ext: the
// package and the kit, voice pack or folder ("package__kit"). Any other name
// is a family of its own (the file name).
std::string sourceFamily(const std::string& path);

// Folds by source family: all recordings of a family (of every class) land
// in one fold, and each class's recordings are spread over the folds as
// evenly as whole families allow. Deterministic.
std::vector<int> familyFolds(const std::vector<std::string>& families, const std::vector<int>& labels, int folds);

struct Evaluation {
  std::vector<std::vector<int>> confusion;  // [true][predicted]
  double accuracy() const;
  // Mean of the per-class recalls over the classes that occur.
  double balancedAccuracy() const;
  std::vector<double> precision() const, recall() const, f1() const;
};
Evaluation evaluate(const std::vector<int>& truth, const std::vector<int>& predicted, int numClasses);

// Recordings to examples through segmentation and features of a
// configuration. Quiet lead-in and tail are added so that the noise estimate
// settles and the last event completes.
class ExampleExtractor {
 public:
  ExampleExtractor(XmlNode* userRoot, XmlNode* systemRoot);
  ~ExampleExtractor();
  // Feature vectors of every event found in the samples. With wholeFile, a
  // recording without events gives one event from its loudest block on.
  // background: noise over the whole padded signal (augmentation); a faint
  // fixed floor is always there.
  std::vector<std::vector<float>> extract(const std::vector<float>& samples, bool wholeFile,
                                          const struct Background* background = nullptr);
  int dimension() const;
  int sampleRate() const { return fs; }

 private:
  struct Impl;
  Impl* impl;
  int fs, nBlock, nEvent;
  double timeInit;
};

// Generated background noise: white, pink (-3 dB per octave) or brown
// (-6 dB per octave, high-passed near 20 Hz so it does not drift).
struct Background {
  enum Kind { White, Pink, Brown } kind;
  double rms;
  uint64_t seed;
};
std::vector<float> backgroundNoise(const Background& b, size_t count, int fs);

// Altered copy number k of a recording as the live path would hear it: its
// peak at a level between -36 and -6 dBFS, a small time shift, and the
// background (kind k % 3) at a signal-to-noise ratio between 0 and 40 dB
// (recording's RMS over the noise's).
struct Augmented {
  std::vector<float> samples;
  Background background;
};
Augmented augment(const std::vector<float>& samples, int k, int nBlock, uint64_t seed);

}  // namespace classification
