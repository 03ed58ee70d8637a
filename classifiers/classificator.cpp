#include "classifiers/classificator.h"

#include "classifiers/gmm.h"
#include "classifiers/linsvm.h"

#include <iostream>

namespace classification {

void MClassificator::normalize(const float* f, float* x) const {
  for (int j = 0; j < numFeatures; ++j) x[j] = (f[j] - mu[j]) * invStd[j];
}

int MClassificator::labelOf(const float* df, int n) {
  int label = 0;
  for (int i = 1; i < n; ++i)
    if (df[i] > df[label]) label = i;
  return label;
}

void MClassificator::readNumClasses(XmlNode* classifier) {
  XmlNode* node = cfg::element(classifier, "NumClasses");
  const long n = cfg::integer(node);
  if (n < 0 || n > 100000) cfg::fail(node, "must be between 0 and 100000");
  numClasses = static_cast<int>(n);
}

void MClassificator::readNormalization(XmlNode* classifier) {
  XmlNode* norm = cfg::element(classifier, "Normalization");
  XmlNode* muNode = cfg::element(norm, "mu");
  XmlNode* invNode = cfg::element(norm, "invStd");
  mu = getArrayF(cfg::text(muNode));
  invStd = getArrayF(cfg::text(invNode));
  for (auto [node, list] : {std::pair{muNode, &mu}, std::pair{invNode, &invStd}})
    if (static_cast<long>(list->size()) < numFeatures)
      cfg::fail(node, "holds " + std::to_string(list->size()) + " values, fewer than the model's " +
                          std::to_string(numFeatures) + " features");
}

void MClassificator::writeDiagnostics([[maybe_unused]] const float* df,
                                      [[maybe_unused]] int label,
                                      [[maybe_unused]] bool withValues) const {
#ifdef SC_DIAGNOSTICS
  if (withValues)
    for (int c = 0; c < numClasses && c < 3; ++c) diagnosticStream() << df[c] << std::endl;
  static const char* const names[] = {"Klatschen", "Klopfen", "Husten"};
  if (label >= 0 && label < 3) diagnosticStream() << names[label] << std::endl;
#endif
}

MClassification::MClassification(XmlNode* root) {
  try {
    init(root);
  } catch (...) {
    reset();  // the destructor does not run for a failed constructor
    throw;
  }
  initialized = true;
}

MClassification::~MClassification() { reset(); }

void MClassification::createClassificatorMap() {
  classificatorMap["MLinSVM"] = new MLinSVM();
  classificatorMap["MGMM"] = new MGMM();
}

void MClassification::init(XmlNode* root) {
  configNode = root;
  reset();
  createClassificatorMap();
  initialized = true;
  XmlNode* use = cfg::element(cfg::element(root, "Classifier"), "UseClassifier");
  const std::string type = cfg::attribute(use, "Type");
  auto it = classificatorMap.find(type);
  if (it == classificatorMap.end())
    cfg::fail(use, "unknown \"Type\" \"" + type + "\" (known: MLinSVM, MGMM)");
  activeClassificator = it->second;
  activeName = type;
  activeClassificator->init(configNode);
}

void MClassification::initClassificator(const std::string& name) {
  auto it = classificatorMap.find(name);
  if (it != classificatorMap.end() && it->second && !it->second->isInitialized())
    it->second->init(configNode);
}

void MClassification::processEvent(MEvent* event) {
  currentEvent = event;
  activeClassificator->classify(event);
}

void MClassification::reset() {
  for (auto& [name, c] : classificatorMap) delete c;
  classificatorMap.clear();
  activeClassificator = nullptr;
}

MClassificator* MClassification::get(const std::string& name) const {
  auto it = classificatorMap.find(name);
  return it == classificatorMap.end() ? nullptr : it->second;
}

}  // namespace classification
