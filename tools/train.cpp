// soundclassifier-train: trains a linear SVM and/or Gaussian mixtures on
// recordings sorted into one folder per class, using the same segmentation
// and features as the program, and writes the model documents.
#include "app/config.h"
#include "segmentation/event.h"
#include "processing/validation.h"
#include "tools/atomic_file.h"
#include "tools/audiofile.h"
#include "tools/json.h"
#include "tools/progress.h"
#include "tools/training.h"
#include "tools/xml_writer.h"
#include "features/fftw_lock.h"

#include <fftw3.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

using namespace classification;
namespace fs = std::filesystem;

namespace {

const char* kUsage =
    "usage: soundclassifier-train --data DIR --out FILE [options]\n"
    "\n"
    "Trains on recordings in DIR/<class>/ (one folder per class, any format\n"
    "libsndfile reads; classes numbered in sorted name order or in the order of\n"
    "DIR/classes.txt). Every event the segmentation finds becomes an example.\n"
    "\n"
    "  --config DIR        configuration whose capture, event, segmentation and\n"
    "                      feature settings define the features (default: the\n"
    "                      working directory if it holds ClassificationSystem.xml,\n"
    "                      else ~/.config/soundclassifier, else the installed\n"
    "                      defaults)\n"
    "  --data DIR          training recordings, one sub-folder per class\n"
    "  --classifier KIND   svm, gmm or both (default: svm); with both, the one with\n"
    "                      the better balanced accuracy is used\n"
    "  --components K      Gaussians per class (default: chosen from 1..4 by CV)\n"
    "  --folds N           cross-validation folds, split by source family: the\n"
    "                      package and kit of names kind__package__kit__x.wav,\n"
    "                      else the recording (default: 5)\n"
    "  --augment N         N altered copies of every training recording: peak\n"
    "                      level -36..-6 dBFS, white, pink or brown background\n"
    "                      noise at 0..40 dB SNR, time shift; training folds only\n"
    "  --whole-file        a recording without a detected event gives one event\n"
    "                      from its loudest block on\n"
    "  --seed N            random seed (default: 1)\n"
    "  --out FILE          the system parameter document to write (default: the\n"
    "                      configuration's own, together with its user document)\n"
    "  --user-out FILE     also a user parameter document with the classes\n"
    "  --report FILE       the figures as JSON\n"
    "  --help              this text\n"
    "\n"
    "Classes are weighted by how rare they are, and settings (the SVM's C, the\n"
    "number of Gaussians) are chosen by cross-validated balanced accuracy, the\n"
    "mean of the per-class recalls. Every file is written through a temporary\n"
    "file and renamed, so a failed run leaves the old one as it was.\n"
    "\n"
    "Exit status: 0 success, 1 bad data or a failed write, 2 bad usage or\n"
    "configuration error.\n";

const char* kColors[] = {"#e6194b", "#3cb44b", "#f58231", "#911eb4", "#4363d8", "#42d4f4",
                         "#f032e6", "#9a6324", "#808000", "#000075", "#469990", "#dcbeff"};

struct Options {
  std::string configDir, dataDir, classifier = "svm", out, userOut, report;
  int components = 0, folds = 5, augment = 0;
  bool wholeFile = false;
  uint64_t seed = 1;
};

struct Recording {
  std::string path;
  int label;
  std::string family;
};

std::vector<std::string> readClasses(const std::string& dir) {
  std::vector<std::string> classes;
  std::ifstream list(dir + "/classes.txt");
  if (list) {
    std::string line;
    while (std::getline(list, line)) {
      line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
      if (!line.empty()) classes.push_back(line);
    }
    return classes;
  }
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_directory()) classes.push_back(e.path().filename().string());
  std::sort(classes.begin(), classes.end());
  return classes;
}

