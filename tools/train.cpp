// soundclassifier-train: trains a linear SVM and/or Gaussian mixtures on
// recordings sorted into one folder per class, using the same segmentation
// and features as the program, and writes the model documents.
#include "app/config.h"
#include "segmentation/event.h"
#include "processing/validation.h"
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
#include <sstream>

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
    "                      feature settings define the features (default: .)\n"
    "  --data DIR          training recordings, one sub-folder per class\n"
    "  --classifier KIND   svm, gmm or both (default: svm); with both the SVM is used\n"
    "  --components K      Gaussians per class (default: chosen from 1..4 by CV)\n"
    "  --folds N           cross-validation folds, split by recording (default: 5)\n"
    "  --augment N         N altered copies of every training recording (gain,\n"
    "                      background noise, time shift), training folds only\n"
    "  --whole-file        a recording without a detected event gives one event\n"
    "                      from its loudest block on\n"
    "  --seed N            random seed (default: 1)\n"
    "  --out FILE          the system parameter document to write\n"
    "  --user-out FILE     also a user parameter document with the classes\n"
    "  --report FILE       the figures as JSON\n"
    "  --help              this text\n"
    "\n"
    "Exit status: 0 success, 1 bad data or arguments, 2 configuration error.\n";

const char* kColors[] = {"#e6194b", "#3cb44b", "#f58231", "#911eb4", "#4363d8", "#42d4f4",
                         "#f032e6", "#9a6324", "#808000", "#000075", "#469990", "#dcbeff"};

struct Options {
  std::string configDir = ".", dataDir, classifier = "svm", out, userOut, report;
  int components = 0, folds = 5, augment = 0;
  bool wholeFile = false;
  uint64_t seed = 1;
};

struct Recording {
  std::string path;
  int label;
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

struct CvResult {
  Evaluation eval;
  std::string setting;
};

std::string evaluationJson(const Evaluation& e, const std::vector<std::string>& names) {
  std::ostringstream o;
  o << "{\"accuracy\":" << jsonNumber(e.accuracy()) << ",\"confusion\":[";
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
  std::cerr << title << ": cross-validated accuracy " << std::fixed << std::setprecision(3) << e.accuracy() << "\n";
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

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "soundclassifier-train: " << a << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
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
    else {
      std::cerr << "soundclassifier-train: unknown argument " << a << "\n" << kUsage;
      return 2;
    }
  }
  if (opt.dataDir.empty() || opt.out.empty() ||
      (opt.classifier != "svm" && opt.classifier != "gmm" && opt.classifier != "both") || opt.folds < 2 ||
      opt.augment < 0 || opt.components < 0 || opt.components > 16) {
    std::cerr << kUsage;
    return 2;
  }
  setDiagnosticStream(&std::cerr);
  // Timed planning could pick other FFT algorithms on another run; estimated
  // plans make the written model reproducible bit for bit.
  setFftwPlannerFlags(FFTW_ESTIMATE);

  return runReportingConfigErrors("soundclassifier-train", [&]() -> int {
    ConfigSet config(opt.configDir);
    checkConfiguration(config, false);
    if (!fs::is_directory(opt.dataDir)) {
      std::cerr << "soundclassifier-train: " << opt.dataDir << ": not a directory\n";
      return 1;
    }
    const std::vector<std::string> classes = readClasses(opt.dataDir);
    const int numClasses = static_cast<int>(classes.size());
    if (numClasses < 2) {
      std::cerr << "soundclassifier-train: " << opt.dataDir << ": need at least two class folders\n";
      return 1;
    }
    std::vector<Recording> recordings;
    for (int c = 0; c < numClasses; ++c) {
      const fs::path dir = fs::path(opt.dataDir) / classes[static_cast<size_t>(c)];
      if (!fs::is_directory(dir)) {
        std::cerr << "soundclassifier-train: " << dir.string() << ": class folder missing\n";
        return 1;
      }
      std::vector<std::string> files;
      for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path().string());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) recordings.push_back({f, c});
    }