std::string evaluationJson(const Evaluation& e, const std::vector<std::string>& names) {
  std::ostringstream o;
  o << "{\"accuracy\":" << jsonNumber(e.accuracy()) << ",\"balancedAccuracy\":" << jsonNumber(e.balancedAccuracy())
    << ",\"confusion\":[";
  for (size_t t = 0; t < e.confusion.size(); ++t) o << (t ? "," : "") << jsonArray(e.confusion[t].data(), static_cast<int>(e.confusion[t].size()));
  o << "],\"classes\":[";
  const auto p = e.precision(), r = e.recall(), f = e.f1();
  for (size_t c = 0; c < names.size(); ++c)
    o << (c ? "," : "") << "{\"name\":" << jsonString(names[c]) << ",\"precision\":" << jsonNumber(p[c])
      << ",\"recall\":" << jsonNumber(r[c]) << ",\"f1\":" << jsonNumber(f[c]) << "}";
  o << "]}";
  return o.str();
}

void printEvaluation(const std::string& title, const Evaluation& e, const std::vector<std::string>& names) {
  std::cerr << title << ": cross-validated balanced accuracy " << std::fixed << std::setprecision(3)
            << e.balancedAccuracy() << " (accuracy " << e.accuracy() << ")\n";
  size_t width = 8;
  for (const auto& n : names) width = std::max(width, n.size() + 1);
  std::cerr << "  " << std::setw(static_cast<int>(width)) << "true\\pred";
  for (const auto& n : names) std::cerr << std::setw(static_cast<int>(width)) << n;
  std::cerr << "\n";
  for (size_t t = 0; t < names.size(); ++t) {
    std::cerr << "  " << std::setw(static_cast<int>(width)) << names[t];
    for (size_t p = 0; p < names.size(); ++p) std::cerr << std::setw(static_cast<int>(width)) << e.confusion[t][p];
    std::cerr << "\n";
  }
  const auto p = e.precision(), r = e.recall(), f = e.f1();
  for (size_t c = 0; c < names.size(); ++c)
    std::cerr << "  " << std::setw(static_cast<int>(width)) << names[c] << "  precision " << p[c] << "  recall " << r[c]
              << "  F1 " << f[c] << "\n";
  std::cerr.unsetf(std::ios::fixed);
}

// The recordings of every class folder, in class order and sorted by name.
std::vector<Recording> findRecordings(const std::string& dataDir, const std::vector<std::string>& classes) {
  std::vector<Recording> recordings;
  for (size_t c = 0; c < classes.size(); ++c) {
    const fs::path dir = fs::path(dataDir) / classes[c];
    if (!fs::is_directory(dir)) throw std::runtime_error(dir.string() + ": class folder missing");
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.is_regular_file()) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) recordings.push_back({f, static_cast<int>(c), sourceFamily(f)});
  }
  return recordings;
}

// Examples of every recording and of its augmented copies. Throws for an
// unreadable recording or a class without examples.
std::vector<Example> extractExamples(const std::vector<Recording>& recordings, const std::vector<std::string>& classes,
                                     ExampleExtractor& extractor, int nBlock, const Options& opt) {
  std::vector<Example> examples;
  Progress progress("extracting features", static_cast<long>(recordings.size()));
  int unreadable = 0;
  for (size_t r = 0; r < recordings.size(); ++r) {
    progress.update(static_cast<long>(r));
    AudioFile audio;
    std::string error;
    if (!readAudioFile(recordings[r].path, extractor.sampleRate(), audio, error)) {
      std::cerr << "\nsoundclassifier-train: " << recordings[r].path << ": cannot read: " << error << "\n";
      ++unreadable;
      continue;
    }
    const int label = recordings[r].label;
    const auto found = extractor.extract(audio.samples, opt.wholeFile);
    if (found.empty()) std::cerr << "\nsoundclassifier-train: " << recordings[r].path << ": no event detected\n";
    for (const auto& f : found) examples.push_back({label, static_cast<int>(r), false, f});
    for (int k = 0; k < opt.augment; ++k) {
      const Augmented a = augment(audio.samples, k, nBlock, opt.seed + r);
      for (const auto& f : extractor.extract(a.samples, opt.wholeFile, &a.background))
        examples.push_back({label, static_cast<int>(r), true, f});
    }
  }
  progress.done();
  if (unreadable) throw std::runtime_error(std::to_string(unreadable) + " recordings could not be read");

  std::vector<int> plain(classes.size(), 0), augmented(classes.size(), 0);
  for (const Example& e : examples) ++(e.augmented ? augmented : plain)[static_cast<size_t>(e.label)];
  std::cerr << "examples per class (" << extractor.dimension() << " features):\n";
  for (size_t c = 0; c < classes.size(); ++c) {
    std::cerr << "  " << classes[c] << ": " << plain[c];
    if (opt.augment) std::cerr << " (+" << augmented[c] << " augmented)";
    std::cerr << "\n";
    if (!plain[c]) throw std::runtime_error("class " + classes[c] + " has no examples");
  }
  return examples;
}