    ExampleExtractor extractor(config.userRoot(), config.systemRoot());
    const int nBlock = cfg::getIntAtLeast(config.systemRoot(), "AudioCapturing", "NBlock", 1);
    const int d = extractor.dimension();
    std::vector<Example> examples;
    std::vector<int> recordingLabels;
    Progress progress("extracting features", static_cast<long>(recordings.size()));
    int unreadable = 0;
    for (size_t r = 0; r < recordings.size(); ++r) {
      progress.update(static_cast<long>(r));
      recordingLabels.push_back(recordings[r].label);
      AudioFile audio;
      std::string error;
      if (!readAudioFile(recordings[r].path, extractor.sampleRate(), audio, error)) {
        std::cerr << "\nsoundclassifier-train: " << recordings[r].path << ": cannot read: " << error << "\n";
        ++unreadable;
        continue;
      }
      const auto found = extractor.extract(audio.samples, opt.wholeFile);
      if (found.empty()) std::cerr << "\nsoundclassifier-train: " << recordings[r].path << ": no event detected\n";
      for (const auto& f : found) examples.push_back({recordings[r].label, static_cast<int>(r), false, f});
      for (int k = 0; k < opt.augment; ++k) {
        const Augmented a = augment(audio.samples, k, nBlock, opt.seed + r);
        for (const auto& f : extractor.extract(a.samples, opt.wholeFile, a.noise, opt.seed * 1000003 + r * 31 + static_cast<uint64_t>(k)))
          examples.push_back({recordings[r].label, static_cast<int>(r), true, f});
      }
    }
    progress.done();
    if (unreadable) return 1;

    std::vector<int> perClass(static_cast<size_t>(numClasses), 0), perClassAug(static_cast<size_t>(numClasses), 0);
    for (const Example& e : examples) ++(e.augmented ? perClassAug : perClass)[static_cast<size_t>(e.label)];
    std::cerr << "examples per class (" << d << " features):\n";
    for (int c = 0; c < numClasses; ++c) {
      std::cerr << "  " << classes[static_cast<size_t>(c)] << ": " << perClass[static_cast<size_t>(c)];
      if (opt.augment) std::cerr << " (+" << perClassAug[static_cast<size_t>(c)] << " augmented)";
      std::cerr << "\n";
      if (!perClass[static_cast<size_t>(c)]) {
        std::cerr << "soundclassifier-train: class " << classes[static_cast<size_t>(c)] << " has no examples\n";
        return 1;
      }
    }

    const std::vector<int> fold = recordingFolds(recordingLabels, opt.folds, opt.seed);
    auto crossValidate = [&](const std::function<std::string(const std::vector<const Example*>&, const Normalization&)>& fit) {
      std::vector<int> truth, predicted;
      for (int f = 0; f < opt.folds; ++f) {
        std::vector<const Example*> train, test;
        for (const Example& e : examples) {
          if (fold[static_cast<size_t>(e.recording)] == f) {
            if (!e.augmented) test.push_back(&e);
          } else {
            train.push_back(&e);
          }
        }
        if (test.empty() || train.empty()) continue;
        const Normalization norm = computeNormalization(train, d);
        const auto labels = classifyWith(fit(train, norm), test);
        for (size_t i = 0; i < test.size(); ++i) {
          truth.push_back(test[i]->label);
          predicted.push_back(labels[i]);
        }
      }
      return evaluate(truth, predicted, numClasses);
    };

    std::vector<const Example*> all;
    for (const Example& e : examples) all.push_back(&e);
    const Normalization norm = computeNormalization(all, d);
    std::string reportJson = "{\"classes\":[";
    for (int c = 0; c < numClasses; ++c)
      reportJson += std::string(c ? "," : "") + "{\"name\":" + jsonString(classes[static_cast<size_t>(c)]) +
                    ",\"examples\":" + std::to_string(perClass[static_cast<size_t>(c)]) +
                    ",\"augmented\":" + std::to_string(perClassAug[static_cast<size_t>(c)]) + "}";
    reportJson += "],\"features\":" + std::to_string(d) + ",\"folds\":" + std::to_string(opt.folds) +
                  ",\"augment\":" + std::to_string(opt.augment);

    std::unique_ptr<LinearModel> svm;
    std::unique_ptr<MixtureModel> gmm;
    if (opt.classifier != "gmm") {
      double bestC = 1, bestAcc = -1;
      Evaluation best;
      for (double C : {0.01, 0.1, 1.0, 10.0, 100.0}) {
        const Evaluation e = crossValidate([&](const std::vector<const Example*>& train, const Normalization& n) {
          const LinearModel m = trainSvm(train, n, numClasses, C);
          return classifierSection(numClasses, n, &m, nullptr, "MLinSVM");
        });
        std::cerr << "  SVM C=" << C << ": accuracy " << e.accuracy() << "\n";
        if (e.accuracy() > bestAcc) {
          bestAcc = e.accuracy();
          bestC = C;
          best = e;
        }
      }
      printEvaluation("linear SVM (C=" + jsonNumber(bestC) + ")", best, classes);
      svm = std::make_unique<LinearModel>(trainSvm(all, norm, numClasses, bestC));
      reportJson += ",\"svm\":{\"C\":" + jsonNumber(bestC) + ",\"cv\":" + evaluationJson(best, classes) + "}";
    }
    if (opt.classifier != "svm") {
      int bestK = 1;
      double bestAcc = -1;
      Evaluation best;
      const int from = opt.components ? opt.components : 1, to = opt.components ? opt.components : 4;
      for (int k = from; k <= to; ++k) {
        const Evaluation e = crossValidate([&](const std::vector<const Example*>& train, const Normalization& n) {
          const MixtureModel m = trainGmm(train, n, numClasses, k, opt.seed);
          return classifierSection(numClasses, n, nullptr, &m, "MGMM");
        });
        std::cerr << "  GMM K=" << k << ": accuracy " << e.accuracy() << "\n";
        if (e.accuracy() > bestAcc) {
          bestAcc = e.accuracy();
          bestK = k;
          best = e;
        }
      }
      printEvaluation("Gaussian mixtures (K=" + std::to_string(bestK) + ")", best, classes);
      gmm = std::make_unique<MixtureModel>(trainGmm(all, norm, numClasses, bestK, opt.seed));
      reportJson += ",\"gmm\":{\"components\":" + std::to_string(bestK) + ",\"cv\":" + evaluationJson(best, classes) + "}";
    }
    reportJson += "}\n";

    // The system document: capture, event and feature sections unchanged.
    XmlNode* sys = config.systemRoot();
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- Written by soundclassifier-train from " +
                      xmlEscape(opt.dataDir) + " -->\n<" + std::string(sys->name()) + ">\n";
    for (const char* section : {"AudioCapturing", "Event", "FeatureExtractor"})
      doc += printElement(cfg::element(sys, section), 2);
    doc += "  <Classifier>" +
           classifierSection(numClasses, norm, svm.get(), gmm.get(), svm ? "MLinSVM" : "MGMM") +
           "</Classifier>\n</" + std::string(sys->name()) + ">\n";
    std::ofstream(opt.out) << doc;
    if (!std::ofstream(opt.out, std::ios::app)) {
      std::cerr << "soundclassifier-train: " << opt.out << ": cannot write\n";
      return 1;
    }
    if (!opt.userOut.empty()) {
      XmlNode* user = config.userRoot();
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
          u += "    <Events Number=\"" + std::to_string(numClasses) + "\">\n";
          for (int c = 0; c < numClasses; ++c)
            u += "      <Event Name=\"" + xmlEscape(classes[static_cast<size_t>(c)]) + "\" ClassId=\"" +
                 std::to_string(c) + "\"><Color Value=\"" + kColors[c % 12] + "\"/></Event>\n";
          u += "    </Events>\n";
        }
        u += "  </GraphicalUserInterface>\n";
      }
      u += "</" + std::string(user->name()) + ">\n";
      std::ofstream(opt.userOut) << u;
    }
    if (!opt.report.empty()) std::ofstream(opt.report) << reportJson;
    std::cerr << "wrote " << opt.out << (opt.userOut.empty() ? "" : " and " + opt.userOut) << "\n";
    return 0;
  });
}