// A model trained on some examples, as the text of a "Classifier" section.
using Fit = std::function<std::string(const std::vector<const Example*>& train, const Normalization& norm)>;

// Cross-validation by source family: trained on the other folds (augmented
// copies included), tested on a fold's own recordings.
Evaluation crossValidate(const std::vector<Example>& examples, const std::vector<int>& fold, int folds, int d,
                         int numClasses, const Fit& fit) {
  std::vector<int> truth, predicted;
  for (int f = 0; f < folds; ++f) {
    std::vector<const Example*> train, test;
    for (const Example& e : examples) {
      if (fold[static_cast<size_t>(e.recording)] != f) train.push_back(&e);
      else if (!e.augmented) test.push_back(&e);
    }
    if (test.empty() || train.empty()) continue;
    const auto labels = classifyWith(fit(train, computeNormalization(train, d)), test);
    for (size_t i = 0; i < test.size(); ++i) {
      truth.push_back(test[i]->label);
      predicted.push_back(labels[i]);
    }
  }
  return evaluate(truth, predicted, numClasses);
}

struct Selection {
  size_t index = 0;
  Evaluation evaluation;
};

// The candidate with the best cross-validated balanced accuracy (the first
// on ties).
Selection selectByCrossValidation(const std::vector<std::pair<std::string, Fit>>& candidates,
                                  const std::vector<Example>& examples, const std::vector<int>& fold, int folds, int d,
                                  int numClasses) {
  Selection best;
  double bestScore = -1;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Evaluation e = crossValidate(examples, fold, folds, d, numClasses, candidates[i].second);
    std::cerr << "  " << candidates[i].first << ": balanced accuracy " << e.balancedAccuracy() << "\n";
    if (e.balancedAccuracy() > bestScore) {
      bestScore = e.balancedAccuracy();
      best = {i, e};
    }
  }
  return best;
}

// The system document: capture, event and feature sections unchanged.
std::string systemDocument(XmlNode* sys, const std::string& dataDir, const std::string& classifier) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- Written by soundclassifier-train from " +
                    xmlEscape(dataDir) + " -->\n<" + std::string(sys->name()) + ">\n";
  for (const char* section : {"AudioCapturing", "Event", "FeatureExtractor"})
    doc += printElement(cfg::element(sys, section), 2);
  return doc + "  <Classifier>" + classifier + "</Classifier>\n</" + std::string(sys->name()) + ">\n";
}

// The user document with one "Events" entry per class, the rest unchanged.
std::string userDocument(XmlNode* user, const std::vector<std::string>& classes) {
  std::string u = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + std::string(user->name()) + ">\n";
  for (XmlNode* section = user->first_node(); section; section = section->next_sibling()) {
    if (std::strcmp(section->name(), "GraphicalUserInterface") != 0) {
      u += printElement(section, 2);
      continue;
    }
    u += "  <GraphicalUserInterface>\n";
    for (XmlNode* key = section->first_node(); key; key = key->next_sibling()) {
      if (std::strcmp(key->name(), "Events") != 0) {
        u += printElement(key, 4);
        continue;
      }
      u += "    <Events Number=\"" + std::to_string(classes.size()) + "\">\n";
      for (size_t c = 0; c < classes.size(); ++c)
        u += "      <Event Name=\"" + xmlEscape(classes[c]) + "\" ClassId=\"" + std::to_string(c) +
             "\"><Color Value=\"" + kColors[c % 12] + "\"/></Event>\n";
      u += "    </Events>\n";
    }
    u += "  </GraphicalUserInterface>\n";
  }
  return u + "</" + std::string(user->name()) + ">\n";
}

Options parseOptions(int argc, char** argv) {
  Options opt;
  auto usage = [](const std::string& problem) {
    if (!problem.empty()) std::cerr << "soundclassifier-train: " << problem << "\n";
    std::cerr << kUsage;
    std::exit(2);
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(a + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else if (a == "--version") {
      std::cout << "soundclassifier-train " SC_VERSION "\n";
      std::exit(0);
    } else if (a == "--config") opt.configDir = value();
    else if (a == "--data") opt.dataDir = value();
    else if (a == "--classifier") opt.classifier = value();
    else if (a == "--components") opt.components = std::atoi(value().c_str());
    else if (a == "--folds") opt.folds = std::atoi(value().c_str());
    else if (a == "--augment") opt.augment = std::atoi(value().c_str());
    else if (a == "--whole-file") opt.wholeFile = true;
    else if (a == "--seed") opt.seed = std::strtoull(value().c_str(), nullptr, 10);
    else if (a == "--out") opt.out = value();
    else if (a == "--user-out") opt.userOut = value();
    else if (a == "--report") opt.report = value();
    else usage("unknown argument " + a);
  }
  if (opt.dataDir.empty()) usage("");
  if (opt.configDir.empty()) opt.configDir = defaultConfigDir();
  if (opt.classifier != "svm" && opt.classifier != "gmm" && opt.classifier != "both")
    usage("--classifier must be svm, gmm or both");
  if (opt.folds < 2 || opt.augment < 0 || opt.components < 0 || opt.components > 16)
    usage("--folds needs at least 2, --augment 0 or more, --components 0 to 16");
  return opt;
}

int train(const Options& opt) {
  ConfigSet config(opt.configDir);
  checkConfiguration(config, false);
  Options given = opt;
  if (given.out.empty()) {
    // Train the configuration in place (the user's folder on an installed
    // system), model and class list together; never the installed defaults.
    if (!installedConfigDir().empty() && fs::equivalent(fs::path(opt.configDir), fs::path(installedConfigDir())))
      throw std::runtime_error("the configuration is the installed default: give --out, or copy it to "
                               "~/.config/soundclassifier (the window does this on its first start)");
    given.out = config.system().path();
    if (given.userOut.empty()) given.userOut = config.user().path();
  }
  if (!fs::is_directory(opt.dataDir)) throw std::runtime_error(opt.dataDir + ": not a directory");
  const std::vector<std::string> classes = readClasses(opt.dataDir);
  const int numClasses = static_cast<int>(classes.size());
  if (numClasses < 2) throw std::runtime_error(opt.dataDir + ": need at least two class folders");

  // 1. Recordings and their examples, through the program's own segmentation.
  const std::vector<Recording> recordings = findRecordings(opt.dataDir, classes);
  ExampleExtractor extractor(config.userRoot(), config.systemRoot());
  const int nBlock = cfg::getIntAtLeast(config.systemRoot(), "AudioCapturing", "NBlock", 1);
  const int d = extractor.dimension();
  const std::vector<Example> examples = extractExamples(recordings, classes, extractor, nBlock, opt);

  // 2. Folds by source family.
  std::vector<std::string> families;
  std::vector<int> labels;
  for (const Recording& r : recordings) {
    families.push_back(r.family);
    labels.push_back(r.label);
  }
  const std::vector<int> fold = familyFolds(families, labels, opt.folds);
  std::set<std::string> distinct(families.begin(), families.end());
  std::cerr << recordings.size() << " recordings from " << distinct.size() << " source families in " << opt.folds
            << " folds\n";

  // 3. Model selection by cross-validation, then the chosen models on everything.
  std::vector<const Example*> all;
  for (const Example& e : examples) all.push_back(&e);
  const Normalization norm = computeNormalization(all, d);
  std::string report = "{\"classes\":[";
  for (int c = 0; c < numClasses; ++c) {
    int plain = 0, augmented = 0;
    for (const Example& e : examples)
      if (e.label == c) ++(e.augmented ? augmented : plain);
    report += std::string(c ? "," : "") + "{\"name\":" + jsonString(classes[static_cast<size_t>(c)]) +
              ",\"examples\":" + std::to_string(plain) + ",\"augmented\":" + std::to_string(augmented) + "}";
  }
  report += "],\"features\":" + std::to_string(d) + ",\"folds\":" + std::to_string(opt.folds) +
            ",\"families\":" + std::to_string(distinct.size()) + ",\"augment\":" + std::to_string(opt.augment);
  std::unique_ptr<LinearModel> svm;
  std::unique_ptr<MixtureModel> gmm;
  double svmScore = -1, gmmScore = -1;
  if (opt.classifier != "gmm") {
    const std::vector<double> Cs = {0.01, 0.1, 1.0, 10.0, 100.0};
    std::vector<std::pair<std::string, Fit>> candidates;
    for (double C : Cs)
      candidates.push_back({"SVM C=" + jsonNumber(C), [&, C](const std::vector<const Example*>& train, const Normalization& n) {
                              const LinearModel m = trainSvm(train, n, numClasses, C);
                              return classifierSection(numClasses, n, &m, nullptr, "MLinSVM");
                            }});
    const Selection s = selectByCrossValidation(candidates, examples, fold, opt.folds, d, numClasses);
    printEvaluation("linear SVM (C=" + jsonNumber(Cs[s.index]) + ")", s.evaluation, classes);
    svm = std::make_unique<LinearModel>(trainSvm(all, norm, numClasses, Cs[s.index]));
    svmScore = s.evaluation.balancedAccuracy();
    report += ",\"svm\":{\"C\":" + jsonNumber(Cs[s.index]) + ",\"cv\":" + evaluationJson(s.evaluation, classes) + "}";
  }
  if (opt.classifier != "svm") {
    std::vector<int> Ks;
    for (int k = opt.components ? opt.components : 1; k <= (opt.components ? opt.components : 4); ++k) Ks.push_back(k);
    std::vector<std::pair<std::string, Fit>> candidates;
    for (int k : Ks)
      candidates.push_back({"GMM K=" + std::to_string(k), [&, k](const std::vector<const Example*>& train, const Normalization& n) {
                              const MixtureModel m = trainGmm(train, n, numClasses, k, opt.seed);
                              return classifierSection(numClasses, n, nullptr, &m, "MGMM");
                            }});
    const Selection s = selectByCrossValidation(candidates, examples, fold, opt.folds, d, numClasses);
    printEvaluation("Gaussian mixtures (K=" + std::to_string(Ks[s.index]) + ")", s.evaluation, classes);
    gmm = std::make_unique<MixtureModel>(trainGmm(all, norm, numClasses, Ks[s.index], opt.seed));
    gmmScore = s.evaluation.balancedAccuracy();
    report += ",\"gmm\":{\"components\":" + std::to_string(Ks[s.index]) +
              ",\"cv\":" + evaluationJson(s.evaluation, classes) + "}";
  }
  const std::string use = svmScore >= gmmScore ? "MLinSVM" : "MGMM";
  report += ",\"use\":" + jsonString(use) + "}\n";
  if (svm && gmm) std::cerr << "using " << (use == "MLinSVM" ? "the linear SVM" : "the Gaussian mixtures") << "\n";

  // 4. The documents, each through a temporary file.
  const std::string section = classifierSection(numClasses, norm, svm.get(), gmm.get(), use);
  std::vector<std::pair<std::string, std::string>> files = {
      {given.out, systemDocument(config.systemRoot(), opt.dataDir, section)}};
  if (!given.userOut.empty()) files.push_back({given.userOut, userDocument(config.userRoot(), classes)});
  if (!opt.report.empty()) files.push_back({opt.report, report});
  for (const auto& [path, text] : files) {
    std::string error;
    if (!writeFileAtomically(path, text, error)) throw std::runtime_error(error + " (" + path + " left as it was)");
  }
  std::cerr << "wrote " << given.out << (given.userOut.empty() ? "" : " and " + given.userOut) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options opt = parseOptions(argc, argv);
  reportOversizedWrites();
  setDiagnosticStream(&std::cerr);
  // Timed planning could pick other FFT algorithms on another run; estimated
  // plans make the written model reproducible bit for bit.
  setFftwPlannerFlags(FFTW_ESTIMATE);
  return runReportingConfigErrors("soundclassifier-train", [&]() -> int {
    try {
      return train(opt);
    } catch (const ConfigError&) {
      throw;
    } catch (const std::runtime_error& e) {
      std::cerr << "soundclassifier-train: " << e.what() << "\n";
      return 1;
    }
  });
}
